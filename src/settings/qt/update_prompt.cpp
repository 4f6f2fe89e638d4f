#include "settings/qt/update_prompt.h"

#include <QMessageBox>
#include <QString>

#include "platform/texts.h"
#include "platform/version.h"
#include "settings/update_check.h"
#include "windows/help_pages.h"
#include "windows/wait_window.h"

namespace vidmora {

void runStartupUpdateCheck(QWidget* owner, TSettings& settings) {
  runStartupUpdateCheck(owner, settings, texts::VersionUrl, UpdateCheckRequest{}.timeout);
}

void runStartupUpdateCheck(QWidget* owner, TSettings& settings, const std::string& versionUrl,
                           std::chrono::milliseconds timeout) {
  const QString title = QString::fromUtf8(texts::AppTitle);
  // The window stands while the check runs, also when the interval rule skips it.
  showWaitWindow(title, QString::fromUtf8(texts::WaitMessage));

  UpdateCheckRequest request;
  request.versionUrl = versionUrl;
  request.timeout = timeout;
  request.currentVersion = programVersion();
  request.today = todayDayNumber();
  request.askOpenDownloadPage = [owner, &title] {
    // The wait window stays on top; it goes first so the question is not hidden behind it.
    closeWaitWindow();
    return QMessageBox::question(owner, title, QString::fromUtf8(texts::UpdateQuestion),
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
  };
  request.openDownloadPage = [owner] {
    openWebAddress(owner, QString::fromUtf8(texts::DownloadUrl));
  };
  runUpdateCheck(request, settings.LastUpdateCheckDay);
  closeWaitWindow();
}

}  // namespace vidmora
