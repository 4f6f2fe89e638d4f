// The update check: at most every few days, fetch the newest version number from the web site
// and, when it is newer than ours, ask whether to open the download page. The question and the
// browser are callbacks, so the check runs without windows (and tests drive it).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vidmora {

// Day number of a local date (day 1..31, month 1..12); all zeros gives 0.
int32_t dayNumber(int day, int month, int year);
// Day number of today's local date.
int32_t todayDayNumber();

// Compares two version texts of up to four decimal numbers split at points (blanks skipped,
// numbers beyond the fourth ignored). <0, 0 or >0 as `a` is older, equal or newer than `b`;
// when the common numbers are equal, the text with more numbers is the newer.
int compareVersions(std::string_view a, std::string_view b);
// Only the digits and points of a server answer, at most 50 characters.
std::string versionCharacters(std::string_view body);

struct FetchResult {
  bool transferred = false;  // a complete HTTP answer arrived
  int statusClass = 4;       // status / 100; 4 when no status was received
  std::string body;          // at most the requested number of bytes
};

// What the header lines of all answers of one fetch (a proxy's, a redirect's, the server's) may
// add up to; more ends the transfer as a failure.
inline constexpr std::size_t MaxHeaderBytes = 64 * 1024;

// GET over HTTP(S) with user agent "Mozilla", no cached copy. `timeout` is a hard deadline for
// the whole request, proxy replies included; `maxBytes` bounds the body kept (a longer body is
// cut there and the transfer ends), MaxHeaderBytes the header lines. An answer that is neither
// success nor redirect (a proxy refusing the tunnel, say) ends the transfer at its status line,
// so its body is never read. Never throws.
FetchResult fetchUrl(const std::string& url, std::chrono::milliseconds timeout,
                     std::size_t maxBytes = 1000);

// Runs fetchUrl on a thread of its own and hands the result to `done` on that thread; returns
// at once. The caller carries the result over to its own thread.
void startFetch(const std::string& url, std::chrono::milliseconds timeout,
                std::function<void(FetchResult)> done, std::size_t maxBytes = 1000);

struct UpdateCheckRequest {
  std::string versionUrl;
  std::string currentVersion;
  int32_t today = 0;     // day number, usually todayDayNumber()
  int intervalDays = 2;  // no check while fewer days than this have passed
  std::chrono::milliseconds timeout{5000};
  std::function<bool()> askOpenDownloadPage;  // true when the user wants the page
  std::function<void()> openDownloadPage;
};

enum class UpdateCheckOutcome {
  Skipped,      // checked recently
  FetchFailed,  // nothing usable came back; the next start checks again
  UpToDate,     // the server's version is not newer
  Declined,     // newer, the user said no
  Opened,       // newer, the download page was asked for
};

// Runs the check and updates `lastUpdateCheckDay` (only when the server answered usably, or
// when the clock went back). Waits for the network: a window uses the two halves below.
UpdateCheckOutcome runUpdateCheck(const UpdateCheckRequest& request, int32_t& lastUpdateCheckDay);

// First half: the interval rule (may move `lastUpdateCheckDay` back when the clock went back).
// True when the server is to be asked.
bool updateCheckDue(const UpdateCheckRequest& request, int32_t& lastUpdateCheckDay);
// Second half, with the server's answer: the question, the download page and the day.
UpdateCheckOutcome finishUpdateCheck(const UpdateCheckRequest& request, const FetchResult& answer,
                                     int32_t& lastUpdateCheckDay);

}  // namespace vidmora
