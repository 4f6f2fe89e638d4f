#include "settings/update_check.h"

#include <curl/curl.h>

#include <algorithm>
#include <ctime>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace vidmora {

int32_t dayNumber(int day, int month, int year) {
  if (day == 0 && month == 0 && year == 0) return 0;
  const int32_t y = year + (month + 9) / 12 + 399;
  const int32_t m = (month + 9) % 12;
  return 365 * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + day - 146037;
}

int32_t todayDayNumber() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return dayNumber(local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
}

namespace {

constexpr std::size_t MaxVersionNumbers = 4;
constexpr std::size_t MaxVersionText = 50;
constexpr std::size_t MaxUsableBody = 50;  // a longer answer is not a version number

// Up to four numbers; a number stops growing at a billion so a silly answer cannot overflow.
std::vector<long long> versionNumbers(std::string_view text) {
  std::vector<long long> numbers;
  long long current = 0;
  bool inNumber = false;
  auto finish = [&] {
    if (inNumber && numbers.size() < MaxVersionNumbers) numbers.push_back(current);
    current = 0;
    inNumber = false;
  };
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (current < 1000000000LL) current = current * 10 + (c - '0');
      inNumber = true;
    } else if (c == '.') {
      finish();
    }
    // Blanks and anything else are skipped.
  }
  finish();
  return numbers;
}

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
  const auto na = versionNumbers(a);
  const auto nb = versionNumbers(b);
  const std::size_t common = std::min(na.size(), nb.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (na[i] != nb[i]) return na[i] < nb[i] ? -1 : 1;
  }
  if (na.size() == nb.size()) return 0;
  return na.size() < nb.size() ? -1 : 1;
}

std::string versionCharacters(std::string_view body) {
  std::string out;
  for (char c : body) {
    if (out.size() >= MaxVersionText) break;
    if ((c >= '0' && c <= '9') || c == '.') out.push_back(c);
  }
  return out;
}

namespace {

using Clock = std::chrono::steady_clock;

// What one transfer may still receive, and until when. The body and the header lines have
// limits of their own.
struct Budget {
  std::string* body;
  std::size_t bodyLeft;
  std::size_t headerLeft;
  Clock::time_point deadline;
  bool bodyCut = false;
};

// Status of a header line "HTTP/x yyy ...", 0 for any other line.
int statusOfLine(std::string_view line) {
  if (line.rfind("HTTP/", 0) != 0) return 0;
  const auto blank = line.find(' ');
  if (blank == std::string_view::npos || blank + 4 > line.size()) return 0;
  int status = 0;
  for (std::size_t i = blank + 1; i < blank + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    status = status * 10 + (line[i] - '0');
  }
  return status;
}

// Header lines of every answer (libcurl passes a proxy's CONNECT reply here too). A short count
// makes libcurl stop the transfer.
std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* budget = static_cast<Budget*>(user);
  const std::size_t bytes = size * count;
  if (bytes > budget->headerLeft) return 0;
  budget->headerLeft -= bytes;
  const int status = statusOfLine(std::string_view(data, bytes));
  // 1xx, 2xx and redirects go on; any other answer is a failure whose body is not wanted.
  if (status >= 400 || (status > 0 && status < 100)) return 0;
  return bytes;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* budget = static_cast<Budget*>(user);
  const std::size_t bytes = size * count;
  const std::size_t kept = std::min(bytes, budget->bodyLeft);
  budget->body->append(data, kept);
  budget->bodyLeft -= kept;
  if (kept == bytes) return bytes;
  budget->bodyCut = true;
  return kept;
}

// Called by libcurl at least once a second and for every byte of a proxy reply it skips:
// the deadline holds where libcurl's own time-outs do not.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return Clock::now() >= static_cast<Budget*>(user)->deadline ? 1 : 0;
}

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

FetchResult fetchUrl(const std::string& url, std::chrono::milliseconds timeout,
                     std::size_t maxBytes) {
  FetchResult result;
  initCurlOnce();
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return result;

  Budget budget{&result.body, maxBytes, MaxHeaderBytes, Clock::now() + timeout};
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Cache-Control: no-cache");
  headers = curl_slist_append(headers, "Pragma: no-cache");

  const long ms = static_cast<long>(std::max<std::chrono::milliseconds::rep>(timeout.count(), 1));
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Mozilla");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed, but never away from HTTPS.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, ms);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, ms);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // safe outside the main thread too
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &budget);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &budget);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &budget);

  const CURLcode code = curl_easy_perform(curl);
  // A transfer stopped because the body filled the budget still delivered its status.
  const bool limitReached = code == CURLE_WRITE_ERROR && budget.bodyCut;
  if (code == CURLE_OK || limitReached) {
    long status = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status > 0) {
      result.statusClass = static_cast<int>(status / 100);
      result.transferred = true;
    }
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return result;
}

void startFetch(const std::string& url, std::chrono::milliseconds timeout,
                std::function<void(FetchResult)> done, std::size_t maxBytes) {
  initCurlOnce();
  std::thread([url, timeout, done = std::move(done), maxBytes] {
    FetchResult result = fetchUrl(url, timeout, maxBytes);
    if (done) done(std::move(result));
  }).detach();
}

bool updateCheckDue(const UpdateCheckRequest& request, int32_t& lastUpdateCheckDay) {
  const int32_t today = request.today;
  if (today < lastUpdateCheckDay) lastUpdateCheckDay = today;  // the clock went back
  return lastUpdateCheckDay == 0 || today - lastUpdateCheckDay >= request.intervalDays;
}

UpdateCheckOutcome finishUpdateCheck(const UpdateCheckRequest& request, const FetchResult& answer,
                                     int32_t& lastUpdateCheckDay) {
  if (!answer.transferred || answer.statusClass != 2 || answer.body.size() >= MaxUsableBody) {
    return UpdateCheckOutcome::FetchFailed;
  }
  UpdateCheckOutcome outcome = UpdateCheckOutcome::UpToDate;
  const std::string remote = versionCharacters(answer.body);
  if (compareVersions(remote, request.currentVersion) > 0) {
    const bool wanted = request.askOpenDownloadPage && request.askOpenDownloadPage();
    if (wanted) {
      if (request.openDownloadPage) request.openDownloadPage();
      outcome = UpdateCheckOutcome::Opened;
    } else {
      outcome = UpdateCheckOutcome::Declined;
    }
  }
  lastUpdateCheckDay = request.today;
  return outcome;
}

UpdateCheckOutcome runUpdateCheck(const UpdateCheckRequest& request, int32_t& lastUpdateCheckDay) {
  if (!updateCheckDue(request, lastUpdateCheckDay)) return UpdateCheckOutcome::Skipped;
  return finishUpdateCheck(request, fetchUrl(request.versionUrl, request.timeout),
                           lastUpdateCheckDay);
}

}  // namespace vidmora
