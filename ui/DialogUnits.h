#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace tv2 {

// The one place where dialog-template measures become pixels. Base units come
// from the dialog font the way the Windows dialog manager takes them: the
// horizontal unit is the rounded average width of "A".."Z" "a".."z", the
// vertical unit the font's height (ascent + descent). A horizontal dialog unit
// is a quarter of the base width, a vertical one an eighth of the base height;
// each conversion rounds to the nearest pixel as MulDiv does.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& dialogFont);

  int baseX() const { return m_baseX; }
  int baseY() const { return m_baseY; }

  int toPixelsX(int dlu) const;
  int toPixelsY(int dlu) const;
  QSize toPixels(QSize dlu) const { return {toPixelsX(dlu.width()), toPixelsY(dlu.height())}; }
  QRect toPixels(QRect dlu) const {
    return {toPixelsX(dlu.x()), toPixelsY(dlu.y()), toPixelsX(dlu.width()), toPixelsY(dlu.height())};
  }

 private:
  int m_baseX = 1;
  int m_baseY = 1;
};

}  // namespace tv2
