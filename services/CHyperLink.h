#pragma once

#include <functional>
#include <optional>

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QString>

namespace tv2 {

// A static text that is a web link: drawn in blue (0, 0, 238) on a
// transparent background with an underlined copy of its font, showing the
// pointing hand over it; a click opens its target in the browser. The owner
// sets the target after creating the control. User-interface thread only.
class CHyperLink : public QLabel {
  Q_OBJECT

 public:
  static constexpr QRgb kLinkColour = 0xFF0000EE;  // red 0, green 0, blue 238

  // open takes the target on a click; empty: LinkOpener, the browser.
  explicit CHyperLink(const QString& text, QWidget* parent = nullptr,
                      std::function<void(const QString&)> open = {});

  void setTarget(const QString& target) { m_target = target; }
  const QString& target() const { return m_target; }
  QColor textColour() const { return m_textColour; }
  const QFont& underlinedFont() const { return m_underlinedFont; }
  // The hand made for the system's cursor size; none for other sizes.
  const std::optional<QCursor>& linkCursor() const { return m_cursor; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // What the control does once it is a window of its own: clicks reach it,
  // its font becomes the underlined copy, the hand is made, and it paints in
  // the link colour without a background.
  void PreSubclassWindow();
  void OnClicked();

  std::optional<QCursor> m_cursor;
  QFont m_underlinedFont;
  QColor m_textColour{QColor::fromRgb(kLinkColour)};
  QString m_target;
  std::function<void(const QString&)> m_open;
  bool m_pressed = false;
};

}  // namespace tv2
