// Per-conversion logs: where they live, how a job's log is named and created, how old ones are
// pruned, and reading back the one-sentence reason the encoder wrote for a failure.
//
// A log is plain text written by the encoder (it gets the path in VIDMORA_LOG_FILE). Every run
// of the encoder appends a section that begins with a RunMarker line; its own decisions are
// "encoder: " lines, ffmpeg's messages "ffmpeg: " lines, and a failed run ends with one
// "reason: " line. Only the last section counts, so a run that is repeated without the audio
// options and then succeeds has no reason.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace vidmora {

inline constexpr const char* LogFileVariable = "VIDMORA_LOG_FILE";
inline constexpr const char* LogRunMarker = "== vidmora-encoder ";
inline constexpr const char* LogReasonPrefix = "reason: ";
inline constexpr const char* LogEncoderPrefix = "encoder: ";
inline constexpr const char* LogFfmpegPrefix = "ffmpeg: ";

// The environment entry that hands a job's log to the encoder ("VIDMORA_LOG_FILE=<path>"), for
// runHidden's extra environment.
inline std::string logFileAssignment(const std::string& logPath) {
  return std::string(LogFileVariable) + "=" + logPath;
}

// $XDG_STATE_HOME/vidmora/logs when XDG_STATE_HOME is an absolute path, else
// ~/.local/state/vidmora/logs; empty when there is no home either.
std::string logFolder();
std::string logFolderFor(const char* xdgStateHome, const std::string& home);
// Beside the logs: the folder of the per-process ledgers of reserved output names
// (ReservationLedger); empty when there is no home.
std::string reservationFolder();

// "YYYYMMDD-HHMMSS-<source name>.log" (local time); the source's name without its folder and
// extension, with '/' and control bytes replaced and cut to keep the name short.
std::string jobLogName(const std::string& sourcePath, std::time_t when);

// Creates the folder chain and a new empty log for the job (a "-2", "-3", ... suffix when the
// name is taken; an existing file is never reused). The path, or empty when it cannot be made.
std::string createJobLog(const std::string& folder, const std::string& sourcePath,
                         std::time_t when);

struct LogPruneLimits {
  long maxAgeSeconds = 30L * 24 * 3600;
  std::size_t maxCount = 500;
};
// Removes the folder's "*.log" files modified more than maxAge before `now`, then the oldest
// beyond maxCount. Other entries are left alone. Returns how many logs were removed.
std::size_t pruneJobLogs(const std::string& folder, std::time_t now,
                         const LogPruneLimits& limits = {});

// The reason of the last run in a log's text / file; empty when that run gave none (it
// succeeded, is still running, or the file cannot be read).
std::string logReasonFromText(const std::string& text);
std::string readLogReason(const std::string& logPath);

// A log's whole text for showing it, cut to its last maxBytes when longer; false when it
// cannot be read.
bool readLogText(const std::string& logPath, std::string& text, std::size_t maxBytes = 4 << 20);

}  // namespace vidmora
