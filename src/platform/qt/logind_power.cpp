#include "platform/qt/logind_power.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>

namespace vidmora {

namespace {

class LogindPower final : public PowerControl {
 public:
  explicit LogindPower(std::function<bool(const QString&)> call) : call_(std::move(call)) {}
  bool powerOff() override { return call_(QStringLiteral("PowerOff")); }
  // Stops the system without switching the power off.
  bool plainShutdown() override { return call_(QStringLiteral("Halt")); }

 private:
  std::function<bool(const QString&)> call_;
};

// One Manager method with interactive = false: the program is on its way out, so nobody would
// answer an authentication prompt; logind refuses instead when it needs one.
bool callLogind(const QString& method) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return false;
  QDBusMessage message = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), method);
  message << false;
  const QDBusMessage reply = bus.call(message, QDBus::Block, 10000);
  return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace

std::unique_ptr<PowerControl> makeLogindPowerControl(std::function<bool(const QString&)> call) {
  return std::make_unique<LogindPower>(std::move(call));
}

std::unique_ptr<PowerControl> makeSystemPowerControl() {
  return makeLogindPowerControl(callLogind);
}

}  // namespace vidmora
