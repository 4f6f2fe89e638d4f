// A buffered, little-endian binary file stream with counted texts and signatures: the layer
// beneath the settings file and the history file. It knows no file layout of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

namespace vidmora {

class RecordStream {
 public:
  enum class Mode { Read, Write };
  static constexpr std::size_t DefaultBufferSize = 10000;

  // Reading: an existing regular file. Writing: created or truncated (rw for user, group and
  // others, less the umask). No stream when the file cannot be opened.
  static std::unique_ptr<RecordStream> open(const std::string& path, Mode mode,
                                            std::size_t bufferSize = DefaultBufferSize);
  // Takes over an open descriptor (closed by the stream).
  static std::unique_ptr<RecordStream> fromFd(int fd, Mode mode,
                                              std::size_t bufferSize = DefaultBufferSize);
  // Reads a block of memory that the caller keeps alive while the stream exists.
  static std::unique_ptr<RecordStream> fromMemory(const void* data, std::size_t size,
                                                  std::size_t bufferSize = DefaultBufferSize);

  ~RecordStream();
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;

  // False once any write to the file failed.
  bool ok() const { return ok_; }
  // Writing: hands the waiting bytes to the file.
  bool flush();
  // Writing: flush, then make the file's data durable (fsync).
  bool sync();
  // Writes what waits and closes the file; true when every byte reached the file. Idempotent.
  bool close();

  // Bytes taken (fewer only when the file refused them).
  std::size_t write(const void* data, std::size_t n);
  // Bytes delivered, 0 at the end of the file, negative on a read error. Writing mode: n.
  int64_t read(void* data, std::size_t n);
  // Reading: passes over up to n bytes; returns how many were passed.
  uint64_t skip(uint64_t n);
  bool seek(uint64_t offset);

  // Numbers, little-endian. A read sets the value only when all its bytes arrived and returns
  // the bytes read.
  template <typename T>
  bool writeNumber(T value) {
    static_assert(std::is_arithmetic_v<T>);
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));  // the program only runs little-endian
    return write(bytes, sizeof(T)) == sizeof(T);
  }
  template <typename T>
  int readNumber(T& value) {
    static_assert(std::is_arithmetic_v<T>);
    unsigned char bytes[sizeof(T)];
    const int64_t got = read(bytes, sizeof(T));
    if (got == static_cast<int64_t>(sizeof(T))) std::memcpy(&value, bytes, sizeof(T));
    return got < 0 ? 0 : static_cast<int>(got);
  }

  // Counted texts: a 16-bit or 32-bit length, then the bytes without terminator. A text that
  // the end of the file cuts off comes back empty, with false.
  // writeText16: false (and an empty text written) for a text longer than 65535 bytes.
  bool writeText16(const std::string& text);
  // Reads a text of at most maxLength bytes. A length that is negative (as a signed 16-bit
  // number) or above maxLength leaves `out` empty, passes over the stored bytes (the length
  // taken as unsigned) so later fields stay in step, and returns false. Otherwise returns
  // whether the whole text arrived.
  bool readText16(std::string& out, std::size_t maxLength);
  // A 32-bit counted text: keeps at most limit - 1 bytes of the stored text and passes over the
  // rest; true when the whole stored text arrived (cut or not).
  bool readText32(std::string& out, std::size_t limit);

  // A signature is the text's bytes without length or terminator; the check is exact.
  bool writeSignature(const char* text);
  bool checkSignature(const char* text);

 private:
  RecordStream(Mode mode, std::size_t bufferSize);
  bool readCounted(std::string& out, uint64_t length, std::size_t keep);
  bool refill();
  int64_t sourceRead(unsigned char* into, std::size_t n);
  bool writeOut(const unsigned char* data, std::size_t n);

  Mode mode_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t bufferSize_;
  std::size_t filled_ = 0;   // reading: bytes of the buffer holding file data
  std::size_t pos_ = 0;      // reading: next byte to hand out; writing: bytes waiting
  uint64_t fileOffset_ = 0;  // reading: offset after the last buffered byte; writing: offset
                             // where the waiting bytes go
  int fd_ = -1;
  const unsigned char* memory_ = nullptr;
  std::size_t memorySize_ = 0;
  bool ok_ = true;
  bool readError_ = false;
};

}  // namespace vidmora
