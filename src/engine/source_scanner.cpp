#include "engine/source_scanner.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <utility>

#include "platform/paths.h"
#include "videolist/video_entry.h"

namespace vidmora {
namespace {

using FolderId = std::pair<uint64_t, uint64_t>;

struct Walk {
  const std::function<bool()>& stop;
  std::set<FolderId> seen;
  std::vector<std::string> files;

  bool stopped() const { return stop && stop(); }

  void folder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    // A folder reached twice (through a symbolic link) is walked once: no endless loops.
    if (!seen.insert({st.st_dev, st.st_ino}).second) return;
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
      while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (stopped()) return;
      item(appendComponent(path, name), name);
    }
  }

  void item(const std::string& path, const std::string& name) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return;  // missing: nothing, and no message
    if (S_ISDIR(st.st_mode)) {
      folder(path);
    } else if (isAcceptedExtension(extensionOf(name))) {
      files.push_back(path);
    }
  }
};

}  // namespace

std::vector<std::string> collectSources(const std::vector<std::string>& paths,
                                        const std::function<bool()>& stop) {
  Walk walk{stop, {}, {}};
  for (const std::string& path : paths) {
    if (walk.stopped()) break;
    walk.item(path, path);
  }
  return std::move(walk.files);
}

void runParallel(int count, int threads, const std::function<void(int)>& task) {
  std::atomic<int> next{0};
  const auto loop = [&] {
    for (int i = next++; i < count; i = next++) task(i);
  };
  std::vector<std::thread> helpers;
  const int wanted = std::min(std::max(threads, 1), count) - 1;
  for (int t = 0; t < wanted; ++t) {
    try {
      helpers.emplace_back(loop);
    } catch (...) {
      break;  // fewer threads: the calling thread does the rest
    }
  }
  loop();
  for (std::thread& h : helpers) h.join();
}

int probeThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace vidmora
