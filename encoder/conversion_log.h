// The log of one conversion, in the file the app names in VIDMORA_LOG_FILE (see
// platform/job_log.h for its form). Every run appends a section: the encoder's decisions,
// ffmpeg's messages, and for a failed run the reason in one sentence. ffmpeg's messages are
// bounded per run: the first part is written as it comes, the rest keeps only its end, which
// is written when the run ends, after a line telling how much was left out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vidmora::encoder {

class ConversionLog {
 public:
  static constexpr std::size_t HeadLimit = 192 * 1024;
  static constexpr std::size_t TailLimit = 64 * 1024;

  ConversionLog() = default;
  ~ConversionLog();  // writes what is kept of ffmpeg's messages and closes the file
  ConversionLog(const ConversionLog&) = delete;
  ConversionLog& operator=(const ConversionLog&) = delete;

  // Opens `path` for appending and starts a section naming the source; false (and nothing is
  // ever written) when the path is empty or cannot be opened.
  bool open(const std::string& path, const std::string& source);
  bool isOpen() const { return fd_ >= 0; }

  void note(const std::string& text);                  // an "encoder: " line
  void ffmpegOutput(const char* data, std::size_t n);  // ffmpeg's standard error, any pieces
  void reason(const std::string& sentence);            // the run's "reason: " line
  bool hasReason() const { return hasReason_; }
  // ffmpeg's messages of the run so far (the kept part), for deciding the reason.
  const std::string& ffmpegText() const { return ffmpegText_; }

 private:
  void writeLine(const char* prefix, const std::string& text);
  void flushFfmpeg();

  int fd_ = -1;
  bool hasReason_ = false;
  std::size_t ffmpegWritten_ = 0;  // bytes of ffmpeg's messages written so far
  std::size_t ffmpegDropped_ = 0;  // bytes left out between the head and the kept tail
  std::string partialLine_;        // ffmpeg's current line until its end arrives
  std::string tail_;               // kept end of ffmpeg's messages past the head limit
  std::string ffmpegText_;         // the last TailLimit bytes, whatever was written
};

// Arguments as a shell would need them, for showing a command line in the log.
std::string quotedLine(const std::vector<std::string>& args);

// "00:01:12" for seconds (negative counts as 0).
std::string clockText(double seconds);

}  // namespace vidmora::encoder
