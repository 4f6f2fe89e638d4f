#include "settings/qt/options_dialog.h"

namespace vidmora {
// Stand-in until the dialog exists: accepts the current settings unchanged.
bool runOptionsDialog(QWidget*, TSettings&, const QString&) { return true; }
}  // namespace vidmora
