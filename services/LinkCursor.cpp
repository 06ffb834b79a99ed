#include "services/LinkCursor.h"

#include <vector>

#include <QBitmap>
#include <QImage>

namespace tv2 {

namespace {

// A hand with the index finger up, the fingertip at (4..5, 0).
constexpr LinkCursor::HandRows kAndMask = {0xF3FF, 0xE1FF, 0xE1FF, 0xE1FF, 0xE07F, 0xE00F, 0x8003, 0x0001,
                                           0x0000, 0x0000, 0x8000, 0x8001, 0xC001, 0xC003, 0xE003, 0xE003};
constexpr LinkCursor::HandRows kXorMask = {0x0000, 0x0C00, 0x0C00, 0x0C00, 0x0C00, 0x0D80, 0x0DB0, 0x6DB4,
                                           0x6FF6, 0x7FFE, 0x3FFE, 0x3FFC, 0x1FFC, 0x1FF8, 0x0FF8, 0x0000};

}  // namespace

const LinkCursor::HandRows& LinkCursor::andMask() { return kAndMask; }
const LinkCursor::HandRows& LinkCursor::xorMask() { return kXorMask; }

std::optional<QCursor> LinkCursor::create(int size) {
  QPoint hotSpot;
  if (size == 32) {
    hotSpot = QPoint(8, 1);
  } else if (size == 16) {
    hotSpot = QPoint(4, 0);
  } else {
    return std::nullopt;
  }
  // Qt's cursor bitmaps: mask 1 and bitmap 1 is black, mask 1 and bitmap 0
  // white, mask 0 the screen. Outside the hand the cell shows the screen.
  QImage bitmap(size, size, QImage::Format_Mono);
  QImage mask(size, size, QImage::Format_Mono);
  // Index 0 is Qt's color0 (white, clear bit), index 1 its color1 (black, set).
  const QList<QRgb> table = {qRgb(255, 255, 255), qRgb(0, 0, 0)};
  bitmap.setColorTable(table);
  mask.setColorTable(table);
  bitmap.fill(0);
  mask.fill(0);
  for (int y = 0; y < kHandSize; ++y) {
    for (int x = 0; x < kHandSize; ++x) {
      bool andBit = (kAndMask[static_cast<size_t>(y)] >> (15 - x)) & 1;
      bool xorBit = (kXorMask[static_cast<size_t>(y)] >> (15 - x)) & 1;
      mask.setPixel(x, y, andBit ? 0 : 1);
      bitmap.setPixel(x, y, andBit == xorBit ? 1 : 0);
    }
  }
  return QCursor(QBitmap::fromImage(bitmap), QBitmap::fromImage(mask), hotSpot.x(), hotSpot.y());
}

}  // namespace tv2
