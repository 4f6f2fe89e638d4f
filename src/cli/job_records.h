// The small records a planned job leaves beside its output, keyed by its job id, and the
// exclusive step that decides which node converts a job.
//
//   .vidmora-<id>.claim   a node converts the job now: host, boot id, process id and its start
//                         time; its modification time is the node's heartbeat
//   .vidmora-<id>.done    the job's output passed its checks: output path, size, duration
//   .vidmora-<id>.failed  the last attempt failed: the reason from its log
//   .vidmora-lock         the output folder's lock, held only while a node decides
//
// Who converts is decided under the folder's lock (flock, which network file systems carry as
// well): the node that reserves the output name (the empty file made with O_EXCL, as every
// conversion does) and writes the claim owns the job. A claim whose process is gone (same host
// and boot) or whose heartbeat is older than the lease (another host) is dead: the next node
// removes what the dead one left (its reservation, its hidden part files) and converts again.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vidmora::cli {

struct RecordPaths {
  std::string done;
  std::string failed;
  std::string claim;
  std::string lock;
};
RecordPaths recordPaths(const std::string& output, const std::string& jobId);

struct DoneRecord {
  std::string job;
  std::string output;
  uint64_t size = 0;
  double duration = 0.0;  // the output's, seconds; 0 when not known
  std::string host;
  int64_t finished = 0;  // seconds since the epoch
};

struct FailedRecord {
  std::string job;
  std::string reason;
  std::string log;  // the log's path on `host`
  std::string host;
  int exitCode = 0;
  int64_t finished = 0;
};

struct Claim {
  std::string job;
  std::string output;
  std::string host;
  std::string boot;  // the kernel's boot id: a process id means nothing after a reboot
  long pid = 0;
  uint64_t pidStart = 0;  // the process's start time in clock ticks after boot
  int64_t started = 0;
};

// Records are written into a hidden temporary file and renamed into place, so a reader never
// sees half a record. Reading fails for a missing, damaged or foreign file.
bool writeDoneRecord(const std::string& path, const DoneRecord& record);
bool readDoneRecord(const std::string& path, DoneRecord& record);
bool writeFailedRecord(const std::string& path, const FailedRecord& record);
bool readFailedRecord(const std::string& path, FailedRecord& record);
bool writeClaim(const std::string& path, const Claim& claim);
bool readClaim(const std::string& path, Claim& claim);

// This process's claim on the job and its output.
Claim ownClaim(const std::string& jobId, const std::string& output);
// Renews the claim's heartbeat (its modification time).
bool touchClaim(const std::string& path);

inline constexpr int DefaultLeaseSeconds = 120;
enum class ClaimState { None, Alive, Dead };
// A claim of this host and boot lives as long as its process (same id, same start time); one
// of another host as long as its heartbeat is younger than leaseSeconds. A claim that cannot
// be read is dead once it is older than that as well.
ClaimState claimState(const std::string& path, int leaseSeconds, std::time_t now);

// Does a live claim of another job (of another plan) name this output? Its empty reservation
// is then no leftover.
bool claimedByAnotherJob(const std::string& output, const std::string& jobId, int leaseSeconds,
                         std::time_t now);

// Is the job done: its done record names this job and the output exists with the recorded size?
bool doneRecordMatches(const std::string& output, const std::string& jobId, DoneRecord* record);

// Removes the hidden part files of encoders that wrote `output` ("." + name + ".<pid>.XXXXXX"
// + ".vidmora-part"). Only for a job whose claim is owned or dead: no live encoder writes them.
int removePartFiles(const std::string& output);

// flock on the folder's lock file, held for the object's life; locked() is false when the file
// could not be made or locked.
class FolderLock {
 public:
  explicit FolderLock(const std::string& lockPath);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

std::string hostName();

}  // namespace vidmora::cli
