#include "windows/help_pages.h"

#include <QDesktopServices>
#include <QUrl>

namespace vidmora {
// Stand-ins until the help pages exist.
bool openHelpContents(QWidget*) { return false; }
bool openWebAddress(QWidget*, const QString& url) { return QDesktopServices::openUrl(QUrl(url)); }
}  // namespace vidmora
