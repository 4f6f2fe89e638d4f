// What the list view shows for an entry: the four cell texts and the row image.
#pragma once

#include <string>

#include "videolist/video_entry.h"

namespace vidmora {

class ProgressBlock;

enum ListColumn { ColumnSource = 0, ColumnDuration = 1, ColumnName = 2, ColumnStatus = 3 };

// Row images: 0 Ready, 2 Done, 3 NotFound/Cancelled/CancelledNotFound/ConversionError, 1 others.
int rowImage(const VideoEntry& entry);
// "HH:MM:SS" (hours may have more digits).
std::string durationText(uint32_t seconds);
// The reserved output file's name ("clip(1).mp4") once a conversion chose it, else
// "name (.ext)" or "NoName".
std::string nameText(const VideoEntry& entry);
// The Status column; Converting reads the entry's slot from progress (may be null).
std::string statusText(const VideoEntry& entry, const ProgressBlock* progress, uint32_t nowTick);
std::string statusText(const VideoEntry& entry, const ProgressBlock* progress);
// The batch's count for the front ends: "2 of 13 converted".
std::string batchCountText(int converted, int total);
// Any column; an unknown column gives "".
std::string cellText(const VideoEntry& entry, int column, const ProgressBlock* progress);

}  // namespace vidmora
