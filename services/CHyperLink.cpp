#include "services/CHyperLink.h"

#include <QMouseEvent>

#include "services/LinkCursor.h"
#include "services/LinkOpener.h"

namespace tv2 {

CHyperLink::CHyperLink(const QString& text, QWidget* parent, std::function<void(const QString&)> open)
    : QLabel(text, parent), m_open(std::move(open)) {
  PreSubclassWindow();
}

void CHyperLink::PreSubclassWindow() {
  // The whole control takes the mouse, and its text is never read as markup.
  setTextFormat(Qt::PlainText);
  setTextInteractionFlags(Qt::NoTextInteraction);
  setAttribute(Qt::WA_TransparentForMouseEvents, false);

  m_underlinedFont = font();
  m_underlinedFont.setUnderline(true);
  setFont(m_underlinedFont);

  if (!m_cursor) m_cursor = LinkCursor::create(LinkCursor::systemCursorSize());
  if (m_cursor) setCursor(*m_cursor);

  setAutoFillBackground(false);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, m_textColour);
  setPalette(colours);
}

void CHyperLink::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QLabel::mousePressEvent(event);
    return;
  }
  m_pressed = true;
  event->accept();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QLabel::mouseReleaseEvent(event);
    return;
  }
  bool click = m_pressed && rect().contains(event->position().toPoint());
  m_pressed = false;
  event->accept();
  if (click) OnClicked();
}

void CHyperLink::OnClicked() {
  if (m_open) {
    m_open(m_target);
    return;
  }
  LinkOpener().open(m_target);
}

}  // namespace tv2
