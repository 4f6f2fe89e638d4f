#include "platform/qt/shell_dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QPointer>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>

#include "platform/process.h"

namespace vidmora {

bool browseForFolder(QWidget* owner, const QString& title, int /*extraFlags*/, std::string& path) {
  const QString chosen =
      QFileDialog::getExistingDirectory(owner, title, QString::fromStdString(path));
  if (chosen.isEmpty()) return false;
  path = chosen.toStdString();
  return true;
}

QStringList toQtNameFilters(const std::string& filterText) {
  const QStringList parts = QString::fromStdString(filterText).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString label = parts[i].trimmed();
    // A label may show its patterns already ("Video Files (*.avi;*.mpg)"); Qt reads the
    // patterns from the last parentheses, so the label keeps only its words.
    const qsizetype open = label.lastIndexOf(QStringLiteral(" ("));
    if (open > 0 && label.endsWith(QLatin1Char(')'))) label.truncate(open);
    QStringList patterns;
    for (const QString& raw : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString pattern = raw.trimmed();
      if (pattern.isEmpty()) continue;
      for (const QString& variant : {pattern.toLower(), pattern.toUpper()})
        if (!patterns.contains(variant)) patterns.push_back(variant);
    }
    if (label.isEmpty() || patterns.isEmpty()) continue;
    filters.push_back(label + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                      QLatin1Char(')'));
  }
  return filters;
}

bool openFilesDialog(QWidget* owner, const QString& title, const std::string& initialFolder,
                     const std::string& filterText, int filterIndex,
                     std::vector<std::string>& paths, std::size_t maxCount) {
  paths.clear();
  QFileDialog dialog(owner, title, QString::fromStdString(initialFolder));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  const QStringList filters = toQtNameFilters(filterText);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    // Index 0 or 1 both start on the first pair.
    const qsizetype at = filterIndex > 0 ? filterIndex - 1 : 0;
    dialog.selectNameFilter(filters[at < filters.size() ? at : 0]);
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  for (const QString& file : dialog.selectedFiles()) {
    if (paths.size() >= maxCount) break;
    paths.push_back(file.toStdString());
  }
  return !paths.empty();
}

namespace {

// How long a launcher is watched for an early failure. Desktop launchers hand the request on
// within milliseconds; one still running then has started a handler.
constexpr unsigned LauncherWatchMs = 1500;
constexpr unsigned PlayerWatchMs = 700;

std::vector<std::string> toArgv(std::initializer_list<QString> parts) {
  std::vector<std::string> argv;
  for (const QString& p : parts) argv.push_back(p.toStdString());
  return argv;
}

}  // namespace

QString launchHint(LaunchTarget kind) {
  switch (kind) {
    case LaunchTarget::Folder:
      return QStringLiteral(
          "No file manager is set up to open folders. Install one (for example the Debian "
          "package nautilus, thunar or pcmanfm) and the package xdg-utils.");
    case LaunchTarget::Video:
      return QStringLiteral(
          "No video player is set up for it. Install one (for example the Debian package vlc "
          "or mpv) and the package xdg-utils, or use Vidmora's own player (Options).");
    case LaunchTarget::HelpPage:
    case LaunchTarget::WebPage:
      return QStringLiteral(
          "No web browser is set up. Install one (for example the Debian package firefox-esr "
          "or chromium) and the package xdg-utils.");
  }
  return {};
}

QString launchProblem(LaunchTarget kind, const QString& target) {
  const QString what = kind == LaunchTarget::Folder  ? QStringLiteral("The folder")
                       : kind == LaunchTarget::Video ? QStringLiteral("The video")
                                                     : QStringLiteral("The page");
  return what + QStringLiteral(" could not be opened:\n") + target + QStringLiteral("\n\n") +
         launchHint(kind);
}

LaunchOutcome openWithHandler(const QString& target, LaunchTarget kind, const QString& launcher) {
  LaunchOutcome outcome;
  QString program = launcher;
  if (program.isEmpty()) program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  // A local path is passed as a file URL, so a name with ':' or a leading '-' stays a name.
  const bool web = target.startsWith(QLatin1String("http://")) ||
                   target.startsWith(QLatin1String("https://")) ||
                   target.startsWith(QLatin1String("file:"));
  const QString argument = web ? target : QUrl::fromLocalFile(target).toString(QUrl::FullyEncoded);
  const WatchedLaunch run = program.isEmpty()
                                ? WatchedLaunch{}
                                : launchWatched(toArgv({program, argument}), LauncherWatchMs);
  outcome.ok = run.started && !run.failed;
  if (!outcome.ok) outcome.problem = launchProblem(kind, target);
  return outcome;
}

void launchInBackground(std::function<LaunchOutcome()> launch, QObject* context,
                        std::function<void(const LaunchOutcome&)> done) {
  QPointer<QObject> guard(context);
  QThreadPool::globalInstance()->start([launch = std::move(launch), guard, done = std::move(done)] {
    const LaunchOutcome outcome = launch();
    // The guard is read on the main thread only, where its object is destroyed.
    QMetaObject::invokeMethod(
        qApp,
        [guard, done, outcome] {
          if (guard && done) done(outcome);
        },
        Qt::QueuedConnection);
  });
}

LaunchOutcome startPlayer(const std::string& playerPath, const std::string& videoPath) {
  LaunchOutcome outcome;
  const QString video = QString::fromStdString(videoPath);
  if (QStandardPaths::findExecutable(QStringLiteral("ffplay")).isEmpty()) {
    outcome.problem = QStringLiteral(
                          "The video could not be played:\n%1\n\nVidmora's player needs "
                          "ffplay, which is missing. Install the Debian package ffmpeg.")
                          .arg(video);
    return outcome;
  }
  const WatchedLaunch run = launchWatched({playerPath, videoPath}, PlayerWatchMs);
  outcome.ok = run.started && !run.failed;
  if (run.failed && run.exitCode == PlayerToldTheUser) return outcome;
  if (!run.started) {
    outcome.problem = QStringLiteral(
                          "The video could not be played:\n%1\n\nThe player program %2 is "
                          "missing. Installing Vidmora again brings it back.")
                          .arg(video, QString::fromStdString(playerPath));
  } else if (run.failed) {
    // The player shows why itself when it can; this covers a player without a display.
    outcome.problem = QStringLiteral("The video could not be played:\n%1").arg(video);
  }
  return outcome;
}

}  // namespace vidmora
