// The compiled-in table of output profiles, its lookups and the labels of the settings choosers.
// Profiles are always referred to by Id: the Ids are a stored format (settings and history files).
#pragma once

#include <cstdint>
#include <string>

#include "settings/quality.h"

namespace vidmora {

struct FrameSize {
  int32_t width;  // 0 ends a list; -1 is "Original"
  int32_t height;
};

struct TOutputProfile {
  int16_t Id;  // -1 ends the table
  int16_t reserved1;
  const char* Name;
  int16_t FrameWidth, FrameHeight;  // -1 = Original
  float FrameRate;                  // -1.0 = Original
  int16_t VideoBitrate;             // kbit/s, -1 = Original
  int16_t AudioBitrate;             // kbit/s
  int16_t Channels;
  int16_t reserved2;
  int32_t SampleRate;      // Hz
  const char* VideoCodec;  // nullptr = absent; "" = empty
  const char* AudioCodec;
  const char* Format;  // container forced with -f, absent in every row
  const char* Extension;
  const char* ExtraOptions;
  uint8_t Adjustable;
  uint8_t AudioOnly;
  uint8_t reserved3[2];
  // Value lists, each ended by its marker (see below); nullptr = absent.
  const FrameSize* FrameSizes;     // ends with width 0
  const float* FrameRates;         // ends with 0.0
  const int16_t* VideoBitrates;    // ends with 0
  const char* const* VideoCodecs;  // ends with nullptr or ""
  const int16_t* AudioBitrates;    // ends with 0
  const int32_t* SampleRates;      // ends with 0
  const char* const* AudioCodecs;
};

// The 17 classic profiles, the modern ones after them (Ids from 9000 on), and the end row (Id -1).
extern TOutputProfile OutputProfiles[];
constexpr int ClassicProfileCount = 17;
constexpr int ProfileCount = 26;

// What a modern profile adds to its row. The classic rows have none.
enum class ProfileKind : uint8_t {
  Classic,
  QualityVideo,  // quality level or fixed bitrate, frame-size target, exact frame rate
  Remux,         // every stream copied as it is
  Sound,         // sound only; values the encoder rejects are mapped to the nearest valid one
};
struct ProfileExtras {
  int16_t id;
  ProfileKind kind;
  int16_t targetHeight;  // default frame-size target, -1 = Original
  QualityLevel quality;  // default quality
  bool qualityChoice;    // the dialog offers the quality levels
  bool lossless;         // no audio bit rate
};
// nullptr for a classic row (and for an Id that no row has).
const ProfileExtras* profileExtras(int16_t id);
ProfileKind profileKind(int16_t id);
// Frame rates of the modern video profiles: 23.976 and 29.976 stand for the NTSC rates.
extern const float ModernFrameRates[];
// Shared channel list of the classic rows: 1, 2, ended by 0.
extern const int16_t ChannelChoices[];
// The modern rows that encode sound also offer "Original" (-1), their default.
extern const int16_t ModernChannelChoices[];
// The channel list of a profile's row.
const int16_t* channelChoices(int16_t id);

// Gives every row without its own size, rate, bitrate or sample-rate list the default list.
// Idempotent; codec lists get no default.
void fillDefaultLists();

// The short name a profile goes by on the command line ("h264", "flac", ...); null for the
// profiles without one.
const char* profileAlias(int16_t id);
// The profile's name without its extension part: "Opus Audio" for "Opus Audio (*.opus)".
std::string profileShortName(const char* name);

// Position of the first row with this Id; 0 when no row has it.
int profileIndexById(int16_t id);
// The position itself when it names a row before the end row, otherwise 0.
int profileByPosition(int position);
const TOutputProfile& profileById(int16_t id);

// Index-of lookups: position of the first equal element, 0 when none is equal.
// rawOut (optional) receives -1 when nothing matched.
int indexOfInt16(const int16_t* list, int16_t value, int* rawOut = nullptr);
int indexOfInt32(const int32_t* list, int32_t value, int* rawOut = nullptr);
int indexOfFloat(const float* list, float value, int* rawOut = nullptr);
int indexOfFrameSize(const FrameSize* list, int16_t width, int16_t height);
int indexOfText(const char* const* list, const std::string& value);  // case-insensitive

// Labels of the settings choosers.
std::string frameSizeLabel(const FrameSize& size);
std::string bitrateLabel(int value);     // also sample rates: "%d" or "Original" for -1
std::string frameRateText(float rate);   // "23.976", "15"
std::string frameRateLabel(float rate);  // with the PAL / NTSC marks, "Original" when negative
std::string channelsLabel(int channels);
std::string volumeLabel(int lineIndex);  // 0..20 -> "0%".."500%", line 4 "100%  (normal)"
// Codec chooser lines of a row: the list entries upper-cased, or the row's own codec, or
// "(Default)".
std::string codecLabel(const char* codec);

}  // namespace vidmora
