// Feeds arbitrary bytes to the settings reader. Besides the sanitizers' checks, the record read
// must not depend on the stream's buffer size (refills land at every field border).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/record_stream.h"
#include "settings/settings_file.h"

namespace {

bool sameRecord(vidmora::TSettings a, vidmora::TSettings b) {
  // Compare the rate by its bits: a NaN from the file equals itself here.
  if (std::memcmp(&a.FrameRate, &b.FrameRate, sizeof(float)) != 0) return false;
  a.FrameRate = b.FrameRate = 0.0f;
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vidmora::TSettings first;
  vidmora::setDefaults(first);
  vidmora::TSettings second = first;

  auto small = vidmora::RecordStream::fromMemory(data, size, 16);
  const bool matched = vidmora::readSettings(*small, first);
  auto large = vidmora::RecordStream::fromMemory(data, size);
  if (vidmora::readSettings(*large, second) != matched || !sameRecord(first, second)) std::abort();

  if (first.DestDir.size() > vidmora::FolderReadLimit ||
      first.VideoCodec.size() > vidmora::CodecTextLimit ||
      first.AudioCodec.size() > vidmora::CodecTextLimit)
    std::abort();
  return 0;
}
