// Unique output paths: the list's claimed paths first, then the disk.
#include "engine/output_path.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/paths.h"  // joinPath
#include "platform/texts.h"
#include "settings/profiles.h"

namespace vidmora {
namespace {

// The longest file name Linux takes, in bytes.
constexpr std::size_t NameByteLimit = 255;

bool claimedByList(const std::string& candidate, const VideoList& list) {
  for (int i = 0; i < list.count(); ++i) {
    const VideoEntry& e = list.at(i);
    if (!claimsOutputName(e.stateValue())) continue;
    if (e.outputPath.size() == candidate.size() &&
        strcasecmp(e.outputPath.c_str(), candidate.c_str()) == 0) {
      return true;
    }
  }
  return false;
}

// Anything of that name, a dangling symbolic link included, makes the name taken.
bool existsOnDisk(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

OutputPath makeOutputPath(const std::string& folder, const std::string& baseName, int16_t profileId,
                          const VideoList& list) {
  const char* ext = profileById(profileId).Extension;
  const std::string extension = ext ? ext : "";
  const std::size_t extensionBytes = extension.empty() ? 0 : extension.size() + 1;
  for (int n = 0;; ++n) {
    // The name with its "(n)" and extension must fit a file name: the base gives way.
    const std::string suffix = n > 0 ? texts::fillText("(%d)", n) : std::string();
    const std::size_t room =
        NameByteLimit - std::min(NameByteLimit, suffix.size() + extensionBytes);
    std::string name = cutAtCharacter(baseName, room) + suffix;
    std::string candidate = joinPath(folder, name, extension);
    if (claimedByList(candidate, list)) continue;
    if (existsOnDisk(candidate)) continue;
    return {std::move(candidate), n};
  }
}

ReservedOutput reserveOutputPath(const std::string& folder, const std::string& baseName,
                                 int16_t profileId, const VideoList& list) {
  ReservedOutput out;
  // Each failed creation means the name now exists, so the next look moves past it; the bound
  // only guards against a folder that keeps filling up under us.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    out.path = makeOutputPath(folder, baseName, profileId, list).path;
    const int fd =
        ::open(out.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      out.error = errno;
      return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
      out.reserved = true;
      out.dev = st.st_dev;
      out.ino = st.st_ino;
    }
    ::close(fd);
    return out;
  }
  out.error = EEXIST;
  return out;
}

bool isOwnReservation(const ReservedOutput& output) {
  struct stat st {};
  return output.reserved && ::lstat(output.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         st.st_size == 0 && st.st_dev == output.dev && st.st_ino == output.ino;
}

void dropReservation(const ReservedOutput& output) {
  if (isOwnReservation(output)) ::unlink(output.path.c_str());
}

}  // namespace vidmora
