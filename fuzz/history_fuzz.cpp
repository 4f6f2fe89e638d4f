// Fuzz target for the history file reader: any bytes must load without reading outside a buffer,
// and whatever loads must survive being written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "videolist/history_file.h"

namespace {

std::FILE* openBytes(const uint8_t* data, std::size_t size, std::string& keep) {
  keep.assign(reinterpret_cast<const char*>(data), size);
  if (keep.empty()) keep.push_back('\0');  // fmemopen refuses an empty buffer
  return fmemopen(keep.data(), size == 0 ? 1 : size, "rb");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string buffer;
  std::FILE* f = openBytes(data, size, buffer);
  if (!f) return 0;
  vidmora::VideoList list;
  const bool loaded = vidmora::readHistory(list, f);
  std::fclose(f);
  if (!loaded) return 0;

  const std::string written = vidmora::historyBytes(list);
  std::string again;
  std::FILE* g = openBytes(reinterpret_cast<const uint8_t*>(written.data()), written.size(), again);
  vidmora::VideoList back;
  if (!g || !vidmora::readHistory(back, g)) std::abort();
  std::fclose(g);
  if (back.count() != list.count() || back.headerValue != list.headerValue) std::abort();
  for (int i = 0; i < list.count(); ++i) {
    const vidmora::VideoEntry& a = list.at(i);
    const vidmora::VideoEntry& b = back.at(i);
    if (a.sourcePath != b.sourcePath || a.outputName != b.outputName ||
        a.outputPath != b.outputPath || a.stateValue() != b.stateValue() ||
        a.sizeBytes != b.sizeBytes || a.durationSeconds != b.durationSeconds || a.kind != b.kind ||
        a.profileId != b.profileId || b.listIndex != i) {
      std::abort();
    }
  }
  return 0;
}
