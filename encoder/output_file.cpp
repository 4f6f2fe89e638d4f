#include "output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/stale_files.h"

namespace vidmora::encoder {

namespace {

bool isReservation(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_size == 0;
}

// The process's umask, read without changing it where the kernel tells it.
mode_t currentUmask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status))
      found = std::sscanf(line, "Umask: %o", &value) == 1;
    std::fclose(status);
    if (found) return static_cast<mode_t>(value & 0777);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

}  // namespace

bool outputNameFree(const std::string& path) {
  struct stat st {};
  // Nothing there, or no way to reach the name (a file in a folder's place): there is no file
  // to leave alone, and creating the temporary file next to it says what is wrong.
  if (::lstat(path.c_str(), &st) != 0) return true;
  return isReservation(st);
}

TempOutput::TempOutput(std::string finalPath) : finalPath_(std::move(finalPath)) {
  // Inherited by ffmpeg (no close-on-exec): it reopens the file through /proc/self/fd.
  fd_ = createHiddenPartFile(finalPath_, tempPath_, 0);
  if (fd_ < 0) {
    error_ = "cannot create a temporary file beside '" + finalPath_ + "': " + std::strerror(errno);
    return;
  }
  if (fd_ <= 2) {
    // Standard streams were closed at start: keep them free for ffmpeg's pipes.
    const int high = ::fcntl(fd_, F_DUPFD, 3);
    ::close(fd_);
    fd_ = high;
    if (fd_ < 0) {
      error_ = std::string("cannot keep the temporary file open: ") + std::strerror(errno);
      ::unlink(tempPath_.c_str());
    }
  }
}

TempOutput::~TempOutput() {
  if (fd_ < 0) return;
  if (!published_) {
    // Only our own file: the name may have been replaced under us.
    struct stat mine {
    }, named{};
    if (::fstat(fd_, &mine) == 0 && ::lstat(tempPath_.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
      ::unlink(tempPath_.c_str());
  }
  ::close(fd_);
}

std::string TempOutput::writerPath() const {
  return "/proc/self/fd/" + std::to_string(fd_);
}

bool TempOutput::hasData() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

uint64_t TempOutput::size() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size)
                                                              : 0;
}

TempOutput::Publish TempOutput::publish(std::string* error) {
  auto fail = [&](const std::string& why, Publish result) {
    if (error != nullptr) *error = why;
    return result;
  };
  struct stat mine {
  }, named{};
  if (fd_ < 0 || ::fstat(fd_, &mine) != 0 || ::lstat(tempPath_.c_str(), &named) != 0 ||
      mine.st_dev != named.st_dev || mine.st_ino != named.st_ino)
    return fail("the temporary output '" + tempPath_ + "' is gone or was replaced",
                Publish::Failed);

  // The hidden file was made private; the output gets the mode any new file of the user gets.
  if (::fchmod(fd_, 0666 & ~currentUmask()) != 0)
    return fail("cannot set the mode of '" + tempPath_ + "': " + std::strerror(errno),
                Publish::Failed);

  if (::renameat2(AT_FDCWD, tempPath_.c_str(), AT_FDCWD, finalPath_.c_str(), RENAME_NOREPLACE) ==
      0) {
    published_ = true;
    return Publish::Done;
  }
  int why = errno;
  if (why == EINVAL || why == ENOSYS) {
    // A file system without RENAME_NOREPLACE: a hard link fails just as well on a taken name.
    if (::link(tempPath_.c_str(), finalPath_.c_str()) == 0) {
      ::unlink(tempPath_.c_str());
      published_ = true;
      return Publish::Done;
    }
    why = errno;
  }
  if (why == EEXIST) {
    struct stat there {};
    if (::lstat(finalPath_.c_str(), &there) == 0 && isReservation(there)) {
      if (std::rename(tempPath_.c_str(), finalPath_.c_str()) == 0) {
        published_ = true;
        return Publish::Done;
      }
      why = errno;
    } else {
      return fail("the output '" + finalPath_ + "' was taken by another file; it was left alone",
                  Publish::NameTaken);
    }
  }
  return fail("cannot move the output to '" + finalPath_ + "': " + std::strerror(why),
              Publish::Failed);
}

}  // namespace vidmora::encoder
