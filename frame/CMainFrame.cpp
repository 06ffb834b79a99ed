#include "frame/CMainFrame.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <algorithm>
#include <cstdio>

#include "app/CTarvelle2App.h"
#include "app/SettingsFile.h"
#include "frame/AW_CMultiViewSplitter.h"
#include "frame/FileCommands.h"
#include "frame/FrameStatusBar.h"
#include "ui/ApplicationIcon.h"
#include "ui/CLeftView.h"
#include "ui/CView1.h"
#include "ui/MessageDispatch.h"
#include "ui/WindowMessages.h"

namespace tv2 {

namespace {

// Window placement numbers as the settings file keeps them.
constexpr uint32_t kPlacementRestoreToMaximized = 2;
constexpr uint32_t kShowNormal = 1;
constexpr uint32_t kShowMinimized = 2;
constexpr uint32_t kShowMaximized = 3;

// One line the frame writes itself, formatted into a 256-character buffer.
template <typename... Args>
std::string formatLine(const char* format, Args... args) {
  char buffer[256];
  const int length = std::snprintf(buffer, sizeof buffer, format, args...);
  if (length < 0) return {};
  return std::string(buffer, static_cast<size_t>(std::min<int>(length, sizeof buffer - 1)));
}

bool onSomeScreen(const QRect& rect) {
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen->availableGeometry().intersects(rect)) return true;
  }
  return false;
}

}  // namespace

CMainFrame::CMainFrame(CTarvelle2App& app, const SharedDrawingObjects& drawing, Prompts& prompts,
                       PaneFactory factory)
    : QMainWindow(nullptr), m_app(app), m_drawing(drawing), m_prompts(prompts) {
  setWindowTitle(QStringLiteral("Tarvelle2"));
  setWindowIcon(applicationIcon());

  // Window creation: the default size, then the stored placement's rectangle.
  // The stored show state is not restored.
  setMinimumSize(kMinimumTrackSize, kMinimumTrackSize);
  resize(kDefaultWidth, kDefaultHeight);
  int32_t x = 0, y = 0, w = 0, h = 0;
  if (SettingsFile(m_app.SettingsReadPath()).readPlacement(&x, &y, &w, &h)) {
    // A position on no screen (a monitor since removed) would open the
    // window where nobody sees it: the system places it instead.
    if (onSomeScreen(QRect(x, y, w, h))) move(x, y);
    resize(w, h);
  }

  m_menu.build(*menuBar());
  // Every menu item carries its command identifier. The items of the menu
  // resource run their command however they are triggered. The popups the
  // left view adds under "选择(&S)" run theirs through the view, which owns
  // their marks (runCommand); "选择(&S)" itself reports them as well when
  // chosen with the mouse, so listening there would run them twice.
  for (QAction* action : m_menu.actions()) {
    const int32_t id = action->data().toInt();
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
  }
  for (QAction* popup : menuBar()->actions()) {
    if (QMenu* menu = popup->menu()) connect(menu, &QMenu::aboutToShow, this, &CMainFrame::syncCheckMarks);
  }

  m_statusBar = new FrameStatusBar(this);
  setStatusBar(m_statusBar);
  // Why event counters are off, once: the message pane holds it until a menu
  // prompt replaces it.
  if (!m_app.countersNotice.empty()) m_statusBar->showMessage(QString::fromStdString(m_app.countersNotice));

  // F6 and Shift+F6 move to the next and the previous pane: with two panes,
  // both to the other one.
  for (const QKeySequence& key : {QKeySequence(Qt::Key_F6), QKeySequence(Qt::SHIFT | Qt::Key_F6)}) {
    connect(new QShortcut(key, this), &QShortcut::activated, this, &CMainFrame::focusOtherPane);
  }

  createClientArea(std::move(factory));

  m_app.engine().setPaneNotifier([this] { sendToPanes(kMsgTimer, kDisplayTimerId, 0); });
  m_app.engine().setPanePoster([this] { postTimerToPanes(); });
  m_timer.setInterval(kTimerPeriodMs);
  m_timer.setTimerType(Qt::PreciseTimer);
  connect(&m_timer, &QTimer::timeout, this, &CMainFrame::OnTimer);
  // The timer runs exactly while counting runs.
  if (m_app.samplingRuns()) m_timer.start();
  syncCheckMarks();
}

CMainFrame::~CMainFrame() {
  m_timer.stop();
  m_app.engine().setPaneNotifier(nullptr);
  m_app.engine().setPanePoster(nullptr);
  // The views go first, while the menu bar they added popups to still exists;
  // nothing is relayed to a view being destroyed.
  AW_CMultiViewSplitter* splitter = m_splitter;
  m_splitter = nullptr;
  delete splitter;
}

void CMainFrame::createClientArea(PaneFactory factory) {
  m_splitter = new AW_CMultiViewSplitter(this);
  setCentralWidget(m_splitter);
  // Keeping the ratio must see the old column widths before the splitter
  // lays itself out at its new size.
  m_splitter->installEventFilter(this);
  m_fileCommands = std::make_unique<FileCommands>(m_app, *this, *m_splitter, m_prompts, this);

  int32_t column0 = kDefaultColumn0;
  SettingsFile(m_app.SettingsReadPath()).readClientArea(&column0, &m_app.settingsFlags, &m_app.loadedProfile);

  const bool swapped = (m_app.settingsFlags & kFlagSwapped) != 0;
  const PaneKind kinds[] = {swapped ? PaneKind::kRightView : PaneKind::kLeftView,
                            swapped ? PaneKind::kLeftView : PaneKind::kRightView};
  for (int column = 0; column < AW_CMultiViewSplitter::kColumnCount; ++column) {
    const PaneKind kind = kinds[column];
    FramePane pane = factory ? factory(kind, *this, m_splitter) : createDefaultPane(kind, m_splitter);
    m_splitter->setPane(column, std::move(pane), column == 0 ? column0 : kColumn1InitialWidth);
  }
  // Both views exist before either learns what to show: the first update may
  // already send messages that the frame relays to both.
  for (int column = 0; column < AW_CMultiViewSplitter::kColumnCount; ++column) {
    const FramePane& pane = m_splitter->pane(column);
    if (pane.initialUpdate) pane.initialUpdate();
  }
}

FramePane CMainFrame::createDefaultPane(PaneKind kind, QWidget* parent) {
  if (kind == PaneKind::kLeftView) {
    auto* view = new CLeftView(m_app, *this, parent);
    return FramePane{view, view, [view] { view->OnInitialUpdate(); }};
  }
  auto* view = new CView1(m_app, *this, parent);
  return FramePane{view, view, [view] { view->OnInitialUpdate(); }};
}

intptr_t CMainFrame::sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // 0x426 is not handled here: the frame sends it to the panes itself.
  static constexpr MessageHandlerEntry<CMainFrame> kTable[] = {
      {UM_SHOW_COUNTER, &CMainFrame::relay<UM_SHOW_COUNTER>},
      {UM_ASSIGN_GRAPH, &CMainFrame::relay<UM_ASSIGN_GRAPH>},
      {UM_SELECT_CONFIG, &CMainFrame::relay<UM_SELECT_CONFIG>},
      {UM_APPLY_PROFILE, &CMainFrame::relay<UM_APPLY_PROFILE>},
      {UM_CLEAR_GRAPHS, &CMainFrame::relay<UM_CLEAR_GRAPHS>},
      {UM_SAVE_PROFILE, &CMainFrame::relay<UM_SAVE_PROFILE>},
      {UM_LOAD_PROFILE, &CMainFrame::relay<UM_LOAD_PROFILE>},
  };
  return dispatchMessage(*this, kTable, message, wParam, lParam);
}

void CMainFrame::sendToPanes(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (m_splitter == nullptr) return;
  for (int column = 0; column < AW_CMultiViewSplitter::kColumnCount; ++column) {
    if (MessageWindow* pane = m_splitter->pane(column).window) pane->sendMessage(message, wParam, lParam);
  }
}

void CMainFrame::postTimerToPanes() {
  // Queued on this window: a frame destroyed before the event is handled
  // takes the event with it.
  QMetaObject::invokeMethod(
      this, [this] { sendToPanes(kMsgTimer, kDisplayTimerId, 0); }, Qt::QueuedConnection);
}

void CMainFrame::refreshMenuBar() { menuBar()->update(); }

void CMainFrame::focusOtherPane() {
  if (m_splitter == nullptr) return;
  const QWidget* first = m_splitter->pane(0).widget;
  const bool inFirst = first != nullptr && first->isAncestorOf(focusWidget());
  if (QWidget* pane = m_splitter->pane(inFirst ? 1 : 0).widget) pane->setFocus(Qt::ShortcutFocusReason);
}

void CMainFrame::OnTimer() { m_app.OnTimerTick(); }

bool CMainFrame::OnCommand(int32_t id) {
  if (id >= kCmdCounterBase && id <= kCmdCounterLast) {
    sendToPanes(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(id - kCmdCounterBase), -1);
    return true;
  }
  if (id >= kCmdProcessorBase && id <= kCmdProcessorLast) {
    sendToPanes(UM_SELECT_PROCESSOR, static_cast<uintptr_t>(id - kCmdProcessorBase), 0);
    return true;
  }
  if (id >= kCmdConfigBase && id <= kCmdConfigLast) {
    sendToPanes(UM_SELECT_CONFIG, static_cast<uintptr_t>(id - kCmdConfigBase), 1);
    return true;
  }
  switch (id) {
    case kCmdLoadProfile:
      m_fileCommands->loadProfile();
      break;
    case kCmdSaveProfile:
      m_fileCommands->saveProfile();
      break;
    case kCmdSaveReport:
      m_fileCommands->saveReport();
      break;
    case kCmdExit:
      close();
      break;
    case kCmdPlaceholder:
      break;
    case kCmdPause:
      togglePause();
      break;
    case kCmdClear:
      clearHistories();
      break;
    case kCmdSwapViews:
      if (m_splitter != nullptr) m_splitter->SwapViews(m_app.settingsFlags);
      break;
    case kCmdKeepRatio:
      m_app.settingsFlags ^= kFlagFreeRatio;
      break;
    case kCmdStatusBar:
      toggleStatusBar();
      break;
    case kCmdCheckUpdates:
      if (onCheckUpdates) onCheckUpdates();
      break;
    case kCmdAbout:
      if (onAbout) onAbout();
      break;
    default:
      return false;
  }
  syncCheckMarks();
  return true;
}

void CMainFrame::togglePause() {
  if (m_app.samplingRuns()) {
    m_app.PauseSampling();
    m_timer.stop();
    return;
  }
  m_app.ResumeSampling();
  if (!m_closed) m_timer.start();
}

void CMainFrame::clearHistories() {
  CProcessor_2* processor = m_app.SelectedProcessor();
  if (processor == nullptr) return;
  // While paused the engine posts the redraw to the panes once.
  m_app.ClearHistories(*processor);
}

void CMainFrame::toggleStatusBar() { m_statusBar->setVisible(m_statusBar->isHidden()); }

void CMainFrame::syncCheckMarks() {
  if (QAction* pause = m_menu.action(kCmdPause)) pause->setChecked(!m_app.samplingRuns());
  if (QAction* keep = m_menu.action(kCmdKeepRatio)) keep->setChecked((m_app.settingsFlags & kFlagFreeRatio) == 0);
  if (QAction* bar = m_menu.action(kCmdStatusBar)) bar->setChecked(!m_statusBar->isHidden());
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_splitter && m_splitter != nullptr && event->type() == QEvent::Resize) {
    const auto* resize = static_cast<QResizeEvent*>(event);
    // Only a change of width moves the columns; a change of height alone
    // (the status bar shown or hidden) leaves them as they are. The first
    // size the splitter gets is no change: the widths before it were never
    // shown and would make a meaningless ratio.
    if (resize->oldSize().isValid() && resize->size().width() != resize->oldSize().width()) {
      m_splitter->KeepRatioOnResize(m_app.settingsFlags,
                                    resize->size().width() - AW_CMultiViewSplitter::kBarWidth);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

std::string CMainFrame::placementLine() const {
  const Qt::WindowStates state = windowState();
  uint32_t flags = 0;
  uint32_t show = kShowNormal;
  if (state & Qt::WindowMinimized) {
    show = kShowMinimized;
    if (state & Qt::WindowMaximized) flags = kPlacementRestoreToMaximized;
  } else if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
    show = kShowMaximized;
  }
  // The rectangle of the normal (restored) window: its outer top-left, as
  // move() takes it, and its size, as resize() takes it.
  QRect normal = geometry();
  QPoint topLeft = pos();
  if ((state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) && normalGeometry().isValid()) {
    normal = normalGeometry();
    topLeft = normal.topLeft() - (geometry().topLeft() - pos());
  }
  const int left = topLeft.x();
  const int top = topLeft.y();
  return formatLine("MAINWINDOW=%u %u %d %d %d %d\n", flags, show, left, left + normal.width(), top,
                    top + normal.height());
}

std::string CMainFrame::settingsText() {
  std::string text = "[Tarvelle2]\n";
  text += placementLine();
  text += formatLine("COL0=%d\n", m_splitter != nullptr ? m_splitter->columnWidth(0) : kDefaultColumn0);
  text += formatLine("FLAGS=%u\n", m_app.settingsFlags);
  text += m_fileCommands->collectProfileLines();
  text += formatLine("UPDATES=%d\n", m_app.checkUpdates != 0 ? 1 : 0);
  return text;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  event->accept();
  // A second close (a second signal, Exit while closing) writes nothing more.
  if (m_closed) return;
  m_closed = true;
  m_timer.stop();
  // A file that cannot be written is skipped silently; the window still closes.
  SettingsFile(m_app.SettingsPath()).write(settingsText());
  if (onClosed) onClosed();
}

}  // namespace tv2
