#include "platform/stale_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace vidmora {

namespace {

constexpr const char* SaveSuffix = ".vidmora-tmp";
constexpr const char* PartSuffix = ".vidmora-part";
constexpr std::size_t RandomLength = 6;  // the XXXXXX of mkostemps
constexpr std::size_t NameMax = 255;

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int createFromPattern(std::string pattern, const char* suffix, int flags, std::string& path) {
  const int fd = ::mkostemps(pattern.data(), static_cast<int>(std::strlen(suffix)), flags);
  if (fd >= 0) path = std::move(pattern);
  return fd;
}

std::string pidPart() {
  return "." + std::to_string(::getpid()) + "." + std::string(RandomLength, 'X');
}

// Gone, or dead and not yet reaped (a zombie never runs again).
bool processGone(long pid) {
  if (pid <= 0) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() &&
         (line[close + 2] == 'Z' || line[close + 2] == 'X');
}

// A regular file (never a link) of this user.
bool ownRegularFile(int dirFd, const char* name, struct stat& st) {
  return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
         st.st_uid == ::geteuid();
}

template <typename Visit>
int forEachEntry(const std::string& folder, Visit visit) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  while (const dirent* e = ::readdir(dir)) {
    if (visit(::dirfd(dir), std::string(e->d_name))) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace

int createSaveTemp(const std::string& finalPath, std::string& tempPath) {
  return createFromPattern(finalPath + pidPart() + SaveSuffix, SaveSuffix, O_CLOEXEC, tempPath);
}

bool replaceFileAtomically(const std::string& path, const std::string& data) {
  std::string temp;
  const int fd = createSaveTemp(path, temp);
  if (fd < 0) return false;
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  const bool ok = written == data.size() && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

FileRead readRegularFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? FileRead::Missing : FileRead::Failed;
  struct stat st {};
  FileRead result = FileRead::Ok;
  if (::fstat(fd, &st) != 0) {
    result = FileRead::Failed;
  } else if (!S_ISREG(st.st_mode)) {
    result = FileRead::NotRegular;
  } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    result = FileRead::TooLarge;
  } else {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) result = FileRead::Failed;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
  }
  ::close(fd);
  return result;
}

int createHiddenPartFile(const std::string& finalPath, std::string& tempPath, int extraFlags) {
  const auto slash = finalPath.rfind('/');
  const std::string dir =
      slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  // Keep the hidden name within the limit of a file name.
  const std::string tail = pidPart() + PartSuffix;
  if (base.size() + tail.size() + 1 > NameMax) base.resize(NameMax - tail.size() - 1);
  // O_EXCL already refuses any existing name, a dangling link included.
  return createFromPattern(dir + "." + base + tail, PartSuffix, extraFlags | O_NOFOLLOW, tempPath);
}

bool parseOwnTempName(const std::string& name, long& pid) {
  std::string rest;
  if (endsWith(name, SaveSuffix))
    rest = name.substr(0, name.size() - std::strlen(SaveSuffix));
  else if (name.size() > 1 && name[0] == '.' && endsWith(name, PartSuffix))
    rest = name.substr(0, name.size() - std::strlen(PartSuffix));
  else
    return false;
  // rest = "<name>.<pid>.<six characters>"
  if (rest.size() < RandomLength + 3 || rest[rest.size() - RandomLength - 1] != '.') return false;
  rest.resize(rest.size() - RandomLength - 1);
  const auto dot = rest.rfind('.');
  if (dot == std::string::npos || dot + 1 == rest.size() || dot == 0) return false;
  long value = 0;
  for (std::size_t i = dot + 1; i < rest.size(); ++i) {
    if (rest[i] < '0' || rest[i] > '9' || value > 100000000L) return false;
    value = value * 10 + (rest[i] - '0');
  }
  pid = value;
  return value > 0;
}

int removeStaleTempFiles(const std::string& folder) {
  return forEachEntry(folder, [](int dirFd, const std::string& name) {
    long pid = 0;
    struct stat st {};
    if (!parseOwnTempName(name, pid) || !ownRegularFile(dirFd, name.c_str(), st)) return false;
    return processGone(pid) && ::unlinkat(dirFd, name.c_str(), 0) == 0;
  });
}

std::string temporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && tmp[0] == '/' ? tmp : "/tmp";
}

std::string createScratchFolder(const std::string& parent, const std::string& what) {
  std::string pattern = parent + "/vidmora-" + what + pidPart();
  return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

int removeStaleScratchFolders(const std::string& parent) {
  return forEachEntry(parent, [&parent](int dirFd, const std::string& name) {
    // "vidmora-<what>.<pid>.XXXXXX"
    static const std::string prefix = "vidmora-";
    const std::size_t last = name.rfind('.');
    if (name.compare(0, prefix.size(), prefix) != 0 || last == std::string::npos ||
        name.size() - last - 1 != RandomLength || last == 0)
      return false;
    const std::size_t before = name.rfind('.', last - 1);
    if (before == std::string::npos || before < prefix.size() || before + 1 == last) return false;
    long pid = 0;
    for (std::size_t i = before + 1; i < last; ++i) {
      if (name[i] < '0' || name[i] > '9' || pid > 99999999) return false;
      pid = pid * 10 + (name[i] - '0');
    }
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || !processGone(pid))
      return false;
    std::error_code ec;
    // remove_all never follows a link (in the folder or in its place): it removes the link.
    std::filesystem::remove_all(parent + "/" + name, ec);
    return !ec;
  });
}

bool markProgressBlockAlive(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

int removeStaleProgressBlocks(const std::string& shmFolder) {
  return forEachEntry(shmFolder, [](int dirFd, const std::string& name) {
    static const std::string prefix = "vidmora-";
    if (name.size() != prefix.size() + 12 || name.compare(0, prefix.size(), prefix) != 0)
      return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i)
      if (name[i] < '0' || name[i] > '9') return false;
    struct stat st {};
    // An empty block is one being made: its app locks it before giving it its size.
    if (!ownRegularFile(dirFd, name.c_str(), st) || st.st_size == 0) return false;
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK;
    ::close(fd);
    return !held && ::unlinkat(dirFd, name.c_str(), 0) == 0;
  });
}

namespace {

constexpr const char* LedgerPrefix = "reservations.";

// "reservations.<pid>.XXXXXX": the pid, or 0 for any other name.
long ledgerPid(const std::string& name) {
  const std::size_t prefix = std::strlen(LedgerPrefix);
  if (name.size() < prefix + 2 + RandomLength || name.compare(0, prefix, LedgerPrefix) != 0 ||
      name[name.size() - RandomLength - 1] != '.')
    return 0;
  long value = 0;
  for (std::size_t i = prefix; i < name.size() - RandomLength - 1; ++i) {
    if (name[i] < '0' || name[i] > '9' || value > 100000000L) return 0;
    value = value * 10 + (name[i] - '0');
  }
  return value;
}

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Each record: "<device> <inode> <path>" ended by a NUL byte (a path may hold any other byte).
void removeRecorded(int dirFd, const char* ledger) {
  const int fd = ::openat(dirFd, ledger, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < (16u << 20);)
    text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
    const std::string record = text.substr(start, end - start);
    unsigned long long device = 0, inode = 0;
    int consumed = 0;
    if (std::sscanf(record.c_str(), "%llu %llu %n", &device, &inode, &consumed) != 2 ||
        consumed <= 0 || static_cast<std::size_t>(consumed) >= record.size())
      continue;
    const std::string path = record.substr(static_cast<std::size_t>(consumed));
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
        st.st_uid == ::geteuid() && st.st_dev == device && st.st_ino == inode)
      ::unlink(path.c_str());
  }
}

}  // namespace

ReservationLedger::~ReservationLedger() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

bool ReservationLedger::record(const std::string& path, uint64_t device, uint64_t inode) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) {
    if (folder_.empty()) return false;
    ::mkdir(folder_.c_str(), 0700);
    std::string pattern = folder_ + "/" + LedgerPrefix + std::to_string(::getpid()) + "." +
                          std::string(RandomLength, 'X');
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC | O_APPEND);
    if (fd_ < 0) return false;
    path_ = std::move(pattern);
  }
  return writeAll(fd_, std::to_string(device) + " " + std::to_string(inode) + " " + path +
                           std::string(1, '\0'));
}

int removeStaleReservations(const std::string& folder) {
  return forEachEntry(folder, [](int dirFd, const std::string& name) {
    const long pid = ledgerPid(name);
    struct stat st {};
    if (pid <= 0 || !processGone(pid) || !ownRegularFile(dirFd, name.c_str(), st)) return false;
    removeRecorded(dirFd, name.c_str());
    return ::unlinkat(dirFd, name.c_str(), 0) == 0;
  });
}

}  // namespace vidmora
