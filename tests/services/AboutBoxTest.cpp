// The about box and its links: version text, fonts, colours, the hand
// cursor and what a click hands on.

#include <gtest/gtest.h>

#include <QApplication>
#include <QBitmap>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>

#include "services/CAboutDlg.h"
#include "services/CHyperLink.h"
#include "services/LinkCursor.h"
#include "services/ServiceAddresses.h"
#include "services/VersionText.h"
#include "ui/ApplicationIcon.h"

namespace tv2 {
namespace {

void click(QWidget* widget, QPoint at) {
  QPointF local(at);
  QPointF global(widget->mapToGlobal(at));
  QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
}

TEST(AboutBox, VersionTextRunsTheSecondAndThirdNumbersTogether) {
  EXPECT_EQ(aboutVersionText({2, 0, 4, 0}), QStringLiteral("2.04"));
  EXPECT_EQ(aboutVersionText({2, 1, 12, 3}), QStringLiteral("2.112"));
  EXPECT_EQ(aboutVersionText({-1, 2, 3, 4}), QString());
  EXPECT_EQ(updateVersionText({2, 0, 5, 0}), QStringLiteral("2.05.0"));
}

TEST(AboutBox, FillsItsControlsOnOpening) {
  QFont bold = QApplication::font();
  bold.setPixelSize(17);
  bold.setWeight(QFont::DemiBold);
  CAboutDlg dialog(FileVersion{2, 1, 12, 3}, bold, nullptr, [](const QString&) {});
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("关于 Norvane Tarvelle2"));
  EXPECT_EQ(dialog.productName()->text(), QStringLiteral("Tarvelle 2"));
  EXPECT_EQ(dialog.productName()->font().weight(), QFont::DemiBold);
  EXPECT_EQ(dialog.productName()->font().pixelSize(), 17);
  EXPECT_EQ(dialog.versionText()->text(), QStringLiteral("2.112"));
  EXPECT_EQ(dialog.productLink()->text(), QStringLiteral("产品官网"));
  EXPECT_EQ(dialog.productLink()->target(), QString::fromLatin1(kProductPageUrl));
  EXPECT_EQ(dialog.supportLink()->text(), QStringLiteral("技术支持与故障排除"));
  EXPECT_EQ(dialog.supportLink()->target(), QString::fromLatin1(kSupportPageUrl));

  // Icon 128: the program's own, in the box and in its title bar.
  const QLabel* icon = nullptr;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) icon = label;
  }
  ASSERT_NE(icon, nullptr);
  const int side = icon->pixmap().width();
  EXPECT_GE(side, 16);
  EXPECT_EQ(icon->pixmap().toImage(), applicationIcon().pixmap(side).toImage());
  EXPECT_EQ(dialog.windowIcon().pixmap(16).toImage(), applicationIcon().pixmap(16).toImage());

  CAboutDlg unreadable(FileVersion{0xFFFFFFFFu, 0, 0, 0}, bold, nullptr, [](const QString&) {});
  EXPECT_TRUE(unreadable.versionText()->text().isEmpty());
}

TEST(HyperLink, DrawsBlueUnderlinedWithTheHandAndNoBackground) {
  QWidget parent;
  QFont base = QApplication::font();
  base.setPointSize(11);
  parent.setFont(base);
  CHyperLink link(QStringLiteral("产品官网"), &parent, [](const QString&) {});
  EXPECT_EQ(link.textColour(), QColor(0, 0, 238));
  EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 238));
  EXPECT_FALSE(link.autoFillBackground());
  EXPECT_TRUE(link.font().underline());
  EXPECT_EQ(link.font().pointSize(), 11);  // a copy of the control's own font
  ASSERT_TRUE(link.linkCursor().has_value());
  EXPECT_EQ(link.cursor().hotSpot(), QPoint(8, 1));
  EXPECT_TRUE(link.target().isEmpty());
}

TEST(HyperLink, AClickHandsOnTheTargetEvenWhenEmpty) {
  QStringList opened;
  CHyperLink link(QStringLiteral("link"), nullptr, [&](const QString& target) { opened.append(target); });
  link.resize(80, 20);
  click(&link, {5, 5});
  link.setTarget(QStringLiteral("https://example.test/page"));
  click(&link, {5, 5});
  // Released outside the control: no click.
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(200, 5), QPointF(200, 5), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(&link, &press);
  QApplication::sendEvent(&link, &release);
  EXPECT_EQ(opened, (QStringList{QString(), QStringLiteral("https://example.test/page")}));
  EXPECT_TRUE(opened.front().isEmpty());
}

TEST(HyperLink, TheHandComesIn16And32PixelCellsOnly) {
  EXPECT_FALSE(LinkCursor::create(24).has_value());
  EXPECT_FALSE(LinkCursor::create(0).has_value());

  std::optional<QCursor> small = LinkCursor::create(16);
  ASSERT_TRUE(small.has_value());
  EXPECT_EQ(small->hotSpot(), QPoint(4, 0));
  EXPECT_EQ(small->bitmap().size(), QSize(16, 16));

  std::optional<QCursor> large = LinkCursor::create(32);
  ASSERT_TRUE(large.has_value());
  EXPECT_EQ(large->hotSpot(), QPoint(8, 1));
  QImage bitmap = large->bitmap().toImage().convertToFormat(QImage::Format_RGB32);
  QImage mask = large->mask().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(bitmap.size(), QSize(32, 32));
  // Qt's bitmaps: set bits (color1) read black. Fingertip outline black,
  // finger inside white, corner and the cell outside the hand transparent.
  auto set = [](const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 128; };
  EXPECT_TRUE(set(mask, 4, 0) && set(bitmap, 4, 0));
  EXPECT_TRUE(set(mask, 4, 2) && !set(bitmap, 4, 2));
  EXPECT_FALSE(set(mask, 0, 0));
  EXPECT_FALSE(set(mask, 20, 20));
  EXPECT_FALSE(set(mask, 31, 31));
}

}  // namespace
}  // namespace tv2
