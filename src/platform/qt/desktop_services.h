// The desktop session of a Linux desktop: a logind inhibitor while a batch runs, its progress
// on the launcher entry and one notification at its end, each through the D-Bus connection
// given (the system bus for logind, the session bus for the rest; tests pass private buses).
#pragma once

#include <QDBusConnection>
#include <memory>

#include "platform/desktop_session.h"
#include "platform/qt/batch_notification.h"
#include "platform/qt/launcher_progress.h"
#include "platform/qt/sleep_inhibitor.h"

namespace vidmora {

class DesktopServices final : public DesktopSession {
 public:
  DesktopServices(QDBusConnection systemBus, QDBusConnection sessionBus,
                  BatchNotification::FolderOpener openFolder);
  ~DesktopServices() override;

  void batchStarted() override;
  void batchProgress(double fraction) override;
  void batchEnded(int converted, int failed, const std::string& destinationFolder) override;
  void released() override;

  const SleepInhibitor& inhibitor() const { return inhibitor_; }

 private:
  SleepInhibitor inhibitor_;
  LauncherProgress launcher_;
  BatchNotification notification_;
  bool running_ = false;
};

// The program's session, on the system and session buses.
std::unique_ptr<DesktopSession> makeDesktopSession(BatchNotification::FolderOpener openFolder);

}  // namespace vidmora
