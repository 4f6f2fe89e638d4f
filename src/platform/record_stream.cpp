#include "platform/record_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vidmora {

RecordStream::RecordStream(Mode mode, std::size_t bufferSize)
    : mode_(mode),
      buffer_(new unsigned char[std::max<std::size_t>(bufferSize, 16)]),
      bufferSize_(std::max<std::size_t>(bufferSize, 16)) {}

RecordStream::~RecordStream() {
  close();
}

std::unique_ptr<RecordStream> RecordStream::open(const std::string& path, Mode mode,
                                                 std::size_t bufferSize) {
  int fd = -1;
  if (mode == Mode::Read) {
    // Non-blocking so that a FIFO in the file's place cannot hang the open; only regular
    // files are read.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return nullptr;
    }
  } else {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
  }
  return fromFd(fd, mode, bufferSize);
}

std::unique_ptr<RecordStream> RecordStream::fromFd(int fd, Mode mode, std::size_t bufferSize) {
  if (fd < 0) return nullptr;
  std::unique_ptr<RecordStream> stream(new RecordStream(mode, bufferSize));
  stream->fd_ = fd;
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  stream->fileOffset_ = at > 0 ? static_cast<uint64_t>(at) : 0;
  return stream;
}

std::unique_ptr<RecordStream> RecordStream::fromMemory(const void* data, std::size_t size,
                                                       std::size_t bufferSize) {
  std::unique_ptr<RecordStream> stream(new RecordStream(Mode::Read, bufferSize));
  stream->memory_ = static_cast<const unsigned char*>(data);
  stream->memorySize_ = data ? size : 0;
  return stream;
}

bool RecordStream::writeOut(const unsigned char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t done = ::write(fd_, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      ok_ = false;
      return false;
    }
    data += done;
    n -= static_cast<std::size_t>(done);
    fileOffset_ += static_cast<uint64_t>(done);
  }
  return true;
}

bool RecordStream::flush() {
  if (mode_ != Mode::Write || fd_ < 0) return ok_;
  const std::size_t waiting = pos_;
  pos_ = 0;
  if (waiting > 0) writeOut(buffer_.get(), waiting);
  return ok_;
}

bool RecordStream::sync() {
  if (!flush()) return false;
  if (fd_ >= 0 && ::fsync(fd_) != 0) ok_ = false;
  return ok_;
}

bool RecordStream::close() {
  if (fd_ < 0) return ok_;
  flush();
  if (::close(fd_) != 0 && mode_ == Mode::Write) ok_ = false;
  fd_ = -1;
  return ok_;
}

std::size_t RecordStream::write(const void* data, std::size_t n) {
  if (mode_ != Mode::Write || fd_ < 0 || !ok_) return 0;
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (pos_ + n >= bufferSize_ && !flush()) return 0;
  if (n >= bufferSize_) {
    // A block as large as the buffer goes straight to the file.
    const uint64_t before = fileOffset_;
    writeOut(bytes, n);
    return static_cast<std::size_t>(fileOffset_ - before);
  }
  std::memcpy(buffer_.get() + pos_, bytes, n);
  pos_ += n;
  return n;
}

int64_t RecordStream::sourceRead(unsigned char* into, std::size_t n) {
  if (memory_ || fd_ < 0) {
    if (fileOffset_ >= memorySize_) return 0;
    const std::size_t take =
        static_cast<std::size_t>(std::min<uint64_t>(n, memorySize_ - fileOffset_));
    std::memcpy(into, memory_ + fileOffset_, take);
    return static_cast<int64_t>(take);
  }
  for (;;) {
    const ssize_t got = ::read(fd_, into, n);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

bool RecordStream::refill() {
  // Keep the unread rest at the front, then fill the room after it.
  const std::size_t rest = filled_ - pos_;
  if (rest > 0 && pos_ > 0) std::memmove(buffer_.get(), buffer_.get() + pos_, rest);
  filled_ = rest;
  pos_ = 0;
  const int64_t got = sourceRead(buffer_.get() + filled_, bufferSize_ - filled_);
  if (got < 0) {
    readError_ = true;
    return false;
  }
  filled_ += static_cast<std::size_t>(got);
  fileOffset_ += static_cast<uint64_t>(got);
  return got > 0;
}

int64_t RecordStream::read(void* data, std::size_t n) {
  if (mode_ != Mode::Read) return static_cast<int64_t>(n);
  auto* out = static_cast<unsigned char*>(data);
  std::size_t delivered = 0;
  while (delivered < n) {
    if (pos_ == filled_ && !refill()) break;
    const std::size_t take = std::min(n - delivered, filled_ - pos_);
    std::memcpy(out + delivered, buffer_.get() + pos_, take);
    pos_ += take;
    delivered += take;
  }
  if (delivered == 0 && readError_) return -1;
  return static_cast<int64_t>(delivered);
}

uint64_t RecordStream::skip(uint64_t n) {
  if (mode_ != Mode::Read) return 0;
  uint64_t passed = 0;
  while (passed < n) {
    if (pos_ == filled_ && !refill()) break;
    const std::size_t take =
        static_cast<std::size_t>(std::min<uint64_t>(n - passed, filled_ - pos_));
    pos_ += take;
    passed += take;
  }
  return passed;
}

bool RecordStream::seek(uint64_t offset) {
  if (mode_ == Mode::Write && !flush()) return false;
  filled_ = pos_ = 0;
  if (!memory_ && fd_ >= 0) {
    if (offset > static_cast<uint64_t>(INT64_MAX) ||
        ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
      return false;
  }
  fileOffset_ = offset;
  return true;
}

bool RecordStream::writeText16(const std::string& text) {
  if (text.size() > 0xFFFF) {
    writeNumber(uint16_t{0});
    return false;
  }
  if (!writeNumber(static_cast<uint16_t>(text.size()))) return false;
  return write(text.data(), text.size()) == text.size();
}

bool RecordStream::readCounted(std::string& out, uint64_t length, std::size_t keep) {
  out.clear();
  const std::size_t wanted = static_cast<std::size_t>(std::min<uint64_t>(length, keep));
  // Grow as bytes arrive rather than trusting the stored length with an allocation.
  char chunk[512];
  std::size_t got = 0;
  while (got < wanted) {
    const int64_t n = read(chunk, std::min(sizeof chunk, wanted - got));
    if (n <= 0) {
      out.clear();  // a text cut off by the end of the file is not kept in part
      return false;
    }
    out.append(chunk, static_cast<std::size_t>(n));
    got += static_cast<std::size_t>(n);
  }
  const uint64_t rest = length - wanted;
  return skip(rest) == rest;
}

bool RecordStream::readText16(std::string& out, std::size_t maxLength) {
  out.clear();
  uint16_t raw = 0;
  if (readNumber(raw) != 2) return false;
  const auto length = static_cast<int16_t>(raw);
  if (length < 0 || static_cast<std::size_t>(length) > maxLength) {
    skip(raw);
    return false;
  }
  return readCounted(out, raw, raw);
}

bool RecordStream::readText32(std::string& out, std::size_t limit) {
  out.clear();
  uint32_t length = 0;
  if (readNumber(length) != 4) return false;
  return readCounted(out, length, limit > 0 ? limit - 1 : 0);
}

bool RecordStream::writeSignature(const char* text) {
  const std::size_t n = std::strlen(text);
  return write(text, n) == n;
}

bool RecordStream::checkSignature(const char* text) {
  const std::size_t n = std::strlen(text);
  std::string got;
  got.resize(n);
  if (read(got.data(), n) != static_cast<int64_t>(n)) return false;
  return std::memcmp(got.data(), text, n) == 0;
}

}  // namespace vidmora
