// Cell texts, status texts and row images of the list view.
#include "engine/list_texts.h"

#include "engine/progress_channel.h"
#include "platform/format.h"
#include "platform/texts.h"
#include "settings/profiles.h"

namespace vidmora {

int rowImage(const VideoEntry& entry) {
  switch (entry.stateValue()) {
    case Ready:
      return 0;
    case Done:
      return 2;
    case NotFound:
    case Cancelled:
    case CancelledNotFound:
    case ConversionError:
      return 3;
    default:
      return 1;
  }
}

std::string durationText(uint32_t seconds) {
  return texts::fillText("%02u:%02u:%02u", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
}

std::string nameText(const VideoEntry& entry) {
  // Once a conversion has reserved its output, the row names that file ("clip(1).mp4").
  if (entry.stateValue() != Ready && !entry.outputPath.empty()) {
    const std::size_t slash = entry.outputPath.rfind('/');
    return slash == std::string::npos ? entry.outputPath : entry.outputPath.substr(slash + 1);
  }
  if (entry.outputName.empty()) return "NoName";
  const char* ext = profileById(entry.profileId).Extension;
  return entry.outputName + " (." + (ext ? ext : "") + ")";
}

std::string statusText(const VideoEntry& entry, const ProgressBlock* progress, uint32_t nowTick) {
  switch (entry.stateValue()) {
    case Pending:
      return "Pending";
    case Ready:
      return "Ready  (" + formatSize(entry.sourceSizeBytes) + ")";
    case Starting:
      return "Starting";
    case GettingInfo:
    case Downloading: {
      std::string text = entry.stateValue() == GettingInfo ? "Get Video Info  " : "Downloading  ";
      if (entry.transferPhase == 2) text += formatTransfer(entry.transferredBytes, entry.sizeBytes);
      return text;
    }
    case NotFound:
      return "Not found";
    case Converting: {
      double percent = 0.0;
      if (progress && progress->readSlotPercent(entry.progressSlot, percent)) {
        // A paused conversion has no time left to show: it does not move.
        if (entry.pausedTick != 0) return texts::fillText("Convert %.1f%% ", percent) + "Paused";
        return texts::fillText("Convert %.1f%% ", percent) +
               formatTimeLeft(entry.startTick, percent, nowTick);
      }
      return entry.pausedTick != 0 ? "Converting Paused" : "Converting";
    }
    case Done:
      return "OK     (" + formatSize(entry.sizeBytes) + ")";
    case Cancelled:
      return "Cancelled";
    case CancelledNotFound:
      return "Cancelled (not found)";
    case ConversionError:
      return *entry.failureText ? entry.failureText : "Conversion Error";
    default:
      return "";
  }
}

std::string statusText(const VideoEntry& entry, const ProgressBlock* progress) {
  return statusText(entry, progress, tickCount());
}

std::string batchCountText(int converted, int total) {
  return texts::fillText("%d of %d converted", converted, total);
}

std::string cellText(const VideoEntry& entry, int column, const ProgressBlock* progress) {
  switch (column) {
    case ColumnSource:
      return entry.sourcePath;
    case ColumnDuration:
      // A trimmed row shows the length it will be converted to.
      return durationText(static_cast<uint32_t>(
          shapedSeconds(entry.shape.get(), static_cast<double>(entry.durationSeconds)) + 0.5));
    case ColumnName:
      return nameText(entry);
    case ColumnStatus:
      return statusText(entry, progress);
    default:
      return "";
  }
}

}  // namespace vidmora
