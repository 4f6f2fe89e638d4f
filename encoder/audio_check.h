// Decides whether the audio encoder accepts the line's audio options (bit rate, channels, sample
// rate) by opening it through libavcodec with exactly those values, before any output exists.
#pragma once

#include <cstdint>
#include <string>

namespace vidmora::encoder {

struct AudioRequest {
  std::string encoder;  // ffmpeg encoder name
  long bitrate = -1;    // bit/s, -1 = encoder default
  int channels = -1;    // -1 = the source's count (ffmpeg converts to one the encoder takes)
  int sampleRate = -1;  // -1 = the source's rate (likewise)
  int sourceChannels = 2;
  int sourceSampleRate = 44100;
};

enum class AudioCheck { Accepted, Rejected, NoSuchEncoder };

AudioCheck checkAudioOptions(const AudioRequest& request, std::string* reason = nullptr);

// For lines with -adapt: the request as given when the encoder takes it, otherwise with the
// nearest sample rate and channel count the encoder lists, and without the bit rate when that
// is still refused. `check` tells whether the result is accepted.
struct AudioFit {
  AudioCheck check = AudioCheck::Rejected;
  AudioRequest request;
};
AudioFit fitAudioOptions(const AudioRequest& request, std::string* reason = nullptr);

// The channels an encoder gets for a sound kept as it is: its own layout when the encoder takes
// it; otherwise a layout the encoder lists with as many channels, else the largest one below
// (5.1 for 7.1 into AC3, stereo for 5.1 into MP3), else the smallest above.
struct LayoutChoice {
  bool kept = true;
  std::string layout;  // when not kept: the layout's name, as aformat takes it
  int channels = 0;
  std::string sourceLayout;  // the source's layout described, for the log
};
LayoutChoice carriedLayout(const std::string& encoder, int channels, uint64_t layoutMask,
                           int sampleRate, long bitrate);

}  // namespace vidmora::encoder
