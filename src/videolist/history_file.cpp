// History file reader and writer. The reader (over a RecordStream, as the settings file's) takes
// one record at a time into local values and appends the entry only when the whole record
// arrived, so a cut file never yields half an entry.
#include "videolist/history_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/record_stream.h"
#include "platform/stale_files.h"
#include "platform/texts.h"

namespace vidmora {
namespace {

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

// One record into a new entry; nullptr when the stream ended inside it.
std::unique_ptr<VideoEntry> readRecord(RecordStream& in, int format) {
  int16_t kind = 0, profileId = 0, state = 0, phase = 0;
  std::string source, name, output;
  uint64_t size = 0;
  uint32_t duration = 0;
  // A text keeps at most its limit of characters (readText32 keeps one less than it is given).
  const auto text = [&in](std::string& out, uint32_t limit) {
    return in.readText32(out, std::size_t{limit} + 1);
  };
  const auto number = [&in](auto& value) {
    return in.readNumber(value) == static_cast<int>(sizeof value);
  };
  if (in.skip(12) != 12 || !number(kind) || !number(profileId)) return nullptr;
  if (!text(source, HistorySourceLimit) || !text(name, HistoryNameLimit) ||
      !text(output, HistoryOutputLimit)) {
    return nullptr;
  }
  if (!number(state) || !number(phase)) return nullptr;
  if (format == 2) {
    if (!number(size)) return nullptr;
  } else {
    int32_t small = 0;
    if (!number(small)) return nullptr;
    size = static_cast<uint64_t>(static_cast<int64_t>(small));  // sign-extended
  }
  if (!number(duration)) return nullptr;
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

bool readHistory(VideoList& list, RecordStream& in) {
  int format = 0;
  if (in.checkSignature(texts::HistorySignature2)) {
    format = 2;
  } else if (in.seek(0) && in.checkSignature(texts::HistorySignature1)) {
    format = 1;
  } else {
    return false;
  }
  uint32_t header = 0;
  int16_t count = 0;
  if (in.readNumber(header) != 4) return false;
  list.headerValue = header;
  if (in.readNumber(count) == 2) {
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
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const std::unique_ptr<RecordStream> in = RecordStream::fromFd(fd, RecordStream::Mode::Read);
  return in && readHistory(list, *in);
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

HistoryKeys historyKeys(const VideoList& list) {
  HistoryKeys keys;
  for (int i = 0; i < list.count(); ++i) keys.emplace(list.at(i).sourcePath, list.at(i).outputPath);
  return keys;
}

namespace {

// An exclusive lock on "<path>.lock", released when the descriptor closes; -1 when it could not
// be had within the wait (the save then goes ahead: a lost merge beats a lost save).
int lockHistory(const std::string& path) {
  const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    ::usleep(10000);
  }
  ::close(fd);
  return -1;
}

}  // namespace

bool saveSharedHistory(VideoList& list, const std::string& path, const HistoryKeys& known) {
  const int lock = lockHistory(path);
  VideoList onDisk;
  if (loadHistory(onDisk, path)) {
    HistoryKeys present = historyKeys(list);
    for (int i = 0; i < onDisk.count();) {
      const VideoEntry& e = onDisk.at(i);
      std::pair<std::string, std::string> key(e.sourcePath, e.outputPath);
      if (e.stateValue() != Done || known.count(key) || present.count(key)) {
        ++i;
        continue;
      }
      present.insert(std::move(key));
      list.append(onDisk.removeAt(i));
    }
    trimToMax(list);
    reindex(list);
  }
  const bool saved = saveHistory(list, path);
  if (lock >= 0) ::close(lock);
  return saved;
}

}  // namespace vidmora
