// One video of the list and the ordered, owning list itself.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"
#include "settings/settings.h"
#include "videolist/row_shape.h"
#include "videolist/source_details.h"

namespace vidmora {

// 16-bit states; 9..13 are unassigned and display as an empty status.
enum EntryState : int16_t {
  Starting = 0,
  GettingInfo = 1,  // only ever read from a history file
  Downloading = 2,  // only ever read from a history file
  NotFound = 3,     // only ever read from a history file
  Converting = 4,
  Done = 5,
  Cancelled = 6,
  CancelledNotFound = 7,  // only ever read from a history file
  ConversionError = 8,
  Pending = 14,
  Ready = 15,
};

// Unfinished: Starting..Converting (the history-only states between them included) or Pending.
inline bool isUnfinished(int state) {
  switch (state) {
    case Starting:
    case GettingInfo:
    case Downloading:
    case NotFound:
    case Converting:
    case Pending:
      return true;
    default:
      return false;
  }
}
// Finished: Done, Cancelled, CancelledNotFound or ConversionError.
inline bool isFinished(int state) {
  return state == Done || state == Cancelled || state == CancelledNotFound ||
         state == ConversionError;
}
// Claims its output name in the list: a conversion under way or Done. A Cancelled entry claims
// nothing; the partial file it kept holds the name on disk.
inline bool claimsOutputName(int state) {
  return (isUnfinished(state) && state != Pending) || state == Done;
}
// Removable: the entry may leave the list (or its video be deleted): finished or Ready.
inline bool isRemovable(int state) {
  return isFinished(state) || state == Ready;
}

constexpr int MaxEntries = 30000;

// Which file a name held: device, inode and change time (an inode number freed by a deleted file
// may come back for a new one; its change time then differs).
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t changeNs = 0;
  bool operator==(const FileIdentity&) const = default;
};
inline FileIdentity fileIdentity(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
          static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

// Where an entry stands in the running batch (guarded by the list lock).
enum class BatchStage : uint8_t { None, Queued, Running, Finished };

struct VideoEntry {
  explicit VideoEntry(std::string path) : sourcePath(std::move(path)) {}
  VideoEntry(const VideoEntry&) = delete;
  VideoEntry& operator=(const VideoEntry&) = delete;

  int16_t kind = 0;  // 1 = added from a local file
  int16_t profileId = 0;
  std::string sourcePath;
  std::string outputName;  // base name of the output; shown in the Name column
  std::string outputPath;  // file of the last conversion; empty until one computed it
  std::string logPath;     // log of the last conversion (memory only, not in the history file)
  // Written by the main thread (Stop) and by the entry's worker; read everywhere.
  std::atomic<int16_t> state{Starting};
  int16_t transferPhase = 0;
  uint64_t transferredBytes = 0;
  uint64_t sizeBytes = 0;  // output size once Done
  uint32_t durationSeconds = 0;
  uint32_t startTick = 0;  // tick at which the conversion left the Pending wait
  std::atomic<bool> stopRequested{false};
  std::atomic<uint32_t> stopTick{0};  // tick of the last stop request (a hung encoder is killed)
  int32_t listIndex = 0;
  int32_t progressSlot = -1;
  uint64_t sourceSizeBytes = 0;
  BatchStage batchStage = BatchStage::None;
  // In memory only (never in the history file), guarded by the list lock. createdOutput: the
  // file at outputPath was made by this entry's last conversion, so a stopped or failed entry
  // may delete it while outputIdentity still names it; nothing else is ever deleted on the
  // entry's behalf. failureText: the status a ConversionError row shows instead of the usual
  // text ("" for the usual one).
  bool createdOutput = false;
  FileIdentity outputIdentity;  // the file createdOutput names, as published
  const char* failureText = "";
  // Why the engine failed the conversion when the encoder could not say it (no encoder, no
  // output name); "" otherwise. In memory only, guarded by the list lock.
  std::string failureDetail;
  // What the probe found in the source (memory only); empty for entries read from the history.
  std::shared_ptr<const SourceDetails> details;

  // The row's own profile and conversion values (ProfileId included); null: the batch's. Shared
  // by the rows that got them together; replaced whole, never changed in place.
  std::shared_ptr<const ConversionSnapshot> ownSettings;
  // The row's trim, crop, tracks and target size; null: none. Replaced whole under the list lock.
  std::shared_ptr<const RowShape> shape;
  // The encoder's process group while it runs (pause and resume reach it through here).
  ChildGroup encoderGroup;
  // Guarded by the list lock. pausedTick: tick at which the running conversion was paused, 0
  // while it runs (time left does not count meanwhile). reservationDev/Ino: the empty file
  // reserved at outputPath for the running conversion (0 when none), so that a start after a
  // crash removes that file and nothing else. exitStopped: the program's end stopped the row,
  // which therefore comes back Ready.
  std::atomic<uint32_t> pausedTick{0};  // read by the cell texts without the lock
  uint64_t reservationDev = 0;
  uint64_t reservationIno = 0;
  bool exitStopped = false;

  int16_t stateValue() const { return state.load(std::memory_order_acquire); }
  void setState(int16_t s) { state.store(s, std::memory_order_release); }
  // from -> to only when the state is still `from` (a worker and a stop may meet).
  bool changeState(int16_t from, int16_t to) {
    return state.compare_exchange_strong(from, to, std::memory_order_acq_rel);
  }
  // Cancelled, unless the entry finished meanwhile.
  bool cancelUnfinished() {
    int16_t s = stateValue();
    while (isUnfinished(s)) {
      if (state.compare_exchange_weak(s, Cancelled, std::memory_order_acq_rel)) return true;
    }
    return false;
  }
};

// The ordered list of entries; new entries go to the end. Owns its entries.
class VideoList {
 public:
  int count() const { return static_cast<int>(entries_.size()); }
  VideoEntry& at(int i) { return *entries_[static_cast<std::size_t>(i)]; }
  const VideoEntry& at(int i) const { return *entries_[static_cast<std::size_t>(i)]; }
  void append(std::unique_ptr<VideoEntry> entry) { entries_.push_back(std::move(entry)); }
  // Takes the entry out; an empty pointer (nothing changes) for a bad index.
  std::unique_ptr<VideoEntry> removeAt(int i);
  // Exchanges the entries at two valid positions.
  void swapAt(int i, int j) {
    std::swap(entries_[static_cast<std::size_t>(i)], entries_[static_cast<std::size_t>(j)]);
  }
  void clear() { entries_.clear(); }

  uint32_t headerValue = 0;  // kept by the history file, read and written back unchanged

 private:
  std::vector<std::unique_ptr<VideoEntry>> entries_;
};

// Number of Ready entries; cancelledCount (when given) gets the number of Cancelled ones.
int countReady(const VideoList& list, int* cancelledCount = nullptr);
// Cancelled -> Ready for every entry; returns the number of Ready entries afterwards.
int requeueCancelled(VideoList& list);
// listIndex := position for every entry.
void reindex(VideoList& list);
// Drops entries at position 0 until at most maxEntries remain; reindexes. Returns how many.
int trimToMax(VideoList& list, int maxEntries = MaxEntries);
// Removes (from the last position to the first) every entry whose outputPath names no existing
// file (Ready entries included: their outputPath is empty); reindexes. Returns how many.
int removeMissingEntries(VideoList& list);

// Is the extension (with or without one leading '.') one of AcceptedExtensions, ignoring case.
bool isAcceptedExtension(const std::string& extension);
// The extension of a path: what follows the last '.' of its file name ("" when none).
std::string extensionOf(const std::string& path);
// The file name without folder and extension ("/a/clip.avi" -> "clip").
std::string baseNameOf(const std::string& path);

}  // namespace vidmora
