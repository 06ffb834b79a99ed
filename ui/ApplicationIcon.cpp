#include "ui/ApplicationIcon.h"

#include <QByteArray>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include "res/ApplicationIconImage.h"

namespace tv2 {

namespace {

// Rendered ahead rather than scaled later: a 128-pixel image shrunk to 16
// loses the graph line, the SVG drawn at 16 keeps it.
constexpr int kSizes[] = {16, 20, 22, 24, 32, 40, 48, 64, 96, 128, 256};

}  // namespace

QIcon applicationIcon() {
  const std::span<const uint8_t> svg = applicationIconSvg();
  QSvgRenderer renderer(QByteArray::fromRawData(reinterpret_cast<const char*>(svg.data()),
                                                static_cast<qsizetype>(svg.size())));
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (int size : kSizes) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace tv2
