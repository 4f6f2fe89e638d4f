// A target file size: the bit rates worked out from it, the encoder's two passes and the private
// folder that holds their statistics.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/target_size.h"
#include "options.h"
#include "translate.h"

namespace vidmora::encoder {

// A folder of this process's own (mode 0700) under $TMPDIR or /tmp, removed with all it holds
// when the object goes. Never beside the output.
class PassFolder {
 public:
  PassFolder();
  ~PassFolder();
  PassFolder(const PassFolder&) = delete;
  PassFolder& operator=(const PassFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What planTargetSize needs, from the line and its translation at the profile's own rates.
// seconds: the length converted.
TargetSizeInput targetSizeInput(const LegacyOptions& options, const Translation& t, double seconds);

// Whether the encoder runs an analysis pass before the one that writes (libsvtav1 in this
// ffmpeg has none: it encodes once and the size is corrected by encoding again).
bool hasFirstPass(const std::string& videoEncoder);

// The arguments of a conversion line for one pass. Pass 1 analyses the picture alone and writes
// nothing; pass 2 writes the output with pass 1's statistics. Both take frames in the same way
// (pass 1 writes into no container, which would otherwise let every frame through), so their
// frame counts agree. pass 0: an encoder without passes, the arguments unchanged.
std::vector<std::string> passArgs(std::vector<std::string> args, const std::string& videoEncoder,
                                  int pass, const std::string& folder, const std::string& muxer);

// The arguments of a run that encodes the sound of a conversion line alone, as the line would,
// into `file`: how much of the target the sound really takes.
std::vector<std::string> soundArgs(std::vector<std::string> args, const std::string& file);

// The line's options at a planned rate: video at `videoBitrate` (no quality level), sound at
// `audioBitrate` per track.
LegacyOptions atBitrates(const LegacyOptions& options, long videoBitrate, long audioBitrate);

// How far the output may land from its target: within [MinShare, 1] of it.
constexpr double TargetMinShare = 0.95;
// Passes at most, an analysis pass included, before a size that still misses is given up on.
constexpr int TargetMaxPasses = 4;

}  // namespace vidmora::encoder
