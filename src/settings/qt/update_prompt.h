// The start-up update check: the please-wait window, the check, the question, the download page.
#pragma once

#include <chrono>
#include <string>

#include "settings/settings.h"

class QWidget;

namespace vidmora {
// Runs inside the please-wait window; may change settings.LastUpdateCheckDay. The network is
// asked on another thread: this thread keeps handling events and returns by the deadline.
void runStartupUpdateCheck(QWidget* owner, TSettings& settings);
// The same against another version address with another time-out (tests use loopback).
void runStartupUpdateCheck(QWidget* owner, TSettings& settings, const std::string& versionUrl,
                           std::chrono::milliseconds timeout);
}  // namespace vidmora
