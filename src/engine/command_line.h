// The encoder's command lines as argument vectors, written in the legacy option language: every
// path is one argument and can never add an option.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"
#include "videolist/row_shape.h"

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

// The row's part of the source, crop and track choice, put before the output path (the line's
// last argument). An automatic crop must have been found already (`crop` holds it); the
// subtitle burn-in and the target size are not written here.
void appendShapeOptions(EncoderCommand& command, const RowShape& shape);

EncoderCommand buildProbeLine(const std::string& encoderPath, const std::string& sourcePath,
                              int progressSlot, const std::string& mapName);

}  // namespace vidmora
