#pragma once

#include <functional>

#include <QMessageBox>
#include <QString>

class QWidget;

namespace tv2 {

class CTarvelle2App;
class CUpdateDlg;

// What the update check reaches outside itself. The defaults are the real
// ones; tests aim the fetch at a local server and answer the dialogs.
struct UpdateCheckOptions {
  QString versionFileUrl;  // empty: the maker's version file
  int fetchLimitMs = 0;    // 0: VersionFetch::kDefaultLimitMs
  // A message box without owner window. Default: QMessageBox.
  std::function<void(const QString& text, const QString& caption, QMessageBox::Icon icon)> messageBox;
  // Runs the update dialog modally and returns its result. Default: exec().
  std::function<int(CUpdateDlg& dialog)> runDialog;
  // Opens the version-history page. Default: the desktop's handler for it.
  std::function<void(const QString& url)> openPage;
};

// Fetches the version file, finds this product's version in it and, when it
// is newer than app.fileVersion, runs the update dialog (owned by owner when
// given). Returns 1 when the user left the dialog through "更新", else 0.
// Silent (interactive false, at start): never a message box. Interactive
// (the menu command): a connection error and "already the latest version"
// are told. Every other failure returns 0 without a word. The dialog's check
// box edits app.checkUpdates. User-interface thread; blocks it for at most
// the fetch limit plus the dialog.
int CheckForUpdate(CTarvelle2App& app, QWidget* owner, bool interactive, const UpdateCheckOptions& options = {});

// The start-up step: true when the program is to end before its window
// opens (the user chose "更新" in the silent check's dialog).
bool StartupUpdateCheckEndsProgram(CTarvelle2App& app, const UpdateCheckOptions& options = {});

}  // namespace tv2
