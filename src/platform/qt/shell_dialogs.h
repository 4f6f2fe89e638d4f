// The desktop's standard dialogs and "open with the default program", for the window side.
#pragma once

#include <QString>
#include <QStringList>
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

// Opens a file or folder with the desktop's default program; true when that could be started.
bool shellOpen(QWidget* owner, const std::string& path);
// Shows a folder in the file manager; the outcome is not reported.
bool shellExplore(QWidget* owner, const std::string& path);

}  // namespace vidmora
