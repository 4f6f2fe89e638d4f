#include "platform/job_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace vidmora {

std::string logFolderFor(const char* xdgStateHome, const std::string& home) {
  // Relative values are to be ignored.
  if (xdgStateHome && xdgStateHome[0] == '/')
    return appendComponent(appendComponent(xdgStateHome, "vidmora"), "logs");
  if (home.empty()) return {};
  return appendComponent(home, ".local/state/vidmora/logs");
}

std::string logFolder() {
  return logFolderFor(std::getenv("XDG_STATE_HOME"), homeFolder());
}

std::string reservationFolder() {
  const std::string logs = logFolder();
  return logs.empty() ? std::string() : folderOf(logs) + "reservations";
}

std::string jobLogName(const std::string& sourcePath, std::time_t when) {
  const PathParts parts = splitPath(sourcePath);
  std::string base = parts.name.empty() ? parts.extension : parts.name;
  for (char& c : base)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '/') c = '_';
  base = cutAtCharacter(base, 100);
  if (base.empty()) base = "video";
  std::tm local{};
  localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return std::string(stamp) + "-" + base + ".log";
}

std::string createJobLog(const std::string& folder, const std::string& sourcePath,
                         std::time_t when) {
  if (folder.empty()) return {};
  createFolderChain(folder);
  const std::string name = jobLogName(sourcePath, when);
  const std::string stem = name.substr(0, name.size() - 4);
  for (int n = 1; n < 1000; ++n) {
    const std::string path =
        appendComponent(folder, n == 1 ? name : stem + "-" + std::to_string(n) + ".log");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

std::size_t pruneJobLogs(const std::string& folder, std::time_t now, const LogPruneLimits& limits) {
  struct Entry {
    std::string path;
    std::time_t modified;
  };
  std::vector<Entry> logs;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".log") != 0) continue;
    const std::string path = appendComponent(folder, name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    logs.push_back({path, st.st_mtime});
  }
  ::closedir(dir);
  // Newest first; the name breaks ties so the order does not depend on the folder's.
  std::sort(logs.begin(), logs.end(), [](const Entry& a, const Entry& b) {
    return a.modified != b.modified ? a.modified > b.modified : a.path > b.path;
  });
  std::size_t removed = 0;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    const bool tooOld = now - logs[i].modified > limits.maxAgeSeconds;
    if ((tooOld || i >= limits.maxCount) && ::unlink(logs[i].path.c_str()) == 0) ++removed;
  }
  return removed;
}

std::string logReasonFromText(const std::string& text) {
  std::string reason;
  std::size_t pos = 0;
  const std::string marker = LogRunMarker, prefix = LogReasonPrefix;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + pos, end - pos);
    if (line.substr(0, marker.size()) == marker) reason.clear();
    if (line.substr(0, prefix.size()) == prefix) reason = line.substr(prefix.size());
    pos = end + 1;
  }
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
  return reason;
}

bool readLogText(const std::string& logPath, std::string& text, std::size_t maxBytes) {
  text.clear();
  const int fd = ::open(logPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (static_cast<std::size_t>(st.st_size) > maxBytes)
    ::lseek(fd, st.st_size - static_cast<off_t>(maxBytes), SEEK_SET);
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
    text.append(buf, static_cast<std::size_t>(n));
    if (text.size() >= maxBytes) break;
  }
  ::close(fd);
  return true;
}

std::string readLogReason(const std::string& logPath) {
  std::string text;
  if (!readLogText(logPath, text)) return {};
  return logReasonFromText(text);
}

}  // namespace vidmora
