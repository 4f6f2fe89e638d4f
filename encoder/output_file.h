// The output is written into a hidden temporary file in the destination folder and published
// under its final name only when ffmpeg has ended, so a crash never leaves a half-written file
// under that name. The temporary file is created exclusively, never through a link, with an
// unpredictable name that carries the encoder's process id (a later start of the app removes
// it when this process died without doing so). ffmpeg writes into exactly that file: it is
// given this process's descriptor through /proc.
//
// Publishing never replaces another file: the final name is taken when it is free, and
// replaced only when it holds an empty regular file (the app's reservation of the name).
#pragma once

#include <cstdint>
#include <string>

#include "engine/encoder_contract.h"

namespace vidmora::encoder {

// Exit status when the final name holds something other than the app's empty reservation.
inline constexpr int ExitStatusOutputTaken = ExitOutputTaken;

// Whether a file may be published under `path`: nothing there (or nothing reachable), or an
// empty regular file.
bool outputNameFree(const std::string& path);

class TempOutput {
 public:
  explicit TempOutput(std::string finalPath);
  ~TempOutput();  // removes the temporary file unless it was published
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // False when the temporary file could not be created; error() says why.
  bool isOpen() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  const std::string& path() const { return tempPath_; }
  // The name ffmpeg opens to write into the temporary file (inherited descriptor).
  std::string writerPath() const;
  // Whether the temporary file holds at least one byte.
  bool hasData() const;
  // How many bytes it holds.
  uint64_t size() const;

  enum class Publish { Done, NameTaken, Failed };
  // Moves the temporary file to the final name under the rule above.
  Publish publish(std::string* error);

 private:
  std::string finalPath_;
  std::string tempPath_;
  std::string error_;
  int fd_ = -1;
  bool published_ = false;
};

}  // namespace vidmora::encoder
