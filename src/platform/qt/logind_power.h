// Power-off through systemd-logind.
#pragma once

#include <functional>
#include <memory>

#include "platform/power.h"

class QString;

namespace vidmora {

// Asks systemd-logind on the system bus: PowerOff, and Halt as the plain shutdown.
std::unique_ptr<PowerControl> makeSystemPowerControl();

// The same requests through a given caller, which gets the logind Manager method name and
// returns whether the call was accepted (tests pass a recorder; nothing goes down).
std::unique_ptr<PowerControl> makeLogindPowerControl(std::function<bool(const QString&)> call);

}  // namespace vidmora
