// Choosing the output file of a conversion: folder/base.ext, made unique with "(n)".
#pragma once

#include <cstdint>
#include <string>

#include "videolist/video_entry.h"

namespace vidmora {

struct OutputPath {
  std::string path;
  int counter = 0;  // 0 for the plain name, n for "base(n).ext"
};

// A path that no entry of the list in a state below Cancelled uses (compared ignoring case) and
// that names nothing on disk. The caller holds the list lock when workers may run.
OutputPath makeOutputPath(const std::string& folder, const std::string& baseName, int16_t profileId,
                          const VideoList& list);

}  // namespace vidmora
