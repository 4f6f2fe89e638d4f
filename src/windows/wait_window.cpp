#include "windows/wait_window.h"

namespace vidmora {
// Stand-ins until the wait window exists.
void showWaitWindow(const QString&, const QString&) {}
void closeWaitWindow() {}
}  // namespace vidmora
