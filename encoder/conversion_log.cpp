#include "conversion_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/job_log.h"

namespace vidmora::encoder {

namespace {

void writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disk loses log lines, never the conversion
    done += static_cast<std::size_t>(n);
  }
}

// One line of text: control characters other than tabs become blanks.
std::string oneLine(const std::string& text, std::size_t limit = 4096) {
  std::string line = text.substr(0, limit);
  for (char& c : line)
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) c = ' ';
  return line;
}

}  // namespace

std::string clockText(double seconds) {
  const long total = seconds > 0 ? static_cast<long>(seconds) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

std::string quotedLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += ' ';
    if (!a.empty() && a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789-_=:./,+") == std::string::npos) {
      line += a;
      continue;
    }
    line += '\'';
    for (char c : a) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

ConversionLog::~ConversionLog() {
  if (fd_ < 0) return;
  flushFfmpeg();
  ::close(fd_);
}

bool ConversionLog::open(const std::string& path, const std::string& source) {
  if (path.empty() || fd_ >= 0) return false;
  // Non-blocking, so a FIFO or device in the log's place cannot hold the conversion up; only a
  // regular file is written to.
  fd_ =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  writeAll(fd_, std::string(LogRunMarker) + stamp + " (pid " + std::to_string(getpid()) + ") ==\n");
  note("source: " + source);
  return true;
}

void ConversionLog::writeLine(const char* prefix, const std::string& text) {
  if (fd_ >= 0) writeAll(fd_, prefix + oneLine(text) + "\n");
}

void ConversionLog::note(const std::string& text) {
  writeLine(LogEncoderPrefix, text);
}

void ConversionLog::reason(const std::string& sentence) {
  hasReason_ = true;
  flushFfmpeg();
  writeLine(LogReasonPrefix, sentence.substr(0, 500));
}

void ConversionLog::ffmpegOutput(const char* data, std::size_t n) {
  ffmpegText_.append(data, n);
  if (ffmpegText_.size() > 2 * TailLimit) ffmpegText_.erase(0, ffmpegText_.size() - TailLimit);
  if (fd_ < 0) return;
  partialLine_.append(data, n);
  std::size_t start = 0;
  for (std::size_t end; (end = partialLine_.find_first_of("\r\n", start)) != std::string::npos;
       start = end + 1) {
    if (end == start) continue;
    const std::string line =
        std::string(LogFfmpegPrefix) + oneLine(partialLine_.substr(start, end - start)) + "\n";
    if (tail_.empty() && ffmpegDropped_ == 0 && ffmpegWritten_ + line.size() <= HeadLimit) {
      writeAll(fd_, line);
      ffmpegWritten_ += line.size();
    } else {
      tail_ += line;
      if (tail_.size() > TailLimit) {
        const std::size_t cut = tail_.find('\n', tail_.size() - TailLimit);
        const std::size_t drop = cut == std::string::npos ? tail_.size() : cut + 1;
        ffmpegDropped_ += drop;
        tail_.erase(0, drop);
      }
    }
  }
  partialLine_.erase(0, start);
  // A line without an end is cut rather than kept growing.
  if (partialLine_.size() > 4096) {
    partialLine_ += '\n';
    ffmpegOutput("", 0);
  }
}

void ConversionLog::flushFfmpeg() {
  if (fd_ < 0) return;
  if (!partialLine_.empty()) {
    partialLine_ += '\n';
    ffmpegOutput("", 0);
  }
  if (ffmpegDropped_ > 0)
    note(std::to_string(ffmpegDropped_) + " bytes of ffmpeg's messages left out");
  writeAll(fd_, tail_);
  tail_.clear();
  ffmpegDropped_ = 0;
}

}  // namespace vidmora::encoder
