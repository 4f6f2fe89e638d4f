#include "settings/qt/update_prompt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

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
  if (updateCheckDue(request, settings.LastUpdateCheckDay)) {
    // The fetch runs on its own thread; this thread keeps handling events (the wait window
    // stays drawn) until the answer comes back or the deadline has passed.
    struct Exchange {
      QPointer<QEventLoop> loop;
      bool answered = false;
      FetchResult answer;
    };
    auto exchange = std::make_shared<Exchange>();
    QEventLoop loop;
    exchange->loop = &loop;
    startFetch(versionUrl, timeout, [exchange](FetchResult result) {
      // Back to the window's thread; the application outlives the loop.
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [exchange, result = std::move(result)]() mutable {
            exchange->answer = std::move(result);
            exchange->answered = true;
            if (exchange->loop) exchange->loop->quit();
          },
          Qt::QueuedConnection);
    });
    // The fetch keeps its own deadline; this one only guards against a stuck library.
    QTimer::singleShot(timeout + std::chrono::milliseconds(1500), &loop, &QEventLoop::quit);
    if (!exchange->answered) loop.exec(QEventLoop::ExcludeUserInputEvents);
    exchange->loop = nullptr;
    if (exchange->answered)
      finishUpdateCheck(request, exchange->answer, settings.LastUpdateCheckDay);
  }
  closeWaitWindow();
}

}  // namespace vidmora
