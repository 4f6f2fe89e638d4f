// The start-up update check: the please-wait window, the check, the question, the download page.
#pragma once

#include "settings/settings.h"

class QWidget;

namespace vidmora {
// Runs inside the please-wait window; may change settings.LastUpdateCheckDay.
void runStartupUpdateCheck(QWidget* owner, TSettings& settings);
}  // namespace vidmora
