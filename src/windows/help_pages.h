// Help pages and web addresses, opened in the desktop's browser.
#pragma once

class QString;
class QWidget;

namespace vidmora {
// Opens the help pages at their contents page; a failure is reported with a message box.
bool openHelpContents(QWidget* owner);
// Opens an address in the web browser; a failure is reported with an information box.
bool openWebAddress(QWidget* owner, const QString& url);
}  // namespace vidmora
