#include "ui/ApplicationIcon.h"

#include <QByteArray>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <span>

#include "res/ApplicationIconImage.h"

namespace tv2 {

namespace {

// The sizes offered to whoever asks what the icon has (the window manager
// takes every one of them); any other size is drawn as well.
constexpr int kSizes[] = {16, 20, 22, 24, 32, 40, 48, 64, 96, 128, 256};

QByteArray iconSvg() {
  const std::span<const uint8_t> svg = applicationIconSvg();
  return QByteArray::fromRawData(reinterpret_cast<const char*>(svg.data()), static_cast<qsizetype>(svg.size()));
}

// Draws the SVG at the size asked for, each time it is asked: a 128-pixel
// image shrunk to 16 loses the graph line, the SVG drawn at 16 keeps it, and
// nothing stays in memory between the few requests (the window manager's at
// start-up, a dialog's icon when it opens).
class SvgIconEngine : public QIconEngine {
 public:
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
    QSvgRenderer renderer(iconSvg());
    if (!renderer.isValid()) return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    renderer.render(painter, QRectF(rect));
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    if (size.isEmpty()) return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    painter.end();
    return pixmap;
  }

  QSize actualSize(const QSize& size, QIcon::Mode /*mode*/, QIcon::State /*state*/) override { return size; }

  QList<QSize> availableSizes(QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
    QList<QSize> sizes;
    for (int size : kSizes) sizes.append(QSize(size, size));
    return sizes;
  }

  QIconEngine* clone() const override { return new SvgIconEngine; }
  QString key() const override { return QStringLiteral("tarvelle2-svg"); }
};

}  // namespace

QIcon applicationIcon() {
  if (!QSvgRenderer(iconSvg()).isValid()) return QIcon();
  return QIcon(new SvgIconEngine);
}

}  // namespace tv2
