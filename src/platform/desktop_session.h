// What a batch tells the desktop: the engine announces the batch's start, progress and end, and
// a front end turns that into the desktop's services (keeping the computer awake, progress on
// the task-bar entry, a notification at the end). The engine only sees this interface.
#pragma once

#include <string>

namespace vidmora {

class DesktopSession {
 public:
  virtual ~DesktopSession() = default;
  // A batch begins: keep the computer from sleeping, show progress 0.
  virtual void batchStarted() = 0;
  // The batch's fraction done, 0 to 1.
  virtual void batchProgress(double fraction) = 0;
  // The batch is over: give everything back and tell the user once, with the counts and a way
  // to open the destination folder. Nothing happens without a batchStarted before it.
  virtual void batchEnded(int converted, int failed, const std::string& destinationFolder) = 0;
  // Stop All or exit: give everything back without telling the user.
  virtual void released() = 0;
};

// For front ends without a desktop, and for tests of other parts.
class NoDesktopSession final : public DesktopSession {
 public:
  void batchStarted() override {}
  void batchProgress(double) override {}
  void batchEnded(int, int, const std::string&) override {}
  void released() override {}
};

}  // namespace vidmora
