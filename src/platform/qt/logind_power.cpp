#include "platform/qt/logind_power.h"

namespace vidmora {
namespace {
// Stand-in until the logind client exists: refuses both requests.
class NoPower final : public PowerControl {
 public:
  bool powerOff() override { return false; }
  bool plainShutdown() override { return false; }
};
}  // namespace
std::unique_ptr<PowerControl> makeSystemPowerControl() { return std::make_unique<NoPower>(); }
}  // namespace vidmora
