#include "settings/update_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>

#include "loopback_server.h"

namespace vidmora {
namespace {

using namespace std::chrono_literals;

TEST(UpdateCheck, DayNumbersAreConsecutiveAcrossMonthsYearsAndLeapDays) {
  EXPECT_EQ(dayNumber(0, 0, 0), 0);
  struct Step {
    int d1, m1, y1, d2, m2, y2;
  };
  const Step steps[] = {
      {31, 1, 2026, 1, 2, 2026},  {28, 2, 2025, 1, 3, 2025}, {28, 2, 2024, 29, 2, 2024},
      {29, 2, 2024, 1, 3, 2024},  {28, 2, 2100, 1, 3, 2100}, {29, 2, 2000, 1, 3, 2000},
      {31, 12, 2026, 1, 1, 2027},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(dayNumber(s.d2, s.m2, s.y2) - dayNumber(s.d1, s.m1, s.y1), 1)
        << s.d1 << "." << s.m1 << "." << s.y1;
  }
  EXPECT_EQ(dayNumber(1, 1, 2027) - dayNumber(1, 1, 2026), 365);
  EXPECT_EQ(dayNumber(1, 1, 2025) - dayNumber(1, 1, 2024), 366);
}

TEST(UpdateCheck, VersionComparison) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"1.2.10", "1.2.9.2", 1},         {"1.2.9.2", "1.2.9.2", 0}, {"1.2.9.2.1", "1.2.9.2", 0},
      {"1.2.9", "1.2.9.2", -1},         {"1.2.9.3", "1.2.9.2", 1}, {"2", "1.9.9.9", 1},
      {" 1 . 3 ", "1.2.9.2", 1},        {"", "1.2.9.2", -1},       {"", "", 0},
      {"99999999999999999999", "1", 1},
  };
  for (const Case& c : cases) {
    const int result = compareVersions(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign) << '"' << c.a << "\" vs \"" << c.b << '"';
  }
  EXPECT_EQ(versionCharacters("v1.2.10\r\n"), "1.2.10");
  EXPECT_EQ(versionCharacters(std::string(60, '7')).size(), 50u);
}

// One check against the loopback server with a given answer.
struct CheckRun {
  UpdateCheckOutcome outcome;
  int asked = 0;
  int opened = 0;
  int32_t lastDay = 0;
  int requests = 0;
  std::string request;
};

constexpr int32_t Today = 740000;

CheckRun checkAgainst(const std::string& response, int32_t lastDay, bool userSaysYes = true,
                      std::chrono::milliseconds timeout = 5s) {
  LoopbackServer server(response);
  EXPECT_TRUE(server.running());
  CheckRun run;
  UpdateCheckRequest request;
  request.versionUrl = server.url();
  request.currentVersion = "1.2.9.2";
  request.today = Today;
  request.timeout = timeout;
  request.askOpenDownloadPage = [&] {
    ++run.asked;
    return userSaysYes;
  };
  request.openDownloadPage = [&] { ++run.opened; };
  run.lastDay = lastDay;
  run.outcome = runUpdateCheck(request, run.lastDay);
  run.requests = server.requests();
  run.request = server.lastRequest();
  return run;
}

TEST(UpdateCheck, AnswersOfTheServer) {
  struct Case {
    const char* name;
    std::string response;
    UpdateCheckOutcome outcome;
    bool asks;
    bool dayStored;
  };
  const Case cases[] = {
      {"newer", LoopbackServer::answer(200, "1.2.10\n"), UpdateCheckOutcome::Opened, true, true},
      {"equal", LoopbackServer::answer(200, "1.2.9.2"), UpdateCheckOutcome::UpToDate, false, true},
      {"five numbers", LoopbackServer::answer(200, "1.2.9.2.1"), UpdateCheckOutcome::UpToDate,
       false, true},
      {"older", LoopbackServer::answer(200, "1.1"), UpdateCheckOutcome::UpToDate, false, true},
      {"no content", LoopbackServer::answer(204, ""), UpdateCheckOutcome::UpToDate, false, true},
      {"server error", LoopbackServer::answer(500, "1.2.10"), UpdateCheckOutcome::FetchFailed,
       false, false},
      {"not found", LoopbackServer::answer(404, "1.2.10"), UpdateCheckOutcome::FetchFailed, false,
       false},
      {"60-byte body", LoopbackServer::answer(200, "1.2.10" + std::string(54, ' ')),
       UpdateCheckOutcome::FetchFailed, false, false},
      {"49-byte body", LoopbackServer::answer(200, "1.2.10" + std::string(43, ' ')),
       UpdateCheckOutcome::Opened, true, true},
      {"5000-byte body", LoopbackServer::answer(200, std::string(5000, '9')),
       UpdateCheckOutcome::FetchFailed, false, false},
      {"not HTTP", "garbage\r\n\r\n", UpdateCheckOutcome::FetchFailed, false, false},
  };
  const int32_t lastDay = Today - 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CheckRun run = checkAgainst(c.response, lastDay);
    EXPECT_EQ(run.requests, 1);
    EXPECT_EQ(run.outcome, c.outcome);
    EXPECT_EQ(run.asked, c.asks ? 1 : 0);
    EXPECT_EQ(run.opened, c.asks ? 1 : 0);
    EXPECT_EQ(run.lastDay, c.dayStored ? Today : lastDay);
  }
}

TEST(UpdateCheck, RequestCarriesAgentAndBypassesCaches) {
  const CheckRun run = checkAgainst(LoopbackServer::answer(200, "1.2.9.2"), 0);
  EXPECT_NE(run.request.find("GET /version.txt "), std::string::npos) << run.request;
  EXPECT_NE(run.request.find("User-Agent: Mozilla\r\n"), std::string::npos) << run.request;
  EXPECT_NE(run.request.find("Cache-Control: no-cache"), std::string::npos) << run.request;
}

TEST(UpdateCheck, DecliningStillStoresTheDay) {
  const CheckRun run = checkAgainst(LoopbackServer::answer(200, "1.2.10"), 0, false);
  EXPECT_EQ(run.outcome, UpdateCheckOutcome::Declined);
  EXPECT_EQ(run.asked, 1);
  EXPECT_EQ(run.opened, 0);
  EXPECT_EQ(run.lastDay, Today);
}

TEST(UpdateCheck, IntervalRule) {
  struct Case {
    const char* name;
    int32_t lastDay;
    bool fetches;
    int32_t lastDayAfter;
  };
  const Case cases[] = {
      {"today", Today, false, Today},
      {"yesterday", Today - 1, false, Today - 1},
      {"two days ago", Today - 2, true, Today},
      {"never", 0, true, Today},
      {"clock went back", Today + 30, false, Today},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CheckRun run = checkAgainst(LoopbackServer::answer(200, "1.2.9.2"), c.lastDay);
    EXPECT_EQ(run.requests, c.fetches ? 1 : 0);
    EXPECT_EQ(run.outcome, c.fetches ? UpdateCheckOutcome::UpToDate : UpdateCheckOutcome::Skipped);
    EXPECT_EQ(run.lastDay, c.lastDayAfter);
  }
}

TEST(UpdateCheck, SilentServerCostsOnlyTheTimeout) {
  const auto start = std::chrono::steady_clock::now();
  const CheckRun run = checkAgainst("", Today - 5, true, 300ms);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.outcome, UpdateCheckOutcome::FetchFailed);
  EXPECT_EQ(run.lastDay, Today - 5);
  EXPECT_EQ(run.asked, 0);
  // The bound is the time-out; the slack only absorbs a slow, shared test machine.
  EXPECT_LT(elapsed, 300ms + 2700ms);
}

TEST(UpdateCheck, NothingListeningFailsQuietly) {
  int port = 0;
  {
    LoopbackServer probe(LoopbackServer::answer(200, ""));
    port = std::stoi(probe.url().substr(17));
  }  // closed again: nothing listens on the port now
  int32_t lastDay = 0;
  UpdateCheckRequest request;
  request.versionUrl = "http://127.0.0.1:" + std::to_string(port) + "/version.txt";
  request.currentVersion = "1.2.9.2";
  request.today = Today;
  request.timeout = 2s;
  EXPECT_EQ(runUpdateCheck(request, lastDay), UpdateCheckOutcome::FetchFailed);
  EXPECT_EQ(lastDay, 0);
  // Addresses that are not web addresses are refused, never read.
  request.versionUrl = "file:///etc/hostname";
  EXPECT_EQ(runUpdateCheck(request, lastDay), UpdateCheckOutcome::FetchFailed);
}

// The limit is the body's: header lines have a cap of their own, so a usual answer with long
// headers is read, while endless header lines still end the transfer.
TEST(UpdateCheck, FetchReadsAtMostTheLimitOfBody) {
  LoopbackServer server(LoopbackServer::answer(200, std::string(5000, 'x')));
  const FetchResult result = fetchUrl(server.url(), 5s, 1000);
  EXPECT_TRUE(result.transferred);
  EXPECT_EQ(result.statusClass, 2);
  EXPECT_EQ(result.body, std::string(1000, 'x'));

  const auto withHeaders = [](std::size_t headerBytes) {
    std::string lines;
    for (std::size_t i = 0; lines.size() < headerBytes; ++i)
      lines += "X-Padding-" + std::to_string(i) + ": " + std::string(1000, 'p') + "\r\n";
    return "HTTP/1.1 200 OK\r\n" + lines + "Content-Length: 7\r\nConnection: close\r\n\r\n1.2.9.9";
  };
  LoopbackServer padded(withHeaders(8000));
  const FetchResult usual = fetchUrl(padded.url(), 5s, 1000);
  EXPECT_TRUE(usual.transferred);
  EXPECT_EQ(usual.statusClass, 2);
  EXPECT_EQ(usual.body, "1.2.9.9");
  LoopbackServer endless(withHeaders(MaxHeaderBytes + 2000));
  EXPECT_FALSE(fetchUrl(endless.url(), 5s, 1000).transferred);
}

// Sets a variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

std::string proxyRefusal(std::size_t bodyBytes) {
  return "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
         "Content-Length: " +
         std::to_string(bodyBytes) + "\r\n\r\n" + std::string(bodyBytes, 'z');
}

// Hostile answers, through a proxy or from the server: the fetch ends by its deadline, with
// nothing usable, whatever comes and however slowly.
TEST(UpdateCheck, HostileAnswersCannotOutlastTheDeadline) {
  struct Case {
    const char* what;
    std::string response;
    std::chrono::milliseconds drip;
    const char* url;  // through the proxy; "" asks the server itself
  };
  const Case cases[] = {
      {"proxy refuses the tunnel with a huge body", proxyRefusal(64u << 20), 0ms,
       "https://update.invalid/v.txt"},
      {"proxy refuses the tunnel slowly", proxyRefusal(100000), 5ms,
       "https://update.invalid/v.txt"},
      {"proxy refuses a plain request with a huge body", proxyRefusal(64u << 20), 0ms,
       "http://update.invalid/v.txt"},
      {"server drips endless headers", "HTTP/1.1 200 OK\r\nX-Slow: " + std::string(100000, 's'),
       5ms, ""},
  };
  const ScopedEnv noNoProxy("no_proxy", "");
  const ScopedEnv noNoProxyUpper("NO_PROXY", "");
  constexpr auto Deadline = 500ms;
  for (const Case& c : cases) {
    LoopbackServer server(c.response, c.drip);
    ASSERT_TRUE(server.running());
    const std::string proxy = "http://" + server.url("").substr(7);
    const bool viaProxy = *c.url != '\0';
    const ScopedEnv https("https_proxy", viaProxy ? proxy : "");
    const ScopedEnv http("http_proxy", viaProxy ? proxy : "");
    const std::string url = viaProxy ? c.url : server.url();
    const auto start = std::chrono::steady_clock::now();
    const FetchResult result = fetchUrl(url, Deadline, 1000);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(result.transferred && result.statusClass == 2) << c.what;
    EXPECT_LE(result.body.size(), 1000u) << c.what;
    // The bound is the deadline; the slack only absorbs a slow, shared test machine.
    EXPECT_LT(elapsed, Deadline + 2500ms) << c.what;
    EXPECT_GE(server.requests(), 1) << c.what;
  }
}

// The asynchronous fetch returns at once and hands the answer over when it comes.
TEST(UpdateCheck, StartFetchDoesNotWaitForTheNetwork) {
  LoopbackServer silent("");
  // Shared with the fetch's thread, which may still be leaving set_value when the test ends.
  auto delivered = std::make_shared<std::promise<FetchResult>>();
  const auto start = std::chrono::steady_clock::now();
  startFetch(silent.url(), 400ms,
             [delivered](FetchResult r) { delivered->set_value(std::move(r)); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
  auto answer = delivered->get_future();
  ASSERT_EQ(answer.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(answer.get().transferred);

  LoopbackServer server(LoopbackServer::answer(200, "1.2.10"));
  auto second = std::make_shared<std::promise<FetchResult>>();
  startFetch(server.url(), 5s, [second](FetchResult r) { second->set_value(std::move(r)); });
  const FetchResult result = second->get_future().get();
  EXPECT_TRUE(result.transferred);
  EXPECT_EQ(result.body, "1.2.10");
}

}  // namespace
}  // namespace vidmora
