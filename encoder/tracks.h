// Which streams of the source a conversion carries besides its picture, and how: every sound
// track of a video (the default one first) with its channels, subtitles in a form the container
// holds, fonts of Matroska subtitles, and the cover of a song.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "container.h"
#include "options.h"
#include "probe.h"

namespace vidmora::encoder {

struct AudioTrack {
  int stream = -1;  // its index in the source
  int channels = 0;
  uint64_t layoutMask = 0;
  int sampleRate = 0;
};

struct TrackPlan {
  std::vector<AudioTrack> audio;  // in output order
  std::vector<int> others;        // subtitles, fonts, cover: mapped after the sound
  std::vector<std::string> args;  // their codec and disposition options
  std::vector<std::string> notes;
};

// modern: a modern profile's line; the classic lines carry one sound track and nothing else.
// audioChoice / subtitleChoice: the tracks the row keeps, as indexes among the source's audio /
// subtitle streams, in the order given (nullopt: the line's own rule chooses). burnedStream: the
// subtitle stream drawn into the picture, which is not carried as well.
TrackPlan planTracks(const SourceInfo& source, const ContainerChoice& container, bool mapVideo,
                     bool mapAudio, bool modern,
                     const std::optional<std::vector<int>>& audioChoice = std::nullopt,
                     const std::optional<std::vector<int>>& subtitleChoice = std::nullopt,
                     int burnedStream = -1);

// The index in the source of the `ordinal`-th stream of the type (-1 when there is none).
int nthStream(const SourceInfo& source, int type, int ordinal);

// The sound's filters and per-track options: a channel layout the encoder takes where it
// refuses the source's (said in `notes`), a bit rate that grows with the channels, the volume.
void appendAudioFilters(const LegacyOptions& options, const TrackPlan& tracks,
                        const std::string& encoder, std::vector<std::string>& args,
                        std::vector<std::string>& notes);

std::string joinedFilters(const std::vector<std::string>& filters);

}  // namespace vidmora::encoder
