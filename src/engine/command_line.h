// The encoder's command lines as argument vectors, written in the legacy option language: every
// path is one argument and can never add an option.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"
#include "videolist/row_shape.h"
#include "videolist/source_details.h"

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

// The row's part of the source, crop, track choice, target size and the subtitle drawn into the
// picture (`burnSubtitle`, its place among the source's subtitle streams; -1: none), put before
// the output path (the line's last argument). An automatic crop must have been found already
// (`crop` holds it).
void appendShapeOptions(EncoderCommand& command, const RowShape& shape, int burnSubtitle = -1);

// The subtitle drawn into a row's picture, as its place among the source's subtitle streams:
// with "Burn in subtitles" the first one the row keeps (without a choice, the one the track
// rules pick), else, for a profile whose files carry no subtitles, a forced one in the language
// of the sound or one of `languages`; -1: none.
int burnedSubtitle(const SourceDetails& source, const RowShape* shape, int16_t profileId,
                   const std::vector<std::string>& languages);

EncoderCommand buildProbeLine(const std::string& encoderPath, const std::string& sourcePath,
                              int progressSlot, const std::string& mapName);

}  // namespace vidmora
