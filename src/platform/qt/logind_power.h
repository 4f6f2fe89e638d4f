// Power-off through systemd-logind.
#pragma once

#include <memory>

#include "platform/power.h"

namespace vidmora {
std::unique_ptr<PowerControl> makeSystemPowerControl();
}  // namespace vidmora
