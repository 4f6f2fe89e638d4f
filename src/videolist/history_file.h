// The list of converted videos kept between runs (history.bin beside the settings file).
// Little-endian: signature, 32-bit header value, 16-bit count, then the entry records.
#pragma once

#include <limits.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "videolist/video_entry.h"

namespace vidmora {

class RecordStream;

// Limits of the texts read back (characters kept; the rest of a longer text is skipped). The two
// paths come back whole up to the platform's path limit.
constexpr uint32_t HistorySourceLimit = PATH_MAX;
constexpr uint32_t HistoryNameLimit = 257;
constexpr uint32_t HistoryOutputLimit = PATH_MAX;

// Appends the entries of the file to the list (meant for an empty list) and reindexes. False
// when the file is missing, unreadable or carries neither signature (the list is unchanged).
// A file cut inside a record keeps the whole records before it. Pending loads as Cancelled.
bool loadHistory(VideoList& list, const std::string& path);
// The same from a stream (a block of memory in the fuzz target).
bool readHistory(VideoList& list, RecordStream& stream);

// Writes format 2 through a temporary file beside path (createSaveTemp), fsync and rename. Pending
// entries are set Cancelled (in memory too). False when nothing could be written; the old file then
// stays.
bool saveHistory(VideoList& list, const std::string& path);
// The bytes saveHistory writes.
std::string historyBytes(VideoList& list);

// The records a program read from the history file, each named by its source and output path.
using HistoryKeys = std::set<std::pair<std::string, std::string>>;
HistoryKeys historyKeys(const VideoList& list);
// saveHistory for a program that shares the file with others (the window, vidmora-cli): under an
// exclusive lock on "<path>.lock" (waited for a few seconds at most), the Done records another
// program saved since this one read the file (in the file now, not among `known`, not in the
// list) are appended to the list, then the list is saved. So neither program loses a Done entry,
// and an entry this program's user removed does not come back.
bool saveSharedHistory(VideoList& list, const std::string& path, const HistoryKeys& known);

}  // namespace vidmora
