#include "frame/AW_CMultiViewSplitter.h"

#include <QResizeEvent>
#include <algorithm>
#include <cmath>

#include "app/CTarvelle2App.h"
#include "frame/SplitterBar.h"

namespace tv2 {

namespace {

// Share of column 0; both columns empty gives no ratio (a 0 / 0 share is
// not a number and would never compare greater than 0 either).
float shareOf(int cx0, int cx1) {
  const int total = cx0 + cx1;
  if (total <= 0) return -1.0f;
  return static_cast<float>(cx0) / static_cast<float>(total);
}

}  // namespace

AW_CMultiViewSplitter::AW_CMultiViewSplitter(QWidget* parent) : QWidget(parent), m_bar(new SplitterBar(this)) {
  connect(m_bar, &SplitterBar::dragged, this, &AW_CMultiViewSplitter::onBarDragged);
  connect(m_bar, &SplitterBar::released, this, &AW_CMultiViewSplitter::onBarReleased);
}

AW_CMultiViewSplitter::~AW_CMultiViewSplitter() = default;

void AW_CMultiViewSplitter::setPane(int column, FramePane pane, int initialWidth) {
  if (column < 0 || column >= kColumnCount) return;
  if (pane.widget != nullptr) {
    pane.widget->setParent(this);
    pane.widget->show();
  }
  m_panes[static_cast<size_t>(column)] = std::move(pane);
  m_ideal[static_cast<size_t>(column)] = std::max(0, initialWidth);
  RecalcLayout();
}

void AW_CMultiViewSplitter::SetColumnInfo(int column, int idealWidth, int minimumWidth) {
  if (column < 0 || column >= kColumnCount) return;
  m_ideal[static_cast<size_t>(column)] = std::max(0, idealWidth);
  m_minimum[static_cast<size_t>(column)] = std::max(0, minimumWidth);
}

int AW_CMultiViewSplitter::availableWidth() const { return std::max(0, width() - kBarWidth); }

void AW_CMultiViewSplitter::RecalcLayout() {
  const int available = availableWidth();
  // The ideal width is kept as it is, so a column squeezed by a small window
  // gets its width back when the window grows again.
  int cx0 = std::min(m_ideal[0], available);
  if (cx0 < m_minimum[0]) cx0 = 0;
  const int cx1 = available - cx0;
  m_current = {cx0, cx1};

  const int h = height();
  if (QWidget* w = m_panes[0].widget) w->setGeometry(0, 0, cx0, h);
  m_bar->setGeometry(cx0, 0, kBarWidth, h);
  if (QWidget* w = m_panes[1].widget) w->setGeometry(cx0 + kBarWidth, 0, cx1, h);
}

void AW_CMultiViewSplitter::RecordRatio() { widthRatio = shareOf(m_current[0], m_current[1]); }

void AW_CMultiViewSplitter::KeepRatioOnResize(uint32_t settingsFlags, int newTotalWidth) {
  const bool keep = (settingsFlags & kFlagFreeRatio) == 0;
  // While keeping is off the ratio follows the user's layout, so keeping can
  // start from it; keeping without a ratio yet starts from the last layout.
  if (!keep || !(widthRatio > 0)) RecordRatio();
  if (!keep || !(widthRatio > 0)) return;
  // The share applies to the width the columns are about to get, so one
  // large step (maximising, restoring from minimised) keeps it as well as
  // many small ones.
  const double ideal = std::trunc(static_cast<double>(std::max(0, newTotalWidth)) * widthRatio);
  SetColumnInfo(0, static_cast<int>(ideal), 0);
}

void AW_CMultiViewSplitter::SwapViews(uint32_t& settingsFlags) {
  const int cx1 = m_current[1];
  std::swap(m_panes[0], m_panes[1]);
  // Each view keeps the width it had: the view now in column 0 had cx1.
  SetColumnInfo(0, cx1, 0);
  if (widthRatio > 0) widthRatio = 1.0f - widthRatio;
  settingsFlags ^= kFlagSwapped;
  RecalcLayout();
}

void AW_CMultiViewSplitter::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  RecalcLayout();
}

void AW_CMultiViewSplitter::onBarDragged(int x) {
  SetColumnInfo(0, std::clamp(x, 0, availableWidth()), m_minimum[0]);
  RecalcLayout();
}

void AW_CMultiViewSplitter::onBarReleased(int x) {
  onBarDragged(x);
  RecordRatio();
}

}  // namespace tv2
