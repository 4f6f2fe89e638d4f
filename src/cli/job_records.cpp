#include "cli/job_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/paths.h"
#include "platform/stale_files.h"

namespace vidmora::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return text.str();
}

// Written beside the record and renamed over it; readable by the other nodes' users.
bool writeJson(const std::string& path, const Json& j) {
  std::string temp;
  const int fd = createSaveTemp(path, temp);
  if (fd < 0) return false;
  const std::string text = j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  bool ok = ::fchmod(fd, 0644) == 0;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

bool readJson(const std::string& path, Json& j) {
  j = Json::parse(readSmallFile(path), nullptr, false);
  return !j.is_discarded() && j.is_object();
}

template <typename T>
bool take(const Json& j, const char* name, T& out) {
  const auto it = j.find(name);
  if (it == j.end()) return false;
  if constexpr (std::is_same_v<T, std::string>) {
    if (!it->is_string()) return false;
  } else if constexpr (std::is_floating_point_v<T>) {
    if (!it->is_number()) return false;
  } else {
    if (!it->is_number_integer()) return false;
  }
  out = it->get<T>();
  return true;
}

std::string firstLine(const std::string& path) {
  std::string text = readSmallFile(path);
  if (const std::size_t end = text.find('\n'); end != std::string::npos) text.resize(end);
  return text;
}

// Field 22 of /proc/PID/stat: the process's start in clock ticks after boot; 0 when unknown.
uint64_t processStart(long pid) {
  const std::string text = readSmallFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t paren = text.rfind(')');
  if (paren == std::string::npos) return 0;
  std::istringstream fields(text.substr(paren + 2));
  std::string field;
  for (int i = 3; i <= 22 && (fields >> field); ++i) {
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return 0;
}

std::string bootId() {
  return firstLine("/proc/sys/kernel/random/boot_id");
}

bool processAlive(long pid, uint64_t start) {
  if (pid <= 0) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
  // The id may have been handed to a new process since.
  const uint64_t now = processStart(pid);
  return now == 0 || start == 0 || now == start;
}

}  // namespace

RecordPaths recordPaths(const std::string& output, const std::string& jobId) {
  const std::string folder = folderOf(output);
  const std::string stem = folder + ".vidmora-" + jobId;
  return {stem + ".done", stem + ".failed", stem + ".claim", folder + ".vidmora-lock"};
}

bool writeDoneRecord(const std::string& path, const DoneRecord& r) {
  Json j;
  j["job"] = r.job;
  j["state"] = "done";
  j["output"] = r.output;
  j["size"] = r.size;
  j["duration"] = r.duration;
  j["host"] = r.host;
  j["finished"] = r.finished;
  return writeJson(path, j);
}

bool readDoneRecord(const std::string& path, DoneRecord& r) {
  Json j;
  std::string state;
  return readJson(path, j) && take(j, "state", state) && state == "done" && take(j, "job", r.job) &&
         take(j, "output", r.output) && take(j, "size", r.size) &&
         take(j, "duration", r.duration) && take(j, "host", r.host) &&
         take(j, "finished", r.finished);
}

bool writeFailedRecord(const std::string& path, const FailedRecord& r) {
  Json j;
  j["job"] = r.job;
  j["state"] = "failed";
  j["reason"] = r.reason;
  j["log"] = r.log;
  j["host"] = r.host;
  j["exit"] = r.exitCode;
  j["finished"] = r.finished;
  return writeJson(path, j);
}

bool readFailedRecord(const std::string& path, FailedRecord& r) {
  Json j;
  std::string state;
  return readJson(path, j) && take(j, "state", state) && state == "failed" &&
         take(j, "job", r.job) && take(j, "reason", r.reason) && take(j, "log", r.log) &&
         take(j, "host", r.host) && take(j, "exit", r.exitCode) && take(j, "finished", r.finished);
}

bool writeClaim(const std::string& path, const Claim& c) {
  Json j;
  j["job"] = c.job;
  j["state"] = "claimed";
  j["output"] = c.output;
  j["host"] = c.host;
  j["boot"] = c.boot;
  j["pid"] = c.pid;
  j["pid_start"] = c.pidStart;
  j["started"] = c.started;
  return writeJson(path, j);
}

bool readClaim(const std::string& path, Claim& c) {
  Json j;
  std::string state;
  return readJson(path, j) && take(j, "state", state) && state == "claimed" &&
         take(j, "job", c.job) && take(j, "output", c.output) && take(j, "host", c.host) &&
         take(j, "boot", c.boot) && take(j, "pid", c.pid) && take(j, "pid_start", c.pidStart) &&
         take(j, "started", c.started);
}

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

Claim ownClaim(const std::string& jobId, const std::string& output) {
  Claim c;
  c.job = jobId;
  c.output = output;
  c.host = hostName();
  c.boot = bootId();
  c.pid = static_cast<long>(::getpid());
  c.pidStart = processStart(c.pid);
  c.started = static_cast<int64_t>(std::time(nullptr));
  return c;
}

bool touchClaim(const std::string& path) {
  return ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0;
}

ClaimState claimState(const std::string& path, int leaseSeconds, std::time_t now) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return ClaimState::None;
  const bool fresh = now - st.st_mtime < leaseSeconds;
  Claim c;
  if (!readClaim(path, c)) return fresh ? ClaimState::Alive : ClaimState::Dead;
  if (c.host == hostName() && !c.boot.empty() && c.boot == bootId())
    return processAlive(c.pid, c.pidStart) ? ClaimState::Alive : ClaimState::Dead;
  return fresh ? ClaimState::Alive : ClaimState::Dead;
}

bool claimedByAnotherJob(const std::string& output, const std::string& jobId, int leaseSeconds,
                         std::time_t now) {
  const std::string folder = folderOf(output);
  const std::string own = ".vidmora-" + jobId + ".claim";
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  bool claimed = false;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (claimed || name == own || name.rfind(".vidmora-", 0) != 0 || name.size() < 7 ||
        name.compare(name.size() - 6, 6, ".claim") != 0)
      continue;
    Claim c;
    claimed = readClaim(folder + name, c) && c.output == output &&
              claimState(folder + name, leaseSeconds, now) == ClaimState::Alive;
  }
  ::closedir(dir);
  return claimed;
}

bool doneRecordMatches(const std::string& output, const std::string& jobId, DoneRecord* record) {
  DoneRecord r;
  if (!readDoneRecord(recordPaths(output, jobId).done, r) || r.job != jobId) return false;
  struct stat st {};
  // The size only: a copy back from a node (parallel --return) need not keep the time.
  if (::stat(output.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) != r.size)
    return false;
  if (record) *record = r;
  return true;
}

int removePartFiles(const std::string& output) {
  const std::string folder = folderOf(output);
  const std::string base = output.substr(folder.size());
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    long pid = 0;
    static const std::string suffix = ".vidmora-part";  // a save's temporary file is not one
    if (name.size() < 2 || name[0] != '.' || name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0 ||
        !parseOwnTempName(name, pid))
      continue;
    // ".<base>.<pid>.XXXXXX.vidmora-part": the base may have been cut to fit NAME_MAX.
    const std::string tail = "." + std::to_string(pid) + ".";
    const std::size_t at = name.rfind(tail);
    if (at == std::string::npos || at < 1) continue;
    const std::string written = name.substr(1, at - 1);
    const bool same = written == base || (name.size() >= NAME_MAX && !written.empty() &&
                                          base.compare(0, written.size(), written) == 0);
    struct stat st {};
    if (!same || ::lstat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    removed += ::unlink((folder + name).c_str()) == 0;
  }
  ::closedir(dir);
  return removed;
}

FolderLock::FolderLock(const std::string& lockPath) {
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0 && errno == EACCES) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  int status;
  while ((status = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (status != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace vidmora::cli
