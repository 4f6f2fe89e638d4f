// The environment the real program runs in under test: the test's home and configuration
// folder, no login session, the offscreen platform, an update check that meets a closed
// loopback port and no session bus of the user's.
#pragma once

#include <QProcessEnvironment>
#include <string>

namespace vidmora::test {

inline QProcessEnvironment programEnvironment(const std::string& home, const std::string& config) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", QString::fromStdString(home));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
  // No login session (su, cron, ssh): the instance folder is still the user's own.
  env.remove("XDG_RUNTIME_DIR");
  env.remove("XDG_CACHE_HOME");
  env.insert("QT_QPA_PLATFORM", "offscreen");
  for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"})
    env.insert(name, "http://127.0.0.1:9");
  env.remove("no_proxy");
  env.remove("NO_PROXY");
  env.remove("DBUS_SESSION_BUS_ADDRESS");
  return env;
}

}  // namespace vidmora::test
