#include "services/DialogScale.h"

#include <QFontMetrics>

namespace tv2 {

DialogScale::DialogScale(const QFont& font) {
  QFontMetrics metrics(font);
  static const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  // Rounded half up, as the average width has always been taken.
  m_baseX = qMax(1, (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2);
  m_baseY = qMax(1, metrics.height());
}

}  // namespace tv2
