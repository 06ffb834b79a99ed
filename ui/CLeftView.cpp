#include "ui/CLeftView.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <string>

#include "app/CTarvelle2App.h"
#include "app/Configurations.h"
#include "app/ProfileLine.h"
#include "app/TextFileReader.h"
#include "cpu/CProcessor_2.h"
#include "ui/CGraphControl.h"
#include "ui/CounterMenu.h"
#include "ui/DialogUnits.h"
#include "ui/FormControls.h"
#include "ui/MenuCommands.h"
#include "ui/MessageDispatch.h"
#include "ui/SharedDrawingObjects.h"
#include "ui/StaticLabel.h"
#include "ui/ViewHost.h"
#include "ui/WindowMessages.h"

namespace tv2 {
namespace {

// Template 310, in dialog units.
constexpr QSize kTemplateSize{219, 150};
constexpr QSize kGraphSize{32, 15};
constexpr QSize kNameSize{98, 9};
constexpr QSize kLastNameSize{98, 10};
constexpr QSize kValueSize{42, 9};

// Processor-summary counters: level 1 in the high byte of the type code.
constexpr uint32_t kLevelMaskHigh = 0xFF00;
// The nine counter-index bits of an identity.
constexpr uint32_t kCounterIndexMask = 0x1FF0000;
constexpr uint32_t kNoCounter = 0xFFFFFFFFu;

constexpr QColor kSlotFill{177, 227, 241};
const QString kCounterPopupText = QStringLiteral("计数器");

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

CLeftView::CLeftView(CTarvelle2App& app, ViewHost& host, QWidget* parent)
    : QWidget(parent), m_app(app), m_host(host) {
  // The view paints its own white around the slots and the graphs cover the
  // rest: nothing is erased first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  setFont(host.drawingObjects().dialogFont);

  const DialogUnits units(host.drawingObjects().dialogFont);
  for (int k = 0; k < kSlotCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    graphs[i] = createGraphControl(this, units, kGraphSize);
    nameLabels[i] = createStaticText(this, units, k == kSlotCount - 1 ? kLastNameSize : kNameSize,
                                     QStringLiteral("文本0"));
    valueLabels[i] = createStaticText(this, units, kValueSize, QStringLiteral("100%"), true);
  }
  // The template's own size; the slots stand where the layout puts them until
  // the first size change after the initial update.
  resize(units.toPixels(kTemplateSize));
  layoutSlots(width(), height());
}

CLeftView::~CLeftView() = default;

intptr_t CLeftView::sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  static constexpr MessageHandlerEntry<CLeftView> kTable[] = {
      {UM_ASSIGN_GRAPH, &CLeftView::OnAssignGraph},   {UM_SELECT_PROCESSOR, &CLeftView::OnSelectProcessor},
      {UM_SELECT_CONFIG, &CLeftView::OnSelectConfig}, {UM_APPLY_PROFILE, &CLeftView::OnApplyProfile},
      {UM_CLEAR_GRAPHS, &CLeftView::OnClearGraphs},   {UM_SAVE_PROFILE, &CLeftView::OnSaveProfile},
      {UM_LOAD_PROFILE, &CLeftView::OnLoadProfile},   {kMsgTimer, &CLeftView::OnTimer},
  };
  return dispatchMessage(*this, kTable, message, wParam, lParam);
}

void CLeftView::OnInitialUpdate() {
  if (initialised != 0) return;
  for (size_t k = 0; k < graphs.size(); ++k) {
    graphs[k]->showGrid = 0;
    graphs[k]->showScale = 0;
    graphs[k]->fillColour = kSlotFill;
    nameLabels[k]->clear();
    valueLabels[k]->clear();
  }

  QMenu* select = m_host.selectMenu();
  const int32_t processorCount = m_app.processors.count;
  if (processorCount > 0) {
    processorMenu = std::make_unique<QMenu>(QStringLiteral("处理器"));
    // The command range holds 256 packages; more would run into the
    // configuration commands.
    for (int32_t i = 0; i < processorCount && kCmdProcessorBase + i <= kCmdProcessorLast; ++i) {
      addCommand(processorMenu.get(), kCmdProcessorBase + i, fromUtf8(m_app.processors.At(i)->name));
    }
    connect(processorMenu.get(), &QMenu::triggered, this, &CLeftView::onRunTimeItem);
    if (select != nullptr) {
      if (QAction* placeholder = findCommand(select, kCmdPlaceholder)) select->removeAction(placeholder);
      select->addMenu(processorMenu.get());
    }
    m_host.refreshMenuBar();
  }
  if (m_app.configCount > 0 && m_app.configs) {
    configMenu = std::make_unique<QMenu>(QStringLiteral("计数器配置"));
    for (int32_t i = 0; i < m_app.configCount && kCmdConfigBase + i <= kCmdConfigLast; ++i) {
      addCommand(configMenu.get(), kCmdConfigBase + i, fromUtf8(m_app.configs[static_cast<size_t>(i)].name));
    }
    connect(configMenu.get(), &QMenu::triggered, this, &CLeftView::onRunTimeItem);
    if (select != nullptr) select->addMenu(configMenu.get());
    m_host.refreshMenuBar();
  }

  graphs[0]->selected = 1;
  CheckProcessorMenu();
  CheckConfigMenu();
  BuildCounterMenu();
  initialised = 1;
  // A view that already has its final size gets no further size change.
  layoutSlots(width(), height());
}

CProcessor_2* CLeftView::displayedProcessor() const {
  const int32_t index = m_app.selectedProcessor;
  if (index < 0 || index >= m_app.processors.count) return nullptr;
  return m_app.processors.At(index);
}

CCountersConfig* CLeftView::currentConfiguration() const {
  const int32_t index = m_app.currentConfig;
  if (!m_app.configs || index < 0 || index >= m_app.configCount) return nullptr;
  return &m_app.configs[static_cast<size_t>(index)];
}

QMenu* CLeftView::currentCounterMenu() const {
  CCountersConfig* config = currentConfiguration();
  if (config == nullptr) return nullptr;
  auto* menu = dynamic_cast<CounterMenu*>(config->menu.get());
  return menu != nullptr ? menu->menu() : nullptr;
}

void CLeftView::SyncSelection() {
  if (currentCounterMenu() == nullptr) return;
  CheckCounterMenu();
  for (CGraphControl* graph : graphs) {
    if (graph->selected == 0) continue;
    m_host.sendToFrame(UM_SHOW_COUNTER, graph->source != nullptr ? graph->source->identity : kNoCounter, 0);
  }
}

void CLeftView::CheckCounterMenu() {
  QMenu* menu = currentCounterMenu();
  if (menu == nullptr) return;
  int32_t shownIndex = -1;
  for (const CGraphControl* graph : graphs) {
    if (graph->selected != 0 && graph->source != nullptr) shownIndex = static_cast<int32_t>(graph->source->index());
  }
  for (QAction* item : menu->actions()) {
    bool isCommand = false;
    const int id = item->data().toInt(&isCommand);
    if (isCommand) item->setChecked(shownIndex >= 0 && id == kCmdCounterBase + shownIndex);
  }
}

void CLeftView::onRunTimeItem(QAction* item) {
  bool isCommand = false;
  const int id = item->data().toInt(&isCommand);
  if (!isCommand) return;
  m_host.runCommand(id);
  CheckProcessorMenu();
  CheckConfigMenu();
  CheckCounterMenu();
}

void CLeftView::CheckProcessorMenu() {
  for (int32_t i = 0; i < m_app.processors.count; ++i) {
    setCommand(processorMenu.get(), kCmdProcessorBase + i, fromUtf8(m_app.processors.At(i)->name),
               i == m_app.selectedProcessor);
  }
}

void CLeftView::CheckConfigMenu() {
  if (!m_app.configs) return;
  for (int32_t i = 0; i < m_app.configCount; ++i) {
    setCommand(configMenu.get(), kCmdConfigBase + i, fromUtf8(m_app.configs[static_cast<size_t>(i)].name),
               i == m_app.currentConfig);
  }
}

void CLeftView::BuildCounterMenu() {
  CCountersConfig* config = currentConfiguration();
  if (config == nullptr) return;
  if (!config->menu) {
    auto counterMenu = std::make_unique<CounterMenu>();
    if (CProcessor_2* processor = displayedProcessor()) {
      CTList<CCounter> found;
      processor->FindCounters(kLevelMaskHigh, kLevelPackage, found);
      for (CCounter* counter : found) {
        addCommand(counterMenu->menu(), kCmdCounterBase + counter->index(), fromUtf8(counter->name));
      }
    }
    config->menu = std::move(counterMenu);
  }
  // Once per popup and view, however often the configuration comes back.
  if (QMenu* popup = currentCounterMenu()) {
    connect(popup, &QMenu::triggered, this, &CLeftView::onRunTimeItem, Qt::UniqueConnection);
  }
  QMenu* menu = currentCounterMenu();
  if (QMenu* select = m_host.selectMenu(); select != nullptr && menu != nullptr) {
    // Taken out, not destroyed: the popup belongs to its configuration.
    if (QAction* previous = findItemByText(select, kCounterPopupText)) select->removeAction(previous);
    menu->setTitle(kCounterPopupText);
    select->addMenu(menu);
  }
  m_host.refreshMenuBar();
}

void CLeftView::clearGraphSlots() { m_host.sendToFrame(UM_CLEAR_GRAPHS, 0, 0); }

void CLeftView::refreshCounterLists() {
  CheckConfigMenu();
  BuildCounterMenu();
}

void CLeftView::assignGraph(int32_t counterIndex, int32_t slot) {
  m_host.sendToFrame(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(static_cast<uint32_t>(counterIndex)), slot);
}

intptr_t CLeftView::OnAssignGraph(uintptr_t wParam, intptr_t lParam) {
  int32_t slot = static_cast<int32_t>(lParam);
  if (slot == -1) {
    for (int k = 0; k < kSlotCount && slot == -1; ++k) {
      if (graphs[static_cast<size_t>(k)]->selected != 0) slot = k;
    }
    if (slot == -1) return 0;
  }
  // A slot number from outside the four would index past the slots.
  if (slot < 0 || slot >= kSlotCount) return 0;
  CProcessor_2* processor = displayedProcessor();
  if (processor == nullptr) return 0;
  const uint32_t index = static_cast<uint32_t>(wParam);
  CTList<CCounter> found;
  if (processor->FindCounters(kCounterIndexMask, index << 16, found) == 0) return 0;
  graphs[static_cast<size_t>(slot)]->source = found.head->object;
  SyncSelection();
  return 0;
}

intptr_t CLeftView::OnSelectProcessor(uintptr_t wParam, intptr_t /*lParam*/) {
  m_app.selectedProcessor = static_cast<int32_t>(wParam);
  if (CProcessor_2* processor = displayedProcessor()) {
    CTList<CCounter> found;
    for (CGraphControl* graph : graphs) {
      if (graph->source == nullptr) continue;
      // The same metric at the same level on the new package; a package
      // without it leaves the slot on the previous package's counter.
      if (processor->FindCounters(0xFFFF, graph->source->typeCode(), found) > 0) {
        graph->source = found.head->object;
      }
    }
  }
  SyncSelection();
  CheckProcessorMenu();
  return 0;
}

intptr_t CLeftView::OnSelectConfig(uintptr_t wParam, intptr_t lParam) {
  SelectConfiguration(m_app, *this, static_cast<int32_t>(wParam), lParam != 0);
  return 0;
}

intptr_t CLeftView::OnApplyProfile(uintptr_t wParam, intptr_t /*lParam*/) {
  const auto* profile = reinterpret_cast<const CProfile*>(wParam);
  if (profile == nullptr) return 0;
  m_host.sendToFrame(UM_CLEAR_GRAPHS, 0, 0);
  if (CProcessor_2* processor = displayedProcessor()) ApplyProfile(*processor, *profile, *this);
  return 0;
}

intptr_t CLeftView::OnClearGraphs(uintptr_t /*wParam*/, intptr_t /*lParam*/) {
  for (size_t k = 0; k < graphs.size(); ++k) {
    graphs[k]->source = nullptr;
    nameLabels[k]->clear();
    valueLabels[k]->clear();
  }
  return 0;
}

intptr_t CLeftView::OnSaveProfile(uintptr_t wParam, intptr_t lParam) {
  auto* profile = reinterpret_cast<CProfile*>(lParam);
  if (profile == nullptr) return 0;
  *profile = CProfile();
  profile->configIndex = m_app.currentConfig;
  for (CGraphControl* graph : graphs) {
    // The metric number: the low byte of the type code.
    if (graph->source != nullptr) profile->AddMetric(static_cast<int32_t>(graph->source->identity & 0xFF));
  }
  auto* out = reinterpret_cast<std::string*>(wParam);
  if (out != nullptr && profile->metricCount >= 1) out->append(FormatProfileLine(*profile));
  return 0;
}

intptr_t CLeftView::OnLoadProfile(uintptr_t wParam, intptr_t lParam) {
  auto* reader = reinterpret_cast<TextFileReader*>(wParam);
  auto* profile = reinterpret_cast<CProfile*>(lParam);
  if (reader != nullptr && profile != nullptr) ReadProfileLine(*reader, profile);
  return 0;
}

intptr_t CLeftView::OnTimer(uintptr_t wParam, intptr_t /*lParam*/) {
  if (wParam != kDisplayTimerId || initialised == 0) return 0;
  for (size_t k = 0; k < graphs.size(); ++k) {
    if (const CCounter* counter = graphs[k]->source) {
      nameLabels[k]->setText(fromUtf8(counter->name));
      valueLabels[k]->setText(fromUtf8(counter->FormatValue()));
    }
    graphs[k]->AdvanceGrid();
    graphs[k]->refresh();
  }
  return 0;
}

void CLeftView::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    OnLButtonDown(point);
  } else if (event->button() == Qt::RightButton) {
    OnRButtonDown(point);
  }
  event->accept();
}

void CLeftView::OnLButtonDown(QPoint point) {
  for (CGraphControl* graph : graphs) graph->selected = 0;
  for (CGraphControl* graph : graphs) {
    if (graph->geometry().contains(point)) {
      graph->selected = 1;
      SyncSelection();
    }
    graph->update();
  }
}

void CLeftView::OnRButtonDown(QPoint point) {
  for (CGraphControl* graph : graphs) {
    if (graph->selected == 0 || !graph->geometry().contains(point)) continue;
    QMenu* menu = currentCounterMenu();
    if (menu == nullptr) continue;
    // Modal. The choice runs through the popup's own triggered signal, as
    // from the menu bar: once, and the marks set afterwards.
    menu->exec(mapToGlobal(point));
  }
}

void CLeftView::resizeEvent(QResizeEvent* /*event*/) {
  if (initialised != 0) layoutSlots(width(), height());
}

void CLeftView::layoutSlots(int cx, int cy) {
  const QSize nameSize = nameLabels[0]->size();
  const QSize valueSize = valueLabels[0]->size();
  const int gh = (cy - 100) / 4;
  for (size_t k = 0; k < graphs.size(); ++k) {
    const int y = 20 + static_cast<int>(k) * (gh + 20);
    graphs[k]->setGeometry(7, y, cx - 14, gh);
    nameLabels[k]->setGeometry(QRect(QPoint(7, y - nameSize.height()), nameSize));
    valueLabels[k]->setGeometry(QRect(QPoint(cx - 7 - valueSize.width(), y - valueSize.height()), valueSize));
    graphs[k]->update();
  }
}

void CLeftView::paintEvent(QPaintEvent* /*event*/) {
  if (initialised == 0) return;
  QPainter painter(this);
  const QBrush& white = m_host.drawingObjects().whiteBrush;
  const QRect client = rect();
  const QRect g = graphs[0]->geometry();
  const int gh = g.height();
  const int gRight = g.x() + g.width();
  const int bottom = client.y() + client.height();
  // Edges as the slots lie: everything but the four graphs, which paint themselves.
  painter.fillRect(QRect(client.x(), client.y(), client.width(), g.y() - client.y()), white);
  for (int band = 0; band < 3; ++band) {
    painter.fillRect(QRect(client.x(), client.y() + gh + 20 + band * (gh + 20), client.width(), 20), white);
  }
  const int belowSlots = client.y() + 4 * (gh + 20);
  painter.fillRect(QRect(client.x(), belowSlots, client.width(), bottom - belowSlots), white);
  painter.fillRect(QRect(client.x(), g.y(), g.x() - client.x(), bottom - g.y()), white);
  painter.fillRect(QRect(gRight, g.y(), client.x() + client.width() - gRight, bottom - g.y()), white);
}

}  // namespace tv2
