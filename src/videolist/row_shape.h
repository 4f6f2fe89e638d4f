// How one row's conversion is shaped beyond its settings: a part of the source, a crop, the
// tracks kept, a subtitle burned into the picture, a target file size.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vidmora {

struct CropRect {
  int top = 0, bottom = 0, left = 0, right = 0;
  bool operator==(const CropRect&) const = default;
};

struct RowShape {
  double trimStart = -1;         // seconds into the source; < 0: from its beginning
  double trimEnd = -1;           // seconds into the source; < 0: to its end
  bool cropAuto = false;         // black bars detected before converting
  std::optional<CropRect> crop;  // explicit crop (even values)
  std::optional<std::vector<int>>
      audioTracks;  // indexes among the source's audio streams; nullopt: the rules choose
  std::optional<std::vector<int>> subtitleTracks;  // same for subtitle streams
  bool burnSubtitles = false;    // burn the first chosen subtitle into the picture
  uint64_t targetSizeBytes = 0;  // 0: the profile's quality; else a target file size
  bool empty() const;
  bool trimmed() const { return trimStart > 0 || trimEnd >= 0; }
  bool operator==(const RowShape&) const = default;
};

// The length the conversion of a source of `sourceSeconds` gets under the shape's trim (the
// source's own length without a shape or trim; 0 stays unknown).
double shapedSeconds(const RowShape* shape, double sourceSeconds);

}  // namespace vidmora
