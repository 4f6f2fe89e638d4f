// Decides whether the audio encoder accepts the line's audio options (bit rate, channels, sample
// rate) by opening it through libavcodec with exactly those values, before any output exists.
#pragma once

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

}  // namespace vidmora::encoder
