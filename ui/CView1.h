#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <span>

#include "ui/MessageWindow.h"

namespace tv2 {

class CGraphControl;
class CProcessor_2;
class CTarvelle2App;
class StaticLabel;
class ViewHost;

// The right pane: the displayed processor's panel (name, topology, features,
// clock, TDP, caches), the event-name line and a grid of up to 32 graphs, one
// per logical processor, core or package of the metric the left pane's
// selected slot announces with UM_SHOW_COUNTER.
//
// Threads: user-interface thread only. Counter values are read without a
// lock while samplers write them (relaxed atomics); the graph sources are
// cleared (UM_CLEAR_GRAPHS) before a rebuild frees the counters.
class CView1 : public QWidget, public MessageWindow {
  Q_OBJECT

 public:
  static constexpr int kGraphCount = 32;
  static constexpr int kCacheLines = 5;

  CView1(CTarvelle2App& app, ViewHost& host, QWidget* parent = nullptr);
  ~CView1() override;
  CView1(const CView1&) = delete;
  CView1& operator=(const CView1&) = delete;

  // Fills the processor panel; once only.
  void OnInitialUpdate();
  intptr_t sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // Places the panel and the graph grid for a client area of cx x cy pixels.
  void LayoutPanel(int cx, int cy);

  int32_t graphsInUse() const { return graphCount; }
  CGraphControl* graphAt(int i) const { return graphs[static_cast<size_t>(i)]; }
  StaticLabel* nameLabelAt(int i) const { return nameLabels[static_cast<size_t>(i)]; }
  StaticLabel* valueLabelAt(int i) const { return valueLabels[static_cast<size_t>(i)]; }
  StaticLabel* cacheLabelAt(int j) const { return cacheLabels[static_cast<size_t>(j)]; }
  StaticLabel* processorNameLabel() const { return m_processorName; }
  StaticLabel* topologyLabel() const { return m_topology; }
  StaticLabel* featuresLabel() const { return m_features; }
  StaticLabel* clockLabel() const { return m_clock; }
  StaticLabel* tdpLabel() const { return m_tdp; }
  StaticLabel* eventNameLabel() const { return m_eventName; }
  bool isInitialised() const { return initialised != 0; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  intptr_t OnShowCounter(uintptr_t wParam, intptr_t lParam);
  intptr_t OnClearGraphs(uintptr_t wParam, intptr_t lParam);
  intptr_t OnTimer(uintptr_t wParam, intptr_t lParam);

  // One value column for the rows of a panel column: just right of the
  // widest caption, the same at every width.
  void alignValues(std::span<StaticLabel* const> rows);
  // Every graph without a source, hidden with its labels, labels emptied.
  void hideAllGraphs();
  CProcessor_2* displayedProcessor() const;

  CTarvelle2App& m_app;
  ViewHost& m_host;

  // Children of the view; Qt's parent ownership deletes them.
  std::array<CGraphControl*, kGraphCount> graphs{};
  std::array<StaticLabel*, kGraphCount> nameLabels{};
  std::array<StaticLabel*, kGraphCount> valueLabels{};
  std::array<StaticLabel*, kCacheLines> cacheLabels{};
  int32_t initialised = 0;
  int32_t graphCount = 1;

  StaticLabel* m_processorName = nullptr;  // 1032
  StaticLabel* m_topology = nullptr;       // 1049
  StaticLabel* m_features = nullptr;       // 1050
  StaticLabel* m_clock = nullptr;          // 1055
  StaticLabel* m_tdp = nullptr;            // 1056
  StaticLabel* m_eventName = nullptr;      // 1057
};

}  // namespace tv2
