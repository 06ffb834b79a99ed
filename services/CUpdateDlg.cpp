#include "services/CUpdateDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "ui/ApplicationIcon.h"
#include "ui/DialogUnits.h"
#include "services/ServiceAddresses.h"
#include "services/VersionText.h"

namespace tv2 {

namespace {

// Layout of template 314, in dialog units.
constexpr int kWidthDlu = 199;
constexpr int kHeightDlu = 84;

QLabel* addLabel(QWidget* parent, const DialogUnits& scale, int id, const QString& text, QRect dlu) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::number(id));
  label->setGeometry(scale.toPixels(dlu));
  return label;
}

}  // namespace

CUpdateDlg::CUpdateDlg(const VersionNumbers& programVersion, const VersionNumbers& publishedVersion,
                       int32_t& checkUpdates, std::function<void(const QString&)> openPage, QWidget* owner)
    : QDialog(owner),
      m_programVersion(programVersion),
      m_publishedVersion(publishedVersion),
      m_checkUpdates(checkUpdates),
      m_openPage(std::move(openPage)) {
  setWindowTitle(QStringLiteral("Tarvelle2 更新"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  buildControls();
  OnInitDialog();
}

void CUpdateDlg::buildControls() {
  DialogUnits scale(font());
  setFixedSize(scale.toPixelsX(kWidthDlu), scale.toPixelsY(kHeightDlu));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("1037"));
  icon->setGeometry(scale.toPixels(QRect(7, 7, 21, 20)));
  // Icon 128: the program's own, also in the title bar.
  const QIcon appIcon = applicationIcon();
  setWindowIcon(appIcon);
  icon->setPixmap(appIcon.pixmap(qMin(icon->width(), icon->height())));

  addLabel(this, scale, 1032, QStringLiteral("一个新版本的 Tarvelle 2 可用"), {36, 8, 156, 10});
  addLabel(this, scale, 1033, QStringLiteral("当前版本"), {36, 24, 52, 9});
  m_programVersionText = addLabel(this, scale, kIdProgramVersion, QStringLiteral("x.xx.x"), {92, 24, 80, 9});
  addLabel(this, scale, 1035, QStringLiteral("最新版本"), {36, 35, 52, 9});
  m_publishedVersionText = addLabel(this, scale, kIdPublishedVersion, QStringLiteral("x.xx.x"), {92, 35, 80, 9});

  m_checkBox = new QCheckBox(QStringLiteral("启动时检查更新"), this);
  m_checkBox->setObjectName(QString::number(kIdCheckAtStart));
  m_checkBox->setGeometry(scale.toPixels(QRect(36, 49, 150, 10)));

  m_updateButton = new QPushButton(QStringLiteral("更新"), this);
  m_updateButton->setObjectName(QString::number(kIdUpdate));
  m_updateButton->setGeometry(scale.toPixels(QRect(7, 64, 50, 14)));
  m_updateButton->setAutoDefault(false);

  m_closeButton = new QPushButton(QStringLiteral("关闭"), this);
  m_closeButton->setObjectName(QStringLiteral("1"));
  m_closeButton->setGeometry(scale.toPixels(QRect(142, 64, 50, 14)));
  m_closeButton->setDefault(true);

  connect(m_updateButton, &QPushButton::clicked, this, &CUpdateDlg::OnUpdate);
  connect(m_closeButton, &QPushButton::clicked, this, &CUpdateDlg::OnClose);
}

void CUpdateDlg::OnInitDialog() {
  m_programVersionText->setText(updateVersionText(m_programVersion));
  m_publishedVersionText->setText(updateVersionText(m_publishedVersion));
  m_checkBox->setChecked(m_checkUpdates == 1);
}

void CUpdateDlg::OnUpdate() {
  // The user goes to get the new version: the box's state is not stored.
  if (m_openPage) m_openPage(QString::fromLatin1(kVersionHistoryUrl));
  accept();
}

void CUpdateDlg::OnClose() {
  storeCheckBox();
  reject();
}

void CUpdateDlg::closeEvent(QCloseEvent* event) {
  storeCheckBox();
  QDialog::closeEvent(event);
}

void CUpdateDlg::storeCheckBox() { m_checkUpdates = m_checkBox->isChecked() ? 1 : 0; }

}  // namespace tv2
