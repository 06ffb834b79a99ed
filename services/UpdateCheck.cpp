#include "services/UpdateCheck.h"

#include <QDesktopServices>
#include <QUrl>

#include "app/CTarvelle2App.h"
#include "services/CUpdateDlg.h"
#include "services/ServiceAddresses.h"
#include "services/VersionFetch.h"
#include "services/VersionFile.h"

namespace tv2 {

namespace {

void showMessageBox(const UpdateCheckOptions& options, const QString& text, const QString& caption,
                    QMessageBox::Icon icon) {
  if (options.messageBox) {
    options.messageBox(text, caption, icon);
    return;
  }
  QMessageBox box(icon, caption, text, QMessageBox::Ok);
  box.exec();
}

}  // namespace

int CheckForUpdate(CTarvelle2App& app, QWidget* owner, bool interactive, const UpdateCheckOptions& options) {
  QUrl url(options.versionFileUrl.isEmpty() ? QString::fromLatin1(kVersionFileUrl) : options.versionFileUrl);
  int limitMs = options.fetchLimitMs > 0 ? options.fetchLimitMs : VersionFetch::kDefaultLimitMs;
  VersionFetch::Result fetched = VersionFetch::fetch(url, limitMs);
  if (fetched.status == VersionFetch::Status::kConnectFailed) {
    if (interactive) {
      showMessageBox(options, QString::asprintf("服务器连接错误 [%d]", fetched.errorCode),
                     QStringLiteral("Tarvelle 错误"), QMessageBox::Warning);
    }
    return 0;
  }
  if (fetched.status != VersionFetch::Status::kRead) return 0;

  VersionNumbers published{};
  std::string_view text(fetched.bytes.constData(), static_cast<size_t>(fetched.bytes.size()));
  if (scanVersionFile(text, &published) != VersionScanResult::kFound) return 0;

  VersionNumbers program = toVersionNumbers(app.fileVersion);
  if (versionWeight(published) <= versionWeight(program)) {
    if (interactive) {
      showMessageBox(options, QStringLiteral("你正在使用最新版本的Tarvelle."), QStringLiteral("Tarvelle 信息"),
                     QMessageBox::Information);
    }
    return 0;
  }

  auto openPage = options.openPage ? options.openPage
                                   : [](const QString& page) { QDesktopServices::openUrl(QUrl(page)); };
  CUpdateDlg dialog(program, published, app.checkUpdates, openPage, owner);
  int result = options.runDialog ? options.runDialog(dialog) : dialog.exec();
  return result == QDialog::Accepted ? 1 : 0;
}

bool StartupUpdateCheckEndsProgram(CTarvelle2App& app, const UpdateCheckOptions& options) {
  if (app.checkUpdates == 0) return false;
  return CheckForUpdate(app, nullptr, false, options) == 1;
}

}  // namespace tv2
