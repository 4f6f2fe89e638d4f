#include "settings/update_check.h"

#include <curl/curl.h>

#include <algorithm>
#include <ctime>
#include <mutex>
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

struct BodySink {
  std::string* body;
  std::size_t limit;
};

// Takes what fits; a short count makes libcurl stop the transfer once the limit is reached.
std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t bytes = size * count;
  const std::size_t room = sink->limit - sink->body->size();
  const std::size_t take = std::min(bytes, room);
  sink->body->append(data, take);
  return take == bytes ? bytes : take;
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

  BodySink sink{&result.body, maxBytes};
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
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);

  const CURLcode code = curl_easy_perform(curl);
  // A transfer stopped because the body limit was reached still delivered its status.
  const bool limitReached = code == CURLE_WRITE_ERROR && result.body.size() == maxBytes;
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

UpdateCheckOutcome runUpdateCheck(const UpdateCheckRequest& request, int32_t& lastUpdateCheckDay) {
  const int32_t today = request.today;
  if (today < lastUpdateCheckDay) lastUpdateCheckDay = today;  // the clock went back
  if (lastUpdateCheckDay != 0 && today - lastUpdateCheckDay < request.intervalDays) {
    return UpdateCheckOutcome::Skipped;
  }

  const FetchResult answer = fetchUrl(request.versionUrl, request.timeout);
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
  lastUpdateCheckDay = today;
  return outcome;
}

}  // namespace vidmora
