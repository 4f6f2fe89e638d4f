#include "settings/update_check.h"

#include <gtest/gtest.h>

#include <chrono>

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

TEST(UpdateCheck, FetchReadsAtMostTheLimit) {
  LoopbackServer server(LoopbackServer::answer(200, std::string(5000, 'x')));
  const FetchResult result = fetchUrl(server.url(), 5s, 1000);
  EXPECT_TRUE(result.transferred);
  EXPECT_EQ(result.statusClass, 2);
  EXPECT_EQ(result.body.size(), 1000u);
}

}  // namespace
}  // namespace vidmora
