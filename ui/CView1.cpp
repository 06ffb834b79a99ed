#include "ui/CView1.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <string>

#include "app/CTarvelle2App.h"
#include "cpu/CProcessor_2.h"
#include "ui/CGraphControl.h"
#include "ui/DialogUnits.h"
#include "ui/FormControls.h"
#include "ui/MessageDispatch.h"
#include "ui/ProcessorPanelText.h"
#include "ui/SharedDrawingObjects.h"
#include "ui/StaticLabel.h"
#include "ui/ViewHost.h"
#include "ui/WindowMessages.h"

namespace tv2 {
namespace {

// Template 311, in dialog units.
constexpr QSize kTemplateSize{549, 401};
constexpr QSize kGraphSize{31, 15};
constexpr QSize kNameSize{83, 9};
constexpr QSize kValueSize{51, 9};
constexpr QSize kProcessorNameSize{85, 11};
constexpr QSize kPanelLineSize{179, 11};
constexpr QSize kCacheLineSize{141, 11};
constexpr QSize kEventNameSize{85, 11};

constexpr QColor kGraphFill{177, 227, 241};
constexpr QColor kProcessorNameColour{98, 115, 195};
constexpr QColor kEventNameColour{100, 100, 100};
constexpr uint32_t kNoCounter = 0xFFFFFFFFu;

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void setTextColour(StaticLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

}  // namespace

CView1::CView1(CTarvelle2App& app, ViewHost& host, QWidget* parent) : QWidget(parent), m_app(app), m_host(host) {
  // The paint covers the whole client area: nothing is erased first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  setFont(host.drawingObjects().dialogFont);

  const DialogUnits units(host.drawingObjects().dialogFont);
  for (int i = 0; i < kGraphCount; ++i) {
    const size_t s = static_cast<size_t>(i);
    graphs[s] = createGraphControl(this, units, kGraphSize);
    nameLabels[s] = createStaticText(this, units, kNameSize, QStringLiteral("CPU%1").arg(i % 4));
    valueLabels[s] = createStaticText(this, units, kValueSize, QStringLiteral("100%"), true);
  }
  m_processorName = createStaticText(this, units, kProcessorNameSize, QStringLiteral("CPU 名称"));
  m_topology = createStaticText(this, units, kPanelLineSize, QStringLiteral("CPU 拓扑"));
  m_features = createStaticText(this, units, kPanelLineSize, QStringLiteral("CPU 特征"));
  m_clock = createStaticText(this, units, kPanelLineSize, QStringLiteral("CPU 时钟频率"));
  m_tdp = createStaticText(this, units, kPanelLineSize, QStringLiteral("CPU TDP"));
  static const char* const kCacheCaptions[kCacheLines] = {"L1 缓存", "L1 缓存", "L2 缓存", "L3 缓存", "L4 缓存"};
  for (size_t j = 0; j < cacheLabels.size(); ++j) {
    cacheLabels[j] = createStaticText(this, units, kCacheLineSize, QString::fromUtf8(kCacheCaptions[j]));
  }
  m_eventName = createStaticText(this, units, kEventNameSize, QStringLiteral("事件名称"));
  setTextColour(m_processorName, kProcessorNameColour);
  setTextColour(m_eventName, kEventNameColour);

  // The template's own size, laid out until the first size change after the
  // initial update.
  resize(units.toPixels(kTemplateSize));
  LayoutPanel(width(), height());
}

CView1::~CView1() = default;

intptr_t CView1::sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  static constexpr MessageHandlerEntry<CView1> kTable[] = {
      {UM_SHOW_COUNTER, &CView1::OnShowCounter},
      {UM_CLEAR_GRAPHS, &CView1::OnClearGraphs},
      {kMsgTimer, &CView1::OnTimer},
  };
  return dispatchMessage(*this, kTable, message, wParam, lParam);
}

CProcessor_2* CView1::displayedProcessor() const {
  const int32_t index = m_app.selectedProcessor;
  if (index < 0 || index >= m_app.processors.count) return nullptr;
  return m_app.processors.At(index);
}

void CView1::OnInitialUpdate() {
  if (initialised != 0) return;
  for (size_t i = 0; i < graphs.size(); ++i) {
    graphs[i]->fillColour = kGraphFill;
    graphs[i]->hide();
    nameLabels[i]->hide();
    valueLabels[i]->hide();
  }
  const SharedDrawingObjects& drawing = m_host.drawingObjects();
  m_processorName->setFont(drawing.font17);
  m_processorName->update();
  for (StaticLabel* label : {m_processorName, m_topology, m_features, m_clock, m_tdp}) label->clear();
  for (StaticLabel* label : cacheLabels) label->clear();
  m_eventName->setFont(drawing.font17);
  m_eventName->clear();

  // The panel is written once: a later change of processor leaves it as it is.
  if (const CProcessor_2* processor = displayedProcessor()) {
    const ProcessorPanelText text = ProcessorPanelText::format(*processor);
    m_processorName->setText(fromUtf8(text.name));
    m_topology->setText(fromUtf8(text.topology));
    m_features->setText(fromUtf8(text.features));
    m_clock->setText(fromUtf8(text.clock));
    m_tdp->setText(fromUtf8(text.tdp));
    for (size_t j = 0; j < text.caches.size() && j < cacheLabels.size(); ++j) {
      cacheLabels[j]->setText(fromUtf8(text.caches[j]));
    }
  }
  initialised = 1;
  // A view that already has its final size gets no further size change.
  LayoutPanel(width(), height());
}

void CView1::hideAllGraphs() {
  for (size_t i = 0; i < graphs.size(); ++i) {
    graphs[i]->source = nullptr;
    graphs[i]->hide();
    nameLabels[i]->hide();
    valueLabels[i]->hide();
    nameLabels[i]->clear();
    valueLabels[i]->clear();
  }
}

intptr_t CView1::OnShowCounter(uintptr_t wParam, intptr_t /*lParam*/) {
  hideAllGraphs();
  const uint32_t shown = static_cast<uint32_t>(wParam);
  const CProcessor_2* processor = displayedProcessor();
  if (shown != kNoCounter && processor != nullptr) {
    // One graph per logical processor, else per core, else the package's.
    const uint32_t metric = shown & 0xFF;
    CTList<CCounter> found;
    int32_t n = processor->FindCounters(0xFFFF, kLevelThread | metric, found);
    if (n == 0) n = processor->FindCounters(0xFFFF, kLevelCore | metric, found);
    if (n == 0) n = processor->FindCounters(0xFFFF, kLevelPackage | metric, found);
    if (n > 0) {
      graphCount = std::min(n, kGraphCount);
      int32_t j = 0;
      for (CCounter* counter : found) {
        if (j >= graphCount) break;
        const size_t s = static_cast<size_t>(j++);
        graphs[s]->source = counter;
        graphs[s]->show();
        nameLabels[s]->show();
        valueLabels[s]->show();
      }
    }
  }
  LayoutPanel(width(), height());
  return 0;
}

intptr_t CView1::OnClearGraphs(uintptr_t /*wParam*/, intptr_t /*lParam*/) {
  hideAllGraphs();
  return 0;
}

intptr_t CView1::OnTimer(uintptr_t wParam, intptr_t /*lParam*/) {
  if (wParam != kDisplayTimerId || initialised == 0) return 0;
  // Set once, and only when it changes: clearing and setting it again made
  // the line (and the view behind it) repaint on every tick.
  QString eventName;
  if (const CCounter* first = graphs[0]->source) {
    eventName = fromUtf8(ProcessorPanelText::eventName(static_cast<int>(first->identity & 0xFF)));
  }
  if (m_eventName->text() != eventName) m_eventName->setText(eventName);
  for (size_t i = 0; i < static_cast<size_t>(graphCount); ++i) {
    if (const CCounter* counter = graphs[i]->source) {
      // A single graph goes without a name: the event-name line says it.
      if (graphCount > 1) nameLabels[i]->setText(fromUtf8(counter->name));
      valueLabels[i]->setText(fromUtf8(counter->FormatValue()));
    }
  }
  for (size_t i = 0; i < static_cast<size_t>(graphCount); ++i) {
    graphs[i]->AdvanceGrid();
    graphs[i]->refresh();
  }
  return 0;
}

void CView1::LayoutPanel(int cx, int cy) {
  const QSize nameSize = nameLabels[0]->size();
  const QSize valueSize = valueLabels[0]->size();
  const int cacheWidth = cacheLabels[0]->width();
  const int h = m_processorName->height();

  const int n = graphCount;
  const int rows = n > 8 ? n / 4 : n >= 4 ? 2 : 1;
  // n / rows for every count the rows follow exactly; rounding up gives the
  // rest (5, 7, 9, 11 ... graphs) a last column that is only partly filled,
  // so every graph in use gets a place.
  const int cols = (n + rows - 1) / rows;
  const int gw = (cx - 7 * (cols + 1)) / cols;
  const int gh = (cy - 20 * rows - 190) / rows;

  m_processorName->setGeometry(7, 20, cx - 14, h);
  StaticLabel* const leftLines[] = {m_topology, m_features, m_clock, m_tdp};
  for (int k = 1; k <= 4; ++k) leftLines[k - 1]->setGeometry(7, k * h + 25, (cx - 14) / 2, h);
  for (int k = 1; k <= kCacheLines; ++k) {
    cacheLabels[static_cast<size_t>(k - 1)]->setGeometry(cx / 2 + 7, k * h + 25, cacheWidth, h);
  }
  m_eventName->setGeometry(7, 165 - h, cx - 14, h);
  alignValues(leftLines);
  alignValues(cacheLabels);

  int y = 190;
  int s = 0;
  for (int row = 0; row < rows; ++row) {
    int x = 7;
    for (int col = 0; col < cols; ++col) {
      if (s < kGraphCount) {
        const size_t i = static_cast<size_t>(s);
        graphs[i]->setGeometry(x, y, gw, gh);
        nameLabels[i]->setGeometry(QRect(QPoint(x, y - nameSize.height()), nameSize));
        valueLabels[i]->setGeometry(QRect(QPoint(x + gw - 8 - valueSize.width(), y - nameSize.height()), valueSize));
        graphs[i]->update();
      }
      ++s;
      x += gw + 7;
    }
    y += gh + 20;
  }
}

void CView1::alignValues(std::span<StaticLabel* const> rows) {
  int widest = 0;
  for (const StaticLabel* row : rows) widest = std::max(widest, row->captionWidth());
  // Two average characters between the widest caption and the values.
  const int column = widest + 2 * QFontMetrics(font()).averageCharWidth();
  for (StaticLabel* row : rows) row->setValueColumn(column);
}

void CView1::resizeEvent(QResizeEvent* /*event*/) {
  if (initialised != 0) LayoutPanel(width(), height());
}

void CView1::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), m_host.drawingObjects().whiteBrush);
}

}  // namespace tv2
