#include "settings/qt/update_prompt.h"

namespace vidmora {
// Stand-in until the update check exists.
void runStartupUpdateCheck(QWidget*, TSettings&) {}
}  // namespace vidmora
