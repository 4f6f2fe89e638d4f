// The output is written under a hidden name in the destination folder and renamed to its final
// name only when ffmpeg has ended, so a crash never leaves a half-written file under that name.
#pragma once

#include <string>

namespace vidmora::encoder {

class TempOutput {
 public:
  explicit TempOutput(std::string finalPath);
  ~TempOutput();  // removes the temporary file unless it was committed
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  const std::string& path() const { return tempPath_; }
  // Whether the temporary file exists with at least one byte.
  bool hasData() const;
  // Renames the temporary file to the final path (replacing what is there).
  bool commit(std::string* error);

 private:
  std::string finalPath_;
  std::string tempPath_;
  bool committed_ = false;
};

}  // namespace vidmora::encoder
