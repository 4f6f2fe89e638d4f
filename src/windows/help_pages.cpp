#include "windows/help_pages.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>
#include <QUrl>

#include "platform/paths.h"
#include "platform/texts.h"

namespace vidmora {

namespace {

std::function<bool(const QUrl&)>& urlOpener() {
  static std::function<bool(const QUrl&)> opener;
  return opener;
}

bool launch(const QUrl& url) {
  if (urlOpener()) return urlOpener()(url);
  return QDesktopServices::openUrl(url);
}

void inform(QWidget* owner, const std::string& text) {
  QMessageBox::information(owner, QString::fromUtf8(texts::AppTitle), QString::fromStdString(text));
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
  const bool opened = QFileInfo(page).isFile() && launch(QUrl::fromLocalFile(page));
  if (!opened) inform(owner, texts::fillText(texts::HelpMissing, page.toUtf8().constData()));
  return opened;
}

bool openWebAddress(QWidget* owner, const QString& url) {
  const bool opened = launch(QUrl(url));
  if (!opened) inform(owner, texts::fillText(texts::BrowserFailed, url.toUtf8().constData()));
  return opened;
}

}  // namespace vidmora
