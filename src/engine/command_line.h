// The encoder's command lines as argument vectors, written in the legacy option language: every
// path is one argument and can never add an option.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"

namespace vidmora {

struct EncoderCommand {
  std::vector<std::string> argv;  // argv[0] is the encoder path
};

// Lower-case line name of a profile codec name (CodecNames), at most 49 characters.
std::string mapCodecName(const std::string& name);

// May raise snapshot.FrameRate to 20 for MPEG-1/2 video; the change stays in the snapshot.
EncoderCommand buildConversionLine(const std::string& encoderPath, const std::string& sourcePath,
                                   const std::string& outputPath, int progressSlot,
                                   const std::string& mapName, ConversionSnapshot& snapshot,
                                   bool noAudioOptions);

EncoderCommand buildProbeLine(const std::string& encoderPath, const std::string& sourcePath,
                              int progressSlot, const std::string& mapName);

}  // namespace vidmora
