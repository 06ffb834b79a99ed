#include "ui/SharedDrawingObjects.h"

#include <QFontMetrics>

namespace tv2 {
namespace {

// A face with the CJK glyphs the interface text needs; installed with the
// project's dependencies (fonts-wqy-microhei).
const QString kFamily = QStringLiteral("WenQuanYi Micro Hei");

// "MS Shell Dlg" 8 point at 96 dots per inch: an 11-pixel character height.
constexpr int kDialogPixelSize = 11;

QFont baseFont() {
  QFont font(kFamily);
  // Other CJK faces are better than a Latin-only fallback.
  font.setStyleHint(QFont::SansSerif);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

// A positive height asks for the whole cell (ascent + descent, internal
// leading included): the largest pixel size whose cell fits the height.
QFont fontWithCellHeight(int cellHeight, QFont::Weight weight) {
  QFont font = baseFont();
  font.setWeight(weight);
  for (int pixels = cellHeight; pixels > 1; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).height() <= cellHeight) return font;
  }
  font.setPixelSize(1);
  return font;
}

}  // namespace

SharedDrawingObjects SharedDrawingObjects::create() {
  SharedDrawingObjects objects;
  objects.dialogFont = baseFont();
  objects.dialogFont.setPixelSize(kDialogPixelSize);
  objects.font14 = fontWithCellHeight(14, QFont::Normal);
  objects.font17 = fontWithCellHeight(17, QFont::Normal);
  // Weight 600.
  objects.font17Bold = fontWithCellHeight(17, QFont::DemiBold);
  objects.whiteBrush = QBrush(Qt::white);
  return objects;
}

}  // namespace tv2
