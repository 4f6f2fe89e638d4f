// Powering the computer off after a batch. The real implementation asks systemd-logind; tests
// pass a fake, so nothing here ever needs a real machine to go down.
#pragma once

namespace vidmora {

class PowerControl {
 public:
  virtual ~PowerControl() = default;
  virtual bool powerOff() = 0;       // true when the request was accepted
  virtual bool plainShutdown() = 0;  // the fallback: halt / shut down without power-off
};

// At exit: nothing unless a shutdown is pending; else power off, and when that request fails,
// exactly one plain shutdown request.
inline void shutdownAtExit(bool shutdownPending, PowerControl& power) {
  if (!shutdownPending) return;
  if (!power.powerOff()) power.plainShutdown();
}

}  // namespace vidmora
