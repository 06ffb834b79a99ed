#include "ui/DialogUnits.h"

#include <QFontMetrics>

#include <cstdint>

namespace tv2 {
namespace {

// number * numerator / denominator rounded half away from zero, in 64 bits.
int mulDiv(int number, int numerator, int denominator) {
  const int64_t product = int64_t{number} * numerator;
  const int64_t half = denominator / 2;
  const int64_t rounded = product >= 0 ? (product + half) / denominator : (product - half) / denominator;
  return static_cast<int>(rounded);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& dialogFont) {
  const QFontMetrics metrics(dialogFont);
  const int alphabetWidth = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // (width / 26 + 1) / 2 is the average of 52 letters rounded to the nearest
  // pixel, in integers as the dialog manager computes it.
  const int averageWidth = (alphabetWidth / 26 + 1) / 2;
  const int height = metrics.height();
  // A font without glyphs must not turn every control into zero pixels.
  m_baseX = averageWidth > 0 ? averageWidth : 1;
  m_baseY = height > 0 ? height : 1;
}

int DialogUnits::toPixelsX(int dlu) const { return mulDiv(dlu, m_baseX, 4); }

int DialogUnits::toPixelsY(int dlu) const { return mulDiv(dlu, m_baseY, 8); }

}  // namespace tv2
