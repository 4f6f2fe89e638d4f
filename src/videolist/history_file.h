// The list of converted videos kept between runs (history.bin beside the settings file).
// Little-endian: signature, 32-bit header value, 16-bit count, then the entry records.
#pragma once

#include <limits.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "videolist/video_entry.h"

namespace vidmora {

// Limits of the texts read back (characters kept; the rest of a longer text is skipped). The two
// paths come back whole up to the platform's path limit.
constexpr uint32_t HistorySourceLimit = PATH_MAX;
constexpr uint32_t HistoryNameLimit = 257;
constexpr uint32_t HistoryOutputLimit = PATH_MAX;

// Appends the entries of the file to the list (meant for an empty list) and reindexes. False
// when the file is missing, unreadable or carries neither signature (the list is unchanged).
// A file cut inside a record keeps the whole records before it. Pending loads as Cancelled.
bool loadHistory(VideoList& list, const std::string& path);
// The same from an open stream (fmemopen in the fuzz target).
bool readHistory(VideoList& list, std::FILE* file);

// Writes format 2 through a temporary file beside path (createSaveTemp), fsync and rename. Pending
// entries are set Cancelled (in memory too). False when nothing could be written; the old file then
// stays.
bool saveHistory(VideoList& list, const std::string& path);
// The bytes saveHistory writes.
std::string historyBytes(VideoList& list);

}  // namespace vidmora
