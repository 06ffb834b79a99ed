// The update dialog on its own: its texts and the rules for the check box
// on each way out.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "services/CUpdateDlg.h"
#include "services/ServiceAddresses.h"
#include "ui/ApplicationIcon.h"

namespace tv2 {
namespace {

class UpdateDialog : public ::testing::Test {
 protected:
  std::unique_ptr<CUpdateDlg> make(int32_t checkUpdates) {
    m_checkUpdates = checkUpdates;
    auto dialog = std::make_unique<CUpdateDlg>(VersionNumbers{2, 0, 4, 0}, VersionNumbers{2, 1, 12, 3},
                                               m_checkUpdates, [this](const QString& url) { opened.append(url); });
    dialog->show();
    return dialog;
  }
  int32_t m_checkUpdates = 1;
  QStringList opened;
};

TEST_F(UpdateDialog, UpdateOpensTheHistoryPageAndLeavesTheSettingAlone) {
  auto dialog = make(1);
  // Icon 128 (control 1037): the program's own, also in the title bar.
  const auto* icon = dialog->findChild<QLabel*>(QStringLiteral("1037"));
  ASSERT_NE(icon, nullptr);
  ASSERT_FALSE(icon->pixmap().isNull());
  EXPECT_EQ(icon->pixmap().toImage(), applicationIcon().pixmap(icon->pixmap().width()).toImage());
  EXPECT_EQ(dialog->windowIcon().pixmap(16).toImage(), applicationIcon().pixmap(16).toImage());
  EXPECT_EQ(dialog->publishedVersionLabel()->text(), QStringLiteral("2.112.3"));
  EXPECT_TRUE(dialog->checkBox()->isChecked());
  dialog->checkBox()->setChecked(false);
  dialog->updateButton()->click();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(opened, QStringList{QString::fromLatin1(kVersionHistoryUrl)});
  EXPECT_EQ(m_checkUpdates, 1);
}

TEST_F(UpdateDialog, CloseButtonAndCloseBoxStoreTheSetting) {
  auto dialog = make(1);
  dialog->checkBox()->setChecked(false);
  dialog->closeButton()->click();
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(m_checkUpdates, 0);
  EXPECT_TRUE(opened.isEmpty());

  auto second = make(0);
  EXPECT_FALSE(second->checkBox()->isChecked());
  second->checkBox()->setChecked(true);
  second->close();  // the window's close box
  EXPECT_EQ(second->result(), QDialog::Rejected);
  EXPECT_EQ(m_checkUpdates, 1);
}

TEST_F(UpdateDialog, EscapeStoresNothingAndEnterIsTheCloseButton) {
  auto dialog = make(1);
  dialog->checkBox()->setChecked(false);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dialog.get(), &escape);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(m_checkUpdates, 1);

  auto second = make(1);
  second->checkBox()->setChecked(false);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(second.get(), &enter);
  EXPECT_EQ(second->result(), QDialog::Rejected);
  EXPECT_EQ(m_checkUpdates, 0);
  EXPECT_TRUE(opened.isEmpty());
}

}  // namespace
}  // namespace tv2
