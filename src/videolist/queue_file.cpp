// The kept queue's file: its layout, the owners' check and the locked merge.
//
// Layout (all integers little-endian):
//   "VidmoraQueue"  u32 version
//   u32 n, then n settings records: i16 ProfileId, u8 DisableVideo, i16 FrameWidth,
//     i16 FrameHeight, f32 FrameRate, i16 VideoBitrate, i16 AspectMode, text VideoCodec,
//     u8 DisableAudio, i16 AudioBitrate, i16 Channels, i32 SampleRate, i16 Volume,
//     text AudioCodec, i16 Quality, i16 TargetHeight
//   u32 m, then m rows: u32 owner pid, u64 owner start time, i16 kind, i16 profileId, i16 state,
//     text source, text output name, text output path, u64 size, u32 duration,
//     u64 source size, i32 settings record (-1: none), u64 reservation dev, u64 reservation
//     inode, u8 created output
// A text is a u32 length and that many bytes.
#include "videolist/queue_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "platform/stale_files.h"

namespace vidmora {
namespace {

constexpr std::string_view Signature = "VidmoraQueue";
// Texts longer than this are not read back (no path or name comes near it).
constexpr uint32_t TextLimit = 1u << 16;

class Writer {
 public:
  template <typename T>
  void number(T value) {
    uint64_t v;
    if constexpr (std::is_same_v<T, float>) {
      uint32_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      v = bits;
    } else {
      v = static_cast<uint64_t>(value);
    }
    char b[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i) b[i] = static_cast<char>(v >> (8 * i));
    out.append(b, sizeof(T));
  }
  void text(const std::string& s) {
    number(static_cast<uint32_t>(s.size()));
    out += s;
  }
  std::string out;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  template <typename T>
  bool number(T& out) {
    if (in_.size() - pos_ < sizeof(T)) return false;
    uint64_t v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
      v |= static_cast<uint64_t>(static_cast<unsigned char>(in_[pos_ + i])) << (8 * i);
    pos_ += sizeof(T);
    if constexpr (std::is_same_v<T, float>) {
      const uint32_t bits = static_cast<uint32_t>(v);
      std::memcpy(&out, &bits, sizeof out);
    } else {
      out = static_cast<T>(v);
    }
    return true;
  }
  bool text(std::string& out) {
    uint32_t n = 0;
    if (!number(n) || n > TextLimit || in_.size() - pos_ < n) return false;
    out.assign(in_.data() + pos_, n);
    pos_ += n;
    return true;
  }

 private:
  std::string_view in_;
  std::size_t pos_ = 0;
};

void writeSettings(Writer& w, const ConversionSnapshot& s) {
  w.number(s.ProfileId);
  w.number(s.DisableVideo);
  w.number(s.FrameWidth);
  w.number(s.FrameHeight);
  w.number(s.FrameRate);
  w.number(s.VideoBitrate);
  w.number(s.AspectMode);
  w.text(s.VideoCodec);
  w.number(s.DisableAudio);
  w.number(s.AudioBitrate);
  w.number(s.Channels);
  w.number(s.SampleRate);
  w.number(s.Volume);
  w.text(s.AudioCodec);
  w.number(s.Quality);
  w.number(s.TargetHeight);
}

bool readSettings(Reader& r, ConversionSnapshot& s) {
  return r.number(s.ProfileId) && r.number(s.DisableVideo) && r.number(s.FrameWidth) &&
         r.number(s.FrameHeight) && r.number(s.FrameRate) && r.number(s.VideoBitrate) &&
         r.number(s.AspectMode) && r.text(s.VideoCodec) && r.number(s.DisableAudio) &&
         r.number(s.AudioBitrate) && r.number(s.Channels) && r.number(s.SampleRate) &&
         r.number(s.Volume) && r.text(s.AudioCodec) && r.number(s.Quality) &&
         r.number(s.TargetHeight);
}

// One row; false when the bytes ended inside it (nothing is kept of it then).
bool readRow(Reader& r, const std::vector<std::shared_ptr<const ConversionSnapshot>>& table,
             QueueRow& row) {
  int32_t settings = -1;
  uint8_t created = 0;
  if (!(r.number(row.owner.pid) && r.number(row.owner.startTime) && r.number(row.kind) &&
        r.number(row.profileId) && r.number(row.state) && r.text(row.sourcePath) &&
        r.text(row.outputName) && r.text(row.outputPath) && r.number(row.sizeBytes) &&
        r.number(row.durationSeconds) && r.number(row.sourceSizeBytes) && r.number(settings) &&
        r.number(row.reservationDev) && r.number(row.reservationIno) && r.number(created))) {
    return false;
  }
  if (settings >= 0 && static_cast<std::size_t>(settings) < table.size())
    row.settings = table[static_cast<std::size_t>(settings)];
  row.createdOutput = created != 0;
  return !row.sourcePath.empty();
}

// The kernel's start time of a process (field 22 of /proc/PID/stat); 0 when it is gone.
uint64_t processStartTime(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  // The command name (field 2) may hold blanks and parentheses: count from its last ')'.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) return 0;
  }
  return std::strtoull(field.c_str(), nullptr, 10);
}

// The advisory lock on "<path>.lock", held while the object lives.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

QueueOwner queueOwnerOf(uint32_t pid) {
  return QueueOwner{pid, processStartTime(pid)};
}

QueueOwner currentQueueOwner() {
  return queueOwnerOf(static_cast<uint32_t>(::getpid()));
}

bool queueOwnerAlive(const QueueOwner& owner) {
  return owner.pid != 0 && processStartTime(owner.pid) == owner.startTime;
}

std::string queueBytes(const std::vector<QueueRow>& rows) {
  std::unordered_map<const ConversionSnapshot*, int32_t> index;
  std::vector<const ConversionSnapshot*> table;
  for (const QueueRow& row : rows) {
    if (row.settings &&
        index.emplace(row.settings.get(), static_cast<int32_t>(table.size())).second)
      table.push_back(row.settings.get());
  }
  Writer w;
  w.out.reserve(64 + rows.size() * 160);
  w.out += Signature;
  w.number(QueueFileVersion);
  w.number(static_cast<uint32_t>(table.size()));
  for (const ConversionSnapshot* s : table) writeSettings(w, *s);
  w.number(static_cast<uint32_t>(rows.size()));
  for (const QueueRow& row : rows) {
    w.number(row.owner.pid);
    w.number(row.owner.startTime);
    w.number(row.kind);
    w.number(row.profileId);
    w.number(row.state);
    w.text(row.sourcePath);
    w.text(row.outputName);
    w.text(row.outputPath);
    w.number(row.sizeBytes);
    w.number(row.durationSeconds);
    w.number(row.sourceSizeBytes);
    w.number(row.settings ? index[row.settings.get()] : int32_t{-1});
    w.number(row.reservationDev);
    w.number(row.reservationIno);
    w.number(static_cast<uint8_t>(row.createdOutput ? 1 : 0));
  }
  return std::move(w.out);
}

QueueRead parseQueue(std::string_view bytes, std::vector<QueueRow>& rows) {
  if (bytes.substr(0, Signature.size()) != Signature) return QueueRead::Foreign;
  Reader r(bytes.substr(Signature.size()));
  uint32_t version = 0;
  if (!r.number(version) || version == 0) return QueueRead::Foreign;
  if (version > QueueFileVersion) return QueueRead::Newer;
  uint32_t count = 0;
  if (!r.number(count)) return QueueRead::Ok;
  std::vector<std::shared_ptr<const ConversionSnapshot>> table;
  for (uint32_t i = 0; i < count; ++i) {
    auto s = std::make_shared<ConversionSnapshot>();
    if (!readSettings(r, *s)) return QueueRead::Ok;
    table.push_back(std::move(s));
  }
  if (!r.number(count)) return QueueRead::Ok;
  for (uint32_t i = 0; i < count; ++i) {
    QueueRow row;
    if (!readRow(r, table, row)) break;
    rows.push_back(std::move(row));
  }
  return QueueRead::Ok;
}

QueueRead readQueueFile(const std::string& path, std::vector<QueueRow>& rows) {
  // Non-blocking so that a FIFO in the file's place cannot hang the open; only a regular file
  // is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? QueueRead::Missing : QueueRead::Foreign;
  struct stat st {};
  std::string bytes;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
  }
  ::close(fd);
  if (!ok) return QueueRead::Foreign;
  return parseQueue(bytes, rows);
}

bool saveQueue(const std::string& path, const QueueOwner& owner,
               const std::vector<QueueRow>& mine) {
  FileLock lock(path);
  if (!lock.held()) return false;
  std::vector<QueueRow> rows;
  const QueueRead read = readQueueFile(path, rows);
  if (read == QueueRead::Newer) return false;
  std::erase_if(rows, [&owner](const QueueRow& row) { return row.owner == owner; });
  rows.insert(rows.end(), mine.begin(), mine.end());
  return replaceFileAtomically(path, queueBytes(rows));
}

QueueRead takeOverQueue(const std::string& path, const QueueOwner& owner,
                        std::vector<QueueRow>& taken) {
  FileLock lock(path);
  if (!lock.held()) return QueueRead::Missing;
  std::vector<QueueRow> rows;
  const QueueRead read = readQueueFile(path, rows);
  if (read != QueueRead::Ok) return read;
  bool changed = false;
  for (QueueRow& row : rows) {
    // The owner's own rows come back too (a second load in the same run).
    if (!(row.owner == owner) && queueOwnerAlive(row.owner)) continue;
    row.owner = owner;
    taken.push_back(row);
    changed = true;
  }
  if (changed) replaceFileAtomically(path, queueBytes(rows));
  return read;
}

}  // namespace vidmora
