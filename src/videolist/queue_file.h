// The kept queue: every row that is not Done, with its own settings, in queue.bin of the state
// folder, so that the rows come back after a restart, a kill or a power loss. The window and
// vidmora-cli share the file: each row names the program run that owns it, a save replaces only
// the saver's own rows, and the rows of a run that has ended are taken over by the next start
// that loads the queue. Every read-modify-write holds an advisory lock on "<file>.lock".
//
// Little-endian: the signature "VidmoraQueue", a 32-bit version, the row count, then the rows,
// each with its settings (layout in queue_file.cpp). A file of a newer version is never
// overwritten.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"
#include "videolist/row_shape.h"
#include "videolist/video_entry.h"

namespace vidmora {

constexpr uint32_t QueueFileVersion = 2;

// A program run: its process id and the kernel's start time of that process, so that a later
// process with the same id is not taken for it.
struct QueueOwner {
  uint32_t pid = 0;
  uint64_t startTime = 0;
  bool operator==(const QueueOwner&) const = default;
};
QueueOwner currentQueueOwner();
// The owner record of a running process (start time 0 when there is no such process).
QueueOwner queueOwnerOf(uint32_t pid);
bool queueOwnerAlive(const QueueOwner& owner);

// One kept row. settings: the row's own profile and values (null: the batch's). shape: its
// trim, crop, tracks and target size (null: none; files of version 1 have none). reservation:
// the empty file reserved at outputPath for a conversion that was running (0 when none).
struct QueueRow {
  QueueOwner owner;
  int16_t kind = 0;
  int16_t profileId = 0;
  int16_t state = 0;
  std::string sourcePath;
  std::string outputName;
  std::string outputPath;
  uint64_t sizeBytes = 0;
  uint32_t durationSeconds = 0;
  uint64_t sourceSizeBytes = 0;
  std::shared_ptr<const ConversionSnapshot> settings;
  std::shared_ptr<const RowShape> shape;
  uint64_t reservationDev = 0;
  uint64_t reservationIno = 0;
  bool createdOutput = false;
};

enum class QueueRead { Ok, Missing, Foreign, Newer };

// Rows in the file's form, as a save takes them.
struct QueueRows {
  std::string bytes;
  uint32_t count = 0;
};
void appendQueueRow(QueueRows& rows, const QueueRow& row);
// The entry's row with the given state (the caller holds the list lock).
void appendQueueRow(QueueRows& rows, const QueueOwner& owner, const VideoEntry& entry,
                    int16_t state);

// The file's bytes; rows with equal settings share one record when read back.
std::string queueBytes(const std::vector<QueueRow>& rows);
// Reads the rows; a file cut inside a row keeps the rows before it. Foreign: not a queue file.
QueueRead parseQueue(std::string_view bytes, std::vector<QueueRow>& rows);
QueueRead readQueueFile(const std::string& path, std::vector<QueueRow>& rows);

// Under the lock: the file's rows of other owners stay as they are, the owner's rows become
// `mine` (after them). False when nothing was written (a newer version's file, a failed write,
// no lock); the old file then stays whole.
bool saveQueue(const std::string& path, const QueueOwner& owner, const QueueRows& mine);
bool saveQueue(const std::string& path, const QueueOwner& owner, const std::vector<QueueRow>& mine);
// Under the lock: takes over the rows of owners that have ended, and the owner's own (they come
// back in `taken` owned by `owner`, in file order) and writes the file with them so. Missing and
// Foreign files give nothing.
QueueRead takeOverQueue(const std::string& path, const QueueOwner& owner,
                        std::vector<QueueRow>& taken);

}  // namespace vidmora
