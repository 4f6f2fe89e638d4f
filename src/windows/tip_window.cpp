#include "windows/tip_window.h"

namespace vidmora {
// Stand-in until the tip window exists.
bool runTipOfTheDay(QWidget*, bool showAtStartup) { return showAtStartup; }
}  // namespace vidmora
