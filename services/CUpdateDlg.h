#pragma once

#include <cstdint>
#include <functional>

#include <QDialog>
#include <QString>

#include "services/VersionFile.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace tv2 {

// The update dialog (template 314): tells the program's and the published
// version and offers the version-history page. "更新" opens the page and ends
// with Accepted, leaving checkUpdates alone; "关闭" (the default button) and
// the window's close box store the check box into checkUpdates and end with
// Rejected; Escape ends with Rejected and stores nothing.
// User-interface thread only.
class CUpdateDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 314;
  static constexpr int kIdUpdate = 1030;
  static constexpr int kIdCheckAtStart = 1031;
  static constexpr int kIdProgramVersion = 1034;
  static constexpr int kIdPublishedVersion = 1036;

  // openPage opens the version-history page; checkUpdates is the setting the
  // check box edits and must outlive the dialog.
  CUpdateDlg(const VersionNumbers& programVersion, const VersionNumbers& publishedVersion, int32_t& checkUpdates,
             std::function<void(const QString&)> openPage, QWidget* owner = nullptr);

  const VersionNumbers& programVersion() const { return m_programVersion; }
  const VersionNumbers& publishedVersion() const { return m_publishedVersion; }

  QLabel* programVersionLabel() const { return m_programVersionText; }
  QLabel* publishedVersionLabel() const { return m_publishedVersionText; }
  QCheckBox* checkBox() const { return m_checkBox; }
  QPushButton* updateButton() const { return m_updateButton; }
  QPushButton* closeButton() const { return m_closeButton; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void OnInitDialog();
  void OnUpdate();
  void OnClose();
  void storeCheckBox();

  VersionNumbers m_programVersion;
  VersionNumbers m_publishedVersion;
  int32_t& m_checkUpdates;
  std::function<void(const QString&)> m_openPage;
  QLabel* m_programVersionText = nullptr;    // owned by the dialog (Qt parent)
  QLabel* m_publishedVersionText = nullptr;  // owned by the dialog
  QCheckBox* m_checkBox = nullptr;           // owned by the dialog
  QPushButton* m_updateButton = nullptr;     // owned by the dialog
  QPushButton* m_closeButton = nullptr;      // owned by the dialog
};

}  // namespace tv2
