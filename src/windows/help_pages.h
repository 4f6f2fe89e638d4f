// Help pages and web addresses, opened in the desktop's browser.
#pragma once

#include <functional>

class QString;
class QUrl;
class QWidget;

namespace vidmora {
// Opens the help pages at their contents page; a failure is reported with a message box.
bool openHelpContents(QWidget* owner);
// Opens an address in the web browser; a failure is reported with an information box.
bool openWebAddress(QWidget* owner, const QString& url);

// The contents page of the help pages kept in the help folder beside the program.
QString helpContentsPath(const QString& folder);

// Replaces the desktop's URL launcher (QDesktopServices); an empty function restores it.
// Tests use it so that nothing is ever really opened.
void setUrlOpener(std::function<bool(const QUrl&)> opener);
}  // namespace vidmora
