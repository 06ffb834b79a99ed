#pragma once

#include <QStatusBar>
#include <array>

class QLabel;

namespace tv2 {

// The main window's status bar: the message pane, which shows "就绪" when
// idle and a menu item's prompt string while the item is hovered, then the
// indicators "CAP", "NUM" and "SCRL".
class FrameStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  static constexpr const char* kIdleText = "就绪";

  explicit FrameStatusBar(QWidget* parent);

  // What the message pane shows now: a prompt string, or the idle text.
  QString messageText() const;
  // Lights an indicator (0 CAP, 1 NUM, 2 SCRL): its text is drawn normally
  // when on and greyed when off.
  void setIndicator(int index, bool on);

 private:
  QLabel* m_idle = nullptr;                // owned by the status bar
  std::array<QLabel*, 3> m_indicators{};   // owned by the status bar
};

}  // namespace tv2
