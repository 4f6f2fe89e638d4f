// The start-up update check: the please-wait window, the check, the question, the download page.
#pragma once

#include <chrono>
#include <string>

#include "settings/settings.h"

class QWidget;

namespace vidmora {
// Runs inside the please-wait window; may change settings.LastUpdateCheckDay.
void runStartupUpdateCheck(QWidget* owner, TSettings& settings);
// The same against another version address with another time-out (tests use loopback).
void runStartupUpdateCheck(QWidget* owner, TSettings& settings, const std::string& versionUrl,
                           std::chrono::milliseconds timeout);
}  // namespace vidmora
