// The choices of the modern profiles: quality levels, frame-size targets and exact frame rates.
// Shared by the app (settings, dialog, command line) and the encoder (the size rule).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vidmora {

// Stored in the settings record's extension block; the numbers are a stored format.
enum class QualityLevel : int16_t { Best = 0, High = 1, Balanced = 2, Small = 3, FixedBitrate = 4 };
constexpr int QualityLevelCount = 5;
constexpr QualityLevel DefaultQuality = QualityLevel::Balanced;

// "Best", "High", "Balanced", "Small", "Fixed bitrate" (the dialog's lines).
std::string qualityLabel(QualityLevel level);
// The option-language name: "best", "high", "balanced", "small"; empty for FixedBitrate.
std::string qualityName(QualityLevel level);
// Case-insensitive lookup of a level by its name or label ("balanced", "Fixed bitrate",
// "fixed"); nothing for an unknown name.
std::optional<QualityLevel> qualityByName(const std::string& name);
// A stored number that names no level (a damaged file) reads as the default level.
QualityLevel qualityFromStored(int value);

// Frame-size targets, ended by 0; -1 is Original (the source's own size).
extern const int16_t TargetHeights[];
// "1080p", or "Original" for -1.
std::string targetHeightLabel(int height);

// The output size for a target: the frame fits the target's box (16:9 of the target height,
// turned upright for a portrait source), keeps the source's display aspect ratio, is never
// larger than the source and has even sides. sarNum/sarDen: the source's sample aspect ratio
// (0 or 1 for square pixels). Original (-1) only evens out the source's display size.
struct FrameDims {
  int width = 0;
  int height = 0;
};
FrameDims fitFrame(int sourceWidth, int sourceHeight, int targetHeight, int sarNum = 1,
                   int sarDen = 1);

// The frame rate as the encoder gets it: the NTSC rates exactly ("24000/1001", "30000/1001",
// "60000/1001" for the stored 23.976, 29.976 and 59.94), other rates as whole or exact
// thousandths ("25", "12500/1000"); empty for Original (not above 0).
std::string exactFrameRate(double rate);

}  // namespace vidmora
