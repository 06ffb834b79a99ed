// The processor panel as drawn: in each panel column the values start in one
// column, right of every caption, at every width, and no row spills a second
// (wrapped) line towards the row below.

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>

#include <algorithm>
#include <vector>

#include "ViewRig.h"
#include "ui/StaticLabel.h"

namespace tv2::test {
namespace {

bool ink(const QImage& image, int x, int y) { return (image.pixel(x, y) | 0xFF000000u) != 0xFFFFFFFFu; }

// The first column right of the caption with ink in the label's box, as an
// offset from the box's left edge; -1 when the row shows no value.
int valueStart(const QImage& image, const StaticLabel& row) {
  const QString text = row.text();
  const QFontMetrics metrics(row.font());
  const int caption = metrics.horizontalAdvance(text.left(text.indexOf(QLatin1Char('\t'))));
  const QRect box = row.geometry().intersected(image.rect());
  for (int x = box.left() + caption + 1; x <= box.right(); ++x) {
    for (int y = box.top(); y <= box.bottom(); ++y) {
      if (ink(image, x, y)) return x - box.left();
    }
  }
  return -1;
}

// Ink rows of the box below its first line of text.
int inkBelowFirstLine(const QImage& image, const StaticLabel& row) {
  const QRect box = row.geometry().intersected(image.rect());
  int n = 0;
  for (int y = box.top() + QFontMetrics(row.font()).height(); y <= box.bottom(); ++y) {
    for (int x = box.left(); x <= box.right(); ++x) n += ink(image, x, y);
  }
  return n;
}

TEST(ProcessorPanelLayout, ValuesLineUpRightOfEveryCaptionAtEveryWidth) {
  ViewRig rig("intel-snb");
  ASSERT_TRUE(rig.start());
  const CView1& view = *rig.right;
  const std::vector<std::vector<const StaticLabel*>> columns = {
      {view.topologyLabel(), view.featuresLabel(), view.clockLabel(), view.tdpLabel()},
      {view.cacheLabelAt(0), view.cacheLabelAt(1), view.cacheLabelAt(2), view.cacheLabelAt(3)},
  };
  for (int width : {1400, 800, 520, 360, 300, 220}) {
    rig.right->resize(width, 600);
    const QImage image = rig.right->grab().toImage();
    for (size_t c = 0; c < columns.size(); ++c) {
      int widestCaption = 0;
      std::vector<int> starts;
      for (const StaticLabel* row : columns[c]) {
        ASSERT_TRUE(row->text().contains(QLatin1Char('\t'))) << row->text().toStdString();
        const QString caption = row->text().left(row->text().indexOf(QLatin1Char('\t')));
        widestCaption = std::max(widestCaption, QFontMetrics(row->font()).horizontalAdvance(caption));
        EXPECT_EQ(inkBelowFirstLine(image, *row), 0) << "width " << width << ": " << row->text().toStdString();
        starts.push_back(valueStart(image, *row));
      }
      // Wide enough for the values to show: each starts in the same column
      // (give or take the first glyph's bearing), past every caption.
      if (width >= 360) {
        for (size_t r = 0; r < starts.size(); ++r) {
          EXPECT_GT(starts[r], widestCaption) << "width " << width << " column " << c << " row " << r;
          EXPECT_NEAR(starts[r], starts[0], 2) << "width " << width << " column " << c << " row " << r;
        }
      }
      // Narrower: what shows still starts there, nothing earlier.
      for (size_t r = 0; r < starts.size(); ++r) {
        if (starts[r] >= 0) EXPECT_NEAR(starts[r], columns[c][r]->valueColumn(), 2) << "width " << width;
      }
    }
  }
}

}  // namespace
}  // namespace tv2::test
