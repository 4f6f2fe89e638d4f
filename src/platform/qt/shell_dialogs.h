// The desktop's standard dialogs and "open with the default program", for the window side.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace vidmora {

// Folder chooser opened on `path`. On OK `path` receives the chosen folder and the result is true;
// on cancel `path` is unchanged.
bool browseForFolder(QWidget* owner, const QString& title, int extraFlags, std::string& path);

// Turns a "label|patterns|label|patterns|" filter text into Qt's name filters, one per pair.
// Every pattern is offered in small and capital letters, since file names on Linux keep their
// case and "*.AVI" alone would hide "clip.avi".
QStringList toQtNameFilters(const std::string& filterText);

// Multi-select open dialog. On OK `paths` receives between 1 and maxCount full paths in the
// dialog's order (extra names are dropped) and the result is true; on cancel it is left empty.
bool openFilesDialog(QWidget* owner, const QString& title, const std::string& initialFolder,
                     const std::string& filterText, int filterIndex,
                     std::vector<std::string>& paths, std::size_t maxCount);

// What a launch was for: it decides the words of the message and what it suggests installing.
enum class LaunchTarget { Folder, Video, HelpPage, WebPage };

struct LaunchOutcome {
  bool ok = false;
  QString problem;  // when not ok: what failed and what to install, for a message box
};

// Opens a local path or a web address (http/https) with the desktop's handler through
// xdg-open, watching the launcher for a moment: xdg-open ends at once with a non-zero status
// when nothing can handle the request, which is then reported. `launcher` replaces xdg-open
// (tests); a launcher that cannot be started is reported too.
LaunchOutcome openWithHandler(const QString& target, LaunchTarget kind,
                              const QString& launcher = QString());
// The player's exit status after it has shown the user why a video cannot be played.
inline constexpr int PlayerToldTheUser = 3;

// Starts Vidmora's player on a video. The player plays with ffplay: when no ffplay is on the
// PATH, or the player ends at once with a failure, the outcome says what to install. A player
// that ends with PlayerToldTheUser gives a failed outcome without a problem text (the user has
// seen it already).
LaunchOutcome startPlayer(const std::string& playerPath, const std::string& videoPath);

// Runs `launch` (openWithHandler or startPlayer, which watch their child for a moment) on a
// thread of the pool, so that the window's thread never waits for a launcher, then hands its
// outcome to `done` on the main thread, unless `context` is gone by then.
void launchInBackground(std::function<LaunchOutcome()> launch, QObject* context,
                        std::function<void(const LaunchOutcome&)> done);

// The message for a failed launch: what could not be opened and what to install; the hint is
// its last part, for adding to a message of its own.
QString launchProblem(LaunchTarget kind, const QString& target);
QString launchHint(LaunchTarget kind);

}  // namespace vidmora
