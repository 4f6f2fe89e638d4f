#include "app/window_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "platform/qt/shell_dialogs.h"
#include "platform/texts.h"
#include "settings/qt/options_dialog.h"
#include "windows/edit_dialog.h"
#include "windows/tip_window.h"

namespace vidmora {

void StandardDialogs::notice(QWidget* owner, const QString& text) {
  QMessageBox::information(owner, QString::fromLatin1(texts::AppTitle), text, QMessageBox::Ok);
}

bool StandardDialogs::question(QWidget* owner, const QString& text) {
  return QMessageBox::question(owner, QString::fromLatin1(texts::AppTitle), text,
                               QMessageBox::Ok | QMessageBox::Cancel,
                               QMessageBox::Ok) == QMessageBox::Ok;
}

bool StandardDialogs::askNonEmptyText(QWidget*, const QString& caption, const QString& prompt,
                                      std::string& text, std::size_t capacity) {
  return vidmora::askNonEmptyText(caption, prompt, 10, text, capacity);
}

bool StandardDialogs::settingsDialog(QWidget* owner, TSettings& settings, const QString& caption) {
  return runOptionsDialog(owner, settings, caption, presets);
}

bool StandardDialogs::choosePresetFile(QWidget* owner, const QString& title, bool save,
                                       std::string& path) {
  const QString filter = QStringLiteral("Presets (*.json);;All files (*)");
  const QString chosen = save ? QFileDialog::getSaveFileName(owner, title, {}, filter)
                              : QFileDialog::getOpenFileName(owner, title, {}, filter);
  if (chosen.isEmpty()) return false;
  path = chosen.toStdString();
  return true;
}

bool StandardDialogs::openFiles(QWidget* owner, const QString& title,
                                const std::string& initialFolder, const std::string& filterText,
                                std::vector<std::string>& paths, std::size_t maxCount) {
  return openFilesDialog(owner, title, initialFolder, filterText, 0, paths, maxCount);
}

bool StandardDialogs::browseFolder(QWidget* owner, const QString& title, std::string& path) {
  return browseForFolder(owner, title, 0, path);
}

bool StandardDialogs::tipOfTheDay(QWidget* owner, bool showAtStartup) {
  return runTipOfTheDay(owner, showAtStartup);
}

void StandardDialogs::openWithDesktop(QWidget* owner, const std::string& path, LaunchTarget kind,
                                      LaunchDone done) {
  const QString target = QString::fromStdString(path);
  launchInBackground([target, kind] { return openWithHandler(target, kind); }, owner,
                     std::move(done));
}

void StandardDialogs::launchPlayer(QWidget* owner, const std::string& playerPath,
                                   const std::string& videoPath, LaunchDone done) {
  launchInBackground([playerPath, videoPath] { return startPlayer(playerPath, videoPath); }, owner,
                     std::move(done));
}

}  // namespace vidmora
