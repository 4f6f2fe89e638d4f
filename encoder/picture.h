// The picture's way through ffmpeg: deinterlacing, tone mapping, the output size, the pixel
// format and the colour tags, chosen from what the source's video stream holds.
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "probe.h"

namespace vidmora::encoder {

struct PicturePlan {
  std::vector<std::string> filters;  // joined with ',' into one -vf
  std::string pixelFormat;           // -pix_fmt, empty = ffmpeg's choice
  std::vector<std::string> colour;   // -color_primaries ... options of the output
  std::vector<std::string> notes;    // for the log
  // Where in `filters` a subtitle drawn into the picture goes: after the crop and the
  // deinterlacing, before any scaling.
  std::size_t burnAt = 0;
  int width = 0, height = 0;  // of the picture that goes out (0 when not known)
};

// The crop (-crop) comes first; ffmpeg has turned a rotated picture upright before it, so its
// sides are those of the picture as shown.
// modern: a modern profile's line (progressive output, the frame-size target, its own pixel
// format); the classic lines only get what their encoder needs to show the picture right.
PicturePlan planPicture(const LegacyOptions& options, const SourceInfo& source,
                        const std::string& encoder, bool modern);

}  // namespace vidmora::encoder
