// History file reader and writer. The reader takes one record at a time into local values and
// appends the entry only when the whole record arrived, so a cut file never yields half an entry.
#include "videolist/history_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/stale_files.h"
#include "platform/texts.h"

namespace vidmora {
namespace {

class Reader {
 public:
  explicit Reader(std::FILE* f) : file_(f) {}
  bool bytes(void* out, std::size_t n) { return std::fread(out, 1, n, file_) == n; }
  template <typename T>
  bool number(T& out) {
    unsigned char b[sizeof(T)];
    if (!bytes(b, sizeof(T))) return false;
    uint64_t v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<uint64_t>(b[i]) << (8 * i);
    out = static_cast<T>(v);
    return true;
  }
  bool skip(uint64_t n) {
    char buffer[4096];
    while (n > 0) {
      const std::size_t chunk = n < sizeof(buffer) ? static_cast<std::size_t>(n) : sizeof(buffer);
      if (!bytes(buffer, chunk)) return false;
      n -= chunk;
    }
    return true;
  }
  // 32-bit counted text; at most `limit` characters are kept, the rest is skipped.
  bool text(std::string& out, uint32_t limit) {
    uint32_t n = 0;
    if (!number(n)) return false;
    const uint32_t kept = n < limit ? n : limit;
    out.assign(kept, '\0');
    if (kept > 0 && !bytes(out.data(), kept)) return false;
    return skip(n - kept);
  }

 private:
  std::FILE* file_;
};

class Writer {
 public:
  void bytes(const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); }
  template <typename T>
  void number(T value) {
    const uint64_t v = static_cast<uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  }
  void text(const std::string& s) {
    number(static_cast<uint32_t>(s.size()));
    bytes(s.data(), s.size());
  }
  std::string out;
};

bool matchSignature(std::FILE* f, const char* signature) {
  const std::size_t n = std::strlen(signature);
  std::vector<char> got(n);
  return std::fread(got.data(), 1, n, f) == n && std::memcmp(got.data(), signature, n) == 0;
}

// One record into a new entry; nullptr when the stream ended inside it.
std::unique_ptr<VideoEntry> readRecord(Reader& in, int format) {
  int16_t kind = 0, profileId = 0, state = 0, phase = 0;
  std::string source, name, output;
  uint64_t size = 0;
  uint32_t duration = 0;
  if (!in.skip(12) || !in.number(kind) || !in.number(profileId)) return nullptr;
  if (!in.text(source, HistorySourceLimit) || !in.text(name, HistoryNameLimit) ||
      !in.text(output, HistoryOutputLimit)) {
    return nullptr;
  }
  if (!in.number(state) || !in.number(phase)) return nullptr;
  if (format == 2) {
    if (!in.number(size)) return nullptr;
  } else {
    int32_t small = 0;
    if (!in.number(small)) return nullptr;
    size = static_cast<uint64_t>(static_cast<int64_t>(small));  // sign-extended
  }
  if (!in.number(duration)) return nullptr;
  auto entry = std::make_unique<VideoEntry>(std::move(source));
  entry->kind = kind;
  entry->profileId = profileId;
  entry->outputName = std::move(name);
  entry->outputPath = std::move(output);
  entry->setState(state == Pending ? static_cast<int16_t>(Cancelled) : state);
  entry->transferPhase = phase;
  entry->sizeBytes = size;
  entry->durationSeconds = duration;
  return entry;
}

}  // namespace

bool readHistory(VideoList& list, std::FILE* file) {
  if (!file) return false;
  int format = 0;
  if (matchSignature(file, texts::HistorySignature2)) {
    format = 2;
  } else if (std::fseek(file, 0, SEEK_SET) == 0 && matchSignature(file, texts::HistorySignature1)) {
    format = 1;
  } else {
    return false;
  }
  Reader in(file);
  uint32_t header = 0;
  int16_t count = 0;
  if (!in.number(header)) return false;
  list.headerValue = header;
  if (in.number(count)) {
    for (int i = 0; i < count; ++i) {
      std::unique_ptr<VideoEntry> entry = readRecord(in, format);
      if (!entry) break;
      list.append(std::move(entry));
    }
  }
  trimToMax(list);
  reindex(list);
  return true;
}

bool loadHistory(VideoList& list, const std::string& path) {
  // Non-blocking so that a FIFO in the file's place cannot hang the open; only a regular file
  // is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  std::FILE* f = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    return false;
  }
  const bool ok = readHistory(list, f);
  std::fclose(f);
  return ok;
}

std::string historyBytes(VideoList& list) {
  Writer out;
  out.bytes(texts::HistorySignature2, std::strlen(texts::HistorySignature2));
  out.number(list.headerValue);
  const int count = list.count() < MaxEntries ? list.count() : MaxEntries;
  out.number(static_cast<int16_t>(count));
  static const char zeros[12] = {};
  for (int i = 0; i < count; ++i) {
    VideoEntry& e = list.at(i);
    if (e.stateValue() == Pending) e.setState(Cancelled);
    out.bytes(zeros, sizeof(zeros));
    out.number(e.kind);
    out.number(e.profileId);
    out.text(e.sourcePath);
    out.text(e.outputName);
    out.text(e.outputPath);
    out.number(e.stateValue());
    out.number(e.transferPhase);
    out.number(e.sizeBytes);
    out.number(e.durationSeconds);
  }
  return std::move(out.out);
}

bool saveHistory(VideoList& list, const std::string& path) {
  return replaceFileAtomically(path, historyBytes(list));
}

}  // namespace vidmora
