// The desktop session of a Linux desktop: a logind inhibitor while a batch runs, its progress
// on the launcher entry and one notification at its end, each through the D-Bus connection
// given (the system bus for logind, the session bus for the rest; tests pass private buses).
#pragma once

#include <QDBusConnection>
#include <memory>
#include <string>

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

// The program's session, on the system and session buses. A bus that does not answer within a
// few seconds (one that takes the connection and stays silent would hang every call) is left
// out: the window runs and converts without those pieces.
std::unique_ptr<DesktopSession> makeDesktopSession(BatchNotification::FolderOpener openFolder);

// Whether the D-Bus daemon at `address` (a D-Bus address; its first "unix:path=" or
// "unix:abstract=" entry is tried) answers the start of a connection within timeoutMs. Other
// kinds of address are taken on trust.
bool busAnswers(const std::string& address, int timeoutMs);
// The addresses the session and system buses would be reached at.
std::string sessionBusAddress();
std::string systemBusAddress();
// The time a bus gets to answer at start-up.
constexpr int BusAnswerMs = 3000;

}  // namespace vidmora
