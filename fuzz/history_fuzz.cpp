// Fuzz target for the history file reader: any bytes must load without reading outside a buffer,
// and whatever loads must survive being written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/record_stream.h"
#include "videolist/history_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vidmora::VideoList list;
  const auto in = vidmora::RecordStream::fromMemory(data, size);
  if (!vidmora::readHistory(list, *in)) return 0;

  const std::string written = vidmora::historyBytes(list);
  vidmora::VideoList back;
  const auto again = vidmora::RecordStream::fromMemory(written.data(), written.size());
  if (!vidmora::readHistory(back, *again)) std::abort();
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
