#pragma once

#include <QFont>
#include <QRect>

namespace tv2 {

// Dialog units to pixels for the dialogs of this folder, from the dialog's
// font: one horizontal unit is a quarter of the font's average character
// width (over "A".."Z" and "a".."z"), one vertical unit an eighth of its
// height. The layouts keep their sizes in dialog units, so they scale with
// the font the way the dialogs were drawn.
class DialogScale {
 public:
  explicit DialogScale(const QFont& font);

  int x(int dluX) const { return (dluX * m_baseX + 2) / 4; }
  int y(int dluY) const { return (dluY * m_baseY + 4) / 8; }
  QRect rect(int left, int top, int width, int height) const { return {x(left), y(top), x(width), y(height)}; }

 private:
  int m_baseX = 1;
  int m_baseY = 1;
};

}  // namespace tv2
