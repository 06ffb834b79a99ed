#pragma once

#include <functional>

#include <QDialog>
#include <QFont>
#include <QString>

#include "platform/PlatformTypes.h"

class QLabel;

namespace tv2 {

class CHyperLink;

// The about box (template 100): the product name in the application's bold
// font, the program's version as "%d.%d%d", and links to the product page
// and the support and troubleshooting page. User-interface thread only.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 100;
  static constexpr int kIdProductName = 1033;
  static constexpr int kIdVersion = 1023;
  static constexpr int kIdProductLink = 1017;
  static constexpr int kIdSupportLink = 1019;

  // productFont: the bold font of the product name (font17Bold). openLink
  // takes a clicked link's target; empty: the browser.
  CAboutDlg(const FileVersion& version, const QFont& productFont, QWidget* owner = nullptr,
            std::function<void(const QString&)> openLink = {});

  QLabel* productName() const { return m_productName; }
  QLabel* versionText() const { return m_versionText; }
  CHyperLink* productLink() const { return m_productLink; }
  CHyperLink* supportLink() const { return m_supportLink; }

 private:
  void buildControls(const std::function<void(const QString&)>& openLink);
  void OnInitDialog(const QFont& productFont);

  FileVersion m_version;
  QLabel* m_productName = nullptr;     // owned by the dialog (Qt parent)
  QLabel* m_versionText = nullptr;     // owned by the dialog
  CHyperLink* m_productLink = nullptr;  // owned by the dialog
  CHyperLink* m_supportLink = nullptr;  // owned by the dialog
};

// Runs the about box modally, owned by the main window.
void ShowAboutBox(const FileVersion& version, const QFont& productFont, QWidget* owner);

}  // namespace tv2
