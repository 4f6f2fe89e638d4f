#include "windows/help_pages.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>
#include <QUrl>

#include "platform/paths.h"
#include "platform/qt/shell_dialogs.h"
#include "platform/texts.h"

namespace vidmora {

namespace {

std::function<bool(const QUrl&)>& urlOpener() {
  static std::function<bool(const QUrl&)> opener;
  return opener;
}

// Opens through xdg-open unless a test replaced the launcher; `hint` gets what to install when
// the desktop's launcher found nothing to open the page with.
bool launch(const QUrl& url, QString& hint) {
  if (urlOpener()) return urlOpener()(url);
  const bool local = url.isLocalFile();
  const LaunchTarget kind = local ? LaunchTarget::HelpPage : LaunchTarget::WebPage;
  const LaunchOutcome outcome = openWithHandler(local ? url.toLocalFile() : url.toString(), kind);
  if (!outcome.ok) hint = launchHint(kind);
  return outcome.ok;
}

void inform(QWidget* owner, const std::string& text, const QString& hint) {
  QString message = QString::fromStdString(text);
  if (!hint.isEmpty()) message += QStringLiteral("\n\n") + hint;
  QMessageBox::information(owner, QString::fromUtf8(texts::AppTitle), message);
}

}  // namespace

void setUrlOpener(std::function<bool(const QUrl&)> opener) {
  urlOpener() = std::move(opener);
}

QString helpContentsPath(const QString& folder) {
  return QDir(folder).filePath(QString::fromUtf8(texts::HelpFolderName) + QLatin1Char('/') +
                               QString::fromUtf8(texts::HelpContentsPage));
}

bool openHelpContents(QWidget* owner) {
  const QString page = helpContentsPath(QString::fromStdString(programFolder()));
  QString hint;
  const bool opened = QFileInfo(page).isFile() && launch(QUrl::fromLocalFile(page), hint);
  if (!opened) inform(owner, texts::fillText(texts::HelpMissing, page.toUtf8().constData()), hint);
  return opened;
}

bool openWebAddress(QWidget* owner, const QString& url) {
  QString hint;
  const bool opened = launch(QUrl(url), hint);
  if (!opened) inform(owner, texts::fillText(texts::BrowserFailed, url.toUtf8().constData()), hint);
  return opened;
}

}  // namespace vidmora
