// The expected size of a conversion's output, before it runs: for the window's rows and the
// batch total. Toolkit-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/quality.h"
#include "settings/settings.h"
#include "videolist/row_shape.h"
#include "videolist/source_details.h"

namespace vidmora {

struct EstimateInput {
  double seconds = 0;            // the length converted (a trimmed row: its part); 0 unknown
  uint64_t targetSizeBytes = 0;  // a target file size; 0 none
  bool remux = false;            // streams copied as they are
  uint64_t sourceBytes = 0;      // for a remux: the source's size and length
  double sourceSeconds = 0;
  bool video = true;
  std::string videoEncoder;  // "libx264", "libx265", "libvpx-vp9", "libsvtav1", others, or the
                             // profile's codec name ("H264", "HEVC")
  long videoBitrate = -1;    // bit/s of a fixed rate; -1: the quality level decides
  QualityLevel level = DefaultQuality;
  int width = 0, height = 0;  // the output's picture
  double frameRate = 0;
  long audioBitrate = -1;  // bit/s per track; -1: no sound
  int audioTracks = 1;
};

// A row's input: the source (its details when known, else its length in seconds), the values it
// is converted with and its shape (null: none).
EstimateInput estimateInputFor(const SourceDetails* source, double durationSeconds,
                               const ConversionSnapshot& values, const RowShape* shape);

// Bytes; 0 when nothing can be said (no length, no picture size for a quality level).
uint64_t estimateOutputBytes(const EstimateInput& input);
// The sum over the rows that can be estimated; `unknown` counts the others.
uint64_t estimateBatchBytes(const std::vector<EstimateInput>& rows, int* unknown = nullptr);

}  // namespace vidmora
