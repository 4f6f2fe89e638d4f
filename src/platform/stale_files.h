// Temporary files and progress blocks that a later start can prove to be its own leftovers.
//
// A temporary file carries its creator's process id in its name and is owned by the user; once
// that process is gone the file can only be a leftover of a killed save or conversion. A
// progress block is held by its app through an advisory lock on the open file description,
// which the kernel drops when the app dies; a block of the user's without that lock is stale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace vidmora {

// Creates "<finalPath>.<pid>.XXXXXX.vidmora-tmp" exclusively (mode 0600, close-on-exec) for a
// save that renames it over finalPath. Returns the descriptor, -1 on failure (errno set).
int createSaveTemp(const std::string& finalPath, std::string& tempPath);
// Replaces the file at path with data through such a temporary file: written, made durable and
// renamed over it (the rename made durable too). False when anything failed; the old file then
// stays as it was and no temporary file is left.
bool replaceFileAtomically(const std::string& path, const std::string& data);
// Reads a whole regular file of at most maxBytes bytes into `bytes`. The open never blocks (a
// FIFO in the file's place cannot hang it); anything but a regular file is NotRegular.
enum class FileRead { Ok, Missing, NotRegular, TooLarge, Failed };
FileRead readRegularFile(const std::string& path, std::string& bytes, std::size_t maxBytes);

// Creates the hidden "<folder>/.<name>.<pid>.XXXXXX.vidmora-part" beside finalPath
// exclusively, never through a link, with an unpredictable part. `extraFlags` is added to the
// open flags (O_CLOEXEC, ...). Returns the descriptor, -1 on failure (errno set).
int createHiddenPartFile(const std::string& finalPath, std::string& tempPath, int extraFlags);

// Whether `name` is one of the two temporary names above, and the pid it carries.
bool parseOwnTempName(const std::string& name, long& pid);

// Removes from `folder` the temporary files of the names above that belong to this user and
// whose process is gone. Returns how many were removed.
int removeStaleTempFiles(const std::string& folder);

// The temporary folder: TMPDIR when it is an absolute path, else /tmp.
std::string temporaryFolder();
// Creates the private folder "<parent>/vidmora-<what>.<pid>.XXXXXX" (mode 0700) for scratch work
// that is removed with all it holds when done. The path; empty on failure (errno set).
std::string createScratchFolder(const std::string& parent, const std::string& what);
// Removes from `parent` the scratch folders, with all they hold, of this user whose process is
// gone. Returns how many were removed.
int removeStaleScratchFolders(const std::string& parent);

// The output names a process reserved (empty files it created to hold a name for the encoder),
// recorded in "<folder>/reservations.<pid>.XXXXXX": a later start removes such a file only when
// the process is gone and the file is still the empty file it made (same device and inode).
// Recording is thread-safe; the ledger file is made at the first record and removed with the
// object (the process's reservations are all settled by then).
class ReservationLedger {
 public:
  explicit ReservationLedger(std::string folder) : folder_(std::move(folder)) {}
  ~ReservationLedger();
  ReservationLedger(const ReservationLedger&) = delete;
  ReservationLedger& operator=(const ReservationLedger&) = delete;
  // False when the ledger cannot be written (no folder): the reservation is then unrecorded.
  bool record(const std::string& path, uint64_t device, uint64_t inode);
  const std::string& path() const { return path_; }

 private:
  std::mutex mutex_;
  std::string folder_;
  std::string path_;
  int fd_ = -1;
};

// Removes, for every ledger in `folder` of this user whose process is gone, the reservations that
// are still empty regular files of this user with the recorded device and inode, then the ledger.
// Returns how many ledgers were settled.
int removeStaleReservations(const std::string& folder);

// Takes the advisory lock that marks a progress block as alive; held as long as the
// descriptor's open file description (or a mapping of it) lives. False when it cannot be set.
bool markProgressBlockAlive(int fd);

// Removes the user's progress blocks ("vidmora-" and twelve digits) in `shmFolder` that no
// living app holds; an empty one is being made and stays. Returns how many were removed.
int removeStaleProgressBlocks(const std::string& shmFolder = "/dev/shm");

}  // namespace vidmora
