// Fills in a source's details (container, every stream, chapters) from an opened libavformat
// context, for the row's tooltip, Properties and vidmora-cli --info.
#pragma once

#include <cstdint>
#include <string>

#include "videolist/source_details.h"

struct AVFormatContext;

namespace vidmora::encoder {

// ic: opened, with its stream information found. sizeBytes: the file's size.
SourceDetails describeSource(const AVFormatContext* ic, uint64_t sizeBytes);

// Writes the JSON to the file named by DetailsFileVariable (never following a link at its
// name). False when the variable is unset or the file cannot be written.
bool writeDetailsIfAsked(const SourceDetails& details);
// Writes why the probe refused the source, in the same file, for the program that asked.
bool writeRefusalIfAsked(const std::string& reason);

}  // namespace vidmora::encoder
