// The one settings record of the program and the snapshot of its conversion fields.
#pragma once

#include <cstdint>
#include <string>

#include "settings/quality.h"

namespace vidmora {

constexpr std::size_t FolderTextLimit = 261;  // characters kept by the settings dialog
constexpr std::size_t CodecTextLimit = 49;

// How many conversions may run at once: MaxConversions held to 1..20 wherever it is used.
constexpr int MaxConversionsLimit = 20;
constexpr int clampConversions(int wanted) {
  return wanted < 1 ? 1 : (wanted > MaxConversionsLimit ? MaxConversionsLimit : wanted);
}

struct TSettings {
  std::string DestDir;
  std::string ReservedDir;
  std::string LastSourceDir;
  int16_t ProfileId = 600;
  uint8_t ShowToolbar = 1;
  uint8_t ReservedFlag = 1;
  uint8_t ShowSettingsPanel = 1;
  uint8_t ShowStatusBar = 1;
  int32_t LastUpdateCheckDay = 0;
  uint8_t TipAtStartup = 1;
  int16_t MaxConversions = 2;
  uint8_t SaveHistory = 1;
  uint8_t RemoveStopped = 1;
  uint8_t DisableVideo = 0;
  int16_t FrameWidth = 176;
  int16_t FrameHeight = 144;
  float FrameRate = 15.0f;
  int16_t VideoBitrate = 190;
  int16_t AspectMode = 0;
  uint8_t DisableAudio = 0;
  int16_t AudioBitrate = 32;
  int16_t Channels = 2;
  int32_t SampleRate = 8000;
  int16_t Volume = 100;
  std::string VideoCodec;  // at most CodecTextLimit characters
  std::string AudioCodec;
  uint8_t InternalPlayer = 1;
  uint8_t ShutdownAfter = 0;
  uint8_t ExitAfter = 0;
  // The modern profiles' choices (the settings file's extension block).
  int16_t Quality = static_cast<int16_t>(DefaultQuality);  // a QualityLevel
  int16_t TargetHeight = -1;                               // frame-size target, -1 = Original
  // Files added while a batch converts join it (1) or wait as Ready rows (0).
  uint8_t AddToRunningBatch = 1;
  // Which tracks and how much of the picture go out of rows that make no choice of their own.
  // PreferredLanguages: "eng, jpn", most wanted first; empty: the locale's languages.
  uint8_t OnlyPreferredLanguages = 0;  // 0: every sound track goes out
  std::string PreferredLanguages;
  uint8_t KeepOriginalLanguage = 1;  // with OnlyPreferredLanguages: the original's track too
  uint8_t DropCommentary = 0;
  uint8_t RemoveBlackBars = 0;  // black bars detected and cropped on every row

  bool operator==(const TSettings&) const = default;
};

// Same layout; only the folder texts and the conversion fields are copied into it.
using ConversionSnapshot = TSettings;

// Empties the folders, applies profile row 1, then the fixed defaults, volume 100, empty codecs.
void setDefaults(TSettings& s);
// Copies a profile's defaults (by table position) into the record.
void applyProfile(TSettings& s, int position);
// The settings dialog's frame-size chooser: the line it shows for the stored values (a size the
// profile lists, a quality profile's target height; anything else shows as line 0), -1 when
// the profile has no lines. setFrameSizeLine stores a line back.
int frameSizeLine(const TSettings& s);
void setFrameSizeLine(TSettings& s, int line);
// What a pass through the settings dialog makes of the stored frame size (the batch's dialog
// in the window; vidmora-cli applies it too, so equal settings give equal command lines).
void readBackFrameSize(TSettings& s);

// Copies the folder texts and conversion fields of the record into the snapshot.
void takeSnapshot(ConversionSnapshot& snapshot, const TSettings& s);

}  // namespace vidmora
