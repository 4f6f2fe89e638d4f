#include "engine/thumbnail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/paths.h"
#include "platform/stale_files.h"

namespace vidmora {

namespace {

// A picture at most this large is kept; anything bigger in the cache is not ours.
constexpr int MaxSide = 1024;

uint64_t fnv1a(const std::string& text, uint64_t hash = 1469598103934665603ull) {
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ThumbnailStatus extractThumbnail(const std::string& path, int maxWidth, int maxHeight,
                                 Thumbnail& out) {
  FrameGrabber grabber;
  const GrabStatus opened = grabber.open(path);
  if (opened != GrabStatus::Ok) return opened;
  // A tenth into a video: past titles and black openings, far from the end. A keyframe up to a
  // fifth in serves as well and spares decoding the run of frames before the tenth.
  if (!grabber.grab(grabber.duration() / 10, grabber.duration() / 10) ||
      !grabber.picture(std::clamp(maxWidth, 1, MaxSide), std::clamp(maxHeight, 1, MaxSide), out))
    return GrabStatus::Unreadable;
  return GrabStatus::Ok;
}

std::string ThumbnailCache::entryFor(const std::string& sourcePath, int maxWidth,
                                     int maxHeight) const {
  struct stat st {};
  if (folder_.empty() || ::stat(sourcePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  std::string key = sourcePath;
  key += '\0' + std::to_string(st.st_size) + '\0' + std::to_string(st.st_mtim.tv_sec) + '.' +
         std::to_string(st.st_mtim.tv_nsec) + '\0' + std::to_string(maxWidth) + 'x' +
         std::to_string(maxHeight);
  char name[40];
  std::snprintf(name, sizeof name, "%016llx.ppm", static_cast<unsigned long long>(fnv1a(key)));
  return appendComponent(folder_, name);
}

bool ThumbnailCache::load(const std::string& entry, Thumbnail& out) const {
  const int fd = ::open(entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  constexpr off_t Limit = 64 + static_cast<off_t>(MaxSide) * MaxSide * 3;
  std::string data;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= Limit) {
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    data.resize(done);
  }
  ::close(fd);
  int width = 0, height = 0, maxValue = 0, header = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &header) != 3 ||
      width <= 0 || height <= 0 || width > MaxSide || height > MaxSide || maxValue != 255)
    return false;
  const std::size_t pixels = static_cast<std::size_t>(width) * height * 3;
  // One white-space byte ends the header.
  if (static_cast<std::size_t>(header) + 1 + pixels != data.size()) return false;
  out.width = width;
  out.height = height;
  out.rgb.assign(data.begin() + header + 1, data.end());
  return true;
}

bool ThumbnailCache::store(const std::string& entry, const Thumbnail& picture) const {
  if (picture.empty() ||
      picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
    return false;
  if (!createFolderChain(folder_)) return false;
  std::string temp;
  const int fd = createSaveTemp(entry, temp);
  if (fd < 0) return false;
  const std::string header =
      "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
  const bool written = writeAll(fd, header.data(), header.size()) &&
                       writeAll(fd, picture.rgb.data(), picture.rgb.size());
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), entry.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

ThumbnailStatus ThumbnailCache::get(const std::string& sourcePath, int maxWidth, int maxHeight,
                                    Thumbnail& out) const {
  const std::string entry = entryFor(sourcePath, maxWidth, maxHeight);
  if (!entry.empty() && load(entry, out)) return ThumbnailStatus::Ok;
  const ThumbnailStatus status = extractThumbnail(sourcePath, maxWidth, maxHeight, out);
  if (status == ThumbnailStatus::Ok && !entry.empty()) store(entry, out);
  return status;
}

std::string thumbnailCacheFolder() {
  const std::string cache = cacheFolder();
  return cache.empty() ? std::string() : appendComponent(cache, "thumbnails");
}

}  // namespace vidmora
