#include "videolist/row_shape.h"

#include <algorithm>

namespace vidmora {

bool RowShape::empty() const {
  return trimStart < 0 && trimEnd < 0 && !cropAuto && !crop && !audioTracks && !subtitleTracks &&
         !burnSubtitles && targetSizeBytes == 0;
}

double shapedSeconds(const RowShape* shape, double sourceSeconds) {
  if (!shape || !shape->trimmed()) return sourceSeconds;
  const double start = std::max(0.0, shape->trimStart);
  double end = shape->trimEnd >= 0 ? shape->trimEnd : sourceSeconds;
  // An unknown source length: the trim's own span when it has an end, unknown otherwise.
  if (sourceSeconds > 0) end = std::min(end, sourceSeconds);
  if (end <= 0) return 0;
  return std::max(0.0, end - start);
}

}  // namespace vidmora
