#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

#include "frame/FramePane.h"

namespace tv2 {

class SplitterBar;

// The main window's client area: one row, two columns, a view in each and a
// bar between them. Column 0 is laid out at its ideal width (clipped to the
// room there is) and column 1 gets the rest. The user drags the bar, the frame
// swaps the views between the columns and keeps column 0's share of the width
// on resize when asked.
//
// Threads: user-interface thread only.
class AW_CMultiViewSplitter : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 2;
  static constexpr int kBarWidth = 7;

  explicit AW_CMultiViewSplitter(QWidget* parent = nullptr);
  ~AW_CMultiViewSplitter() override;

  // Places a view in a column (the splitter becomes its parent) with the
  // column's initial ideal width.
  void setPane(int column, FramePane pane, int initialWidth);
  // The view in a column; an empty pane before setPane.
  const FramePane& pane(int column) const { return m_panes[static_cast<size_t>(column)]; }

  // Width of a column in the last layout.
  int columnWidth(int column) const { return m_current[static_cast<size_t>(column)]; }
  int idealWidth(int column) const { return m_ideal[static_cast<size_t>(column)]; }
  void SetColumnInfo(int column, int idealWidth, int minimumWidth);
  // Lays out both columns and the bar for the current size.
  void RecalcLayout();

  // widthRatio := column 0 / (column 0 + column 1) of the last layout.
  void RecordRatio();
  // Before the splitter takes a new width: while keeping is off (FREE_RATIO
  // set) the ratio of the last layout is recorded; while it is on, column 0's
  // ideal width becomes the ratio's share of newTotalWidth (both columns,
  // without the bar), the ratio being taken from the last layout first when
  // there is none yet.
  void KeepRatioOnResize(uint32_t settingsFlags, int newTotalWidth);
  // Exchanges the views, each keeping its width; mirrors widthRatio and
  // toggles SWAPPED in settingsFlags.
  void SwapViews(uint32_t& settingsFlags);

  // Share of column 0 in both columns' width; not greater than 0: no ratio yet.
  float widthRatio = -1.0f;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void onBarDragged(int x);
  void onBarReleased(int x);
  int availableWidth() const;

  SplitterBar* m_bar = nullptr;  // child widget, owned by Qt parenting
  std::array<FramePane, kColumnCount> m_panes;
  std::array<int, kColumnCount> m_ideal{0, 0};
  std::array<int, kColumnCount> m_minimum{0, 0};
  std::array<int, kColumnCount> m_current{0, 0};
};

}  // namespace tv2
