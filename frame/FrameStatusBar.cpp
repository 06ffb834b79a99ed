#include "frame/FrameStatusBar.h"

#include <QLabel>

namespace tv2 {

FrameStatusBar::FrameStatusBar(QWidget* parent) : QStatusBar(parent), m_idle(new QLabel(QString::fromUtf8(kIdleText))) {
  // A normal widget: a prompt string (a temporary message) covers it, and it
  // shows again when the prompt is cleared.
  addWidget(m_idle, 1);
  const char* names[] = {"CAP", "NUM", "SCRL"};
  for (size_t i = 0; i < m_indicators.size(); ++i) {
    auto* label = new QLabel(QString::fromLatin1(names[i]));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(label->text()) + 12);
    addPermanentWidget(label);
    m_indicators[i] = label;
    // Qt tells no lock key's state, so the indicators start off.
    setIndicator(static_cast<int>(i), false);
  }
}

QString FrameStatusBar::messageText() const {
  const QString message = currentMessage();
  return message.isEmpty() ? m_idle->text() : message;
}

void FrameStatusBar::setIndicator(int index, bool on) {
  if (index < 0 || index >= static_cast<int>(m_indicators.size())) return;
  m_indicators[static_cast<size_t>(index)]->setEnabled(on);
}

}  // namespace tv2
