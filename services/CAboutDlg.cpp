#include "services/CAboutDlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "services/CHyperLink.h"
#include "ui/ApplicationIcon.h"
#include "ui/DialogUnits.h"
#include "services/ServiceAddresses.h"
#include "services/VersionText.h"

namespace tv2 {

namespace {

// Layout of template 100, in dialog units.
constexpr int kWidthDlu = 163;
constexpr int kHeightDlu = 137;

QLabel* addLabel(QWidget* parent, const DialogUnits& scale, int id, const QString& text, QRect dlu,
                 Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* label = new QLabel(text, parent);
  if (id != 0) label->setObjectName(QString::number(id));
  label->setAlignment(alignment);
  label->setGeometry(scale.toPixels(dlu));
  return label;
}

}  // namespace

CAboutDlg::CAboutDlg(const FileVersion& version, const QFont& productFont, QWidget* owner,
                     std::function<void(const QString&)> openLink)
    : QDialog(owner), m_version(version) {
  setWindowTitle(QStringLiteral("关于 Norvane Tarvelle2"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  buildControls(openLink);
  OnInitDialog(productFont);
}

void CAboutDlg::buildControls(const std::function<void(const QString&)>& openLink) {
  DialogUnits scale(font());
  setFixedSize(scale.toPixelsX(kWidthDlu), scale.toPixelsY(kHeightDlu));

  auto* frame = new QGroupBox(this);
  frame->setGeometry(scale.toPixels(QRect(7, 4, 149, 86)));

  auto* icon = new QLabel(this);
  icon->setGeometry(scale.toPixels(QRect(16, 14, 21, 20)));
  // Icon 128: the program's own, also in the title bar.
  const QIcon appIcon = applicationIcon();
  setWindowIcon(appIcon);
  icon->setPixmap(appIcon.pixmap(qMin(icon->width(), icon->height())));

  m_productName = addLabel(this, scale, kIdProductName, QStringLiteral("Tarvelle 2"), {44, 16, 104, 14});
  addLabel(this, scale, 1022, QStringLiteral("版本:"), {14, 42, 40, 9}, Qt::AlignRight | Qt::AlignVCenter);
  m_versionText = addLabel(this, scale, kIdVersion, QString(), {58, 42, 90, 9});
  addLabel(this, scale, 1016, QStringLiteral("网站:"), {14, 56, 40, 9}, Qt::AlignRight | Qt::AlignVCenter);

  m_productLink = new CHyperLink(QStringLiteral("产品官网"), this, openLink);
  m_productLink->setObjectName(QString::number(kIdProductLink));
  m_productLink->setGeometry(scale.toPixels(QRect(58, 56, 90, 9)));
  m_supportLink = new CHyperLink(QStringLiteral("技术支持与故障排除"), this, openLink);
  m_supportLink->setObjectName(QString::number(kIdSupportLink));
  m_supportLink->setGeometry(scale.toPixels(QRect(58, 70, 90, 9)));

  addLabel(this, scale, 0, QStringLiteral("版权所有 © Norvane。保留所有权利。"), {7, 96, 149, 16},
           Qt::AlignHCenter | Qt::AlignVCenter);

  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setGeometry(scale.toPixels(QRect(56, 116, 50, 14)));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::OnInitDialog(const QFont& productFont) {
  m_productName->setFont(productFont);
  m_productName->update();
  m_versionText->setText(aboutVersionText(toVersionNumbers(m_version)));
  m_productLink->setTarget(QString::fromLatin1(kProductPageUrl));
  m_supportLink->setTarget(QString::fromLatin1(kSupportPageUrl));
}

void ShowAboutBox(const FileVersion& version, const QFont& productFont, QWidget* owner) {
  CAboutDlg dialog(version, productFont, owner);
  dialog.exec();
}

}  // namespace tv2
