// The kept queue's file: its layout, the owners' check and the locked merge.
//
// Layout (all integers little-endian):
//   "VidmoraQueue"  u32 version  u32 row count
//   each row: u32 owner pid, u64 owner start time, i16 kind, i16 profileId, i16 state,
//     text source, text output name, text output path, u64 size, u32 duration, u64 source size,
//     u64 reservation dev, u64 reservation inode, u8 created output, u8 has settings, and when
//     it has: i16 ProfileId, u8 DisableVideo, i16 FrameWidth, i16 FrameHeight, f32 FrameRate,
//     i16 VideoBitrate, i16 AspectMode, text VideoCodec, u8 DisableAudio, i16 AudioBitrate,
//     i16 Channels, i32 SampleRate, i16 Volume, text AudioCodec, i16 Quality, i16 TargetHeight;
//     from version 2 on then u8 has shape, and when it has: f64 trim start, f64 trim end,
//     u8 auto crop, u8 has crop [i32 top, bottom, left, right], u8 has audio tracks [list],
//     u8 has subtitle tracks [list], u8 burn subtitles, u64 target size; a list is a u32 count
//     and that many i32 indexes.
// A text is a u32 length and that many bytes. A save copies the other owners' rows byte for
// byte when the file has the current version (rows of an older one are read and written anew),
// so it never needs to understand more of them than their extent and owner.
#include "videolist/queue_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "platform/stale_files.h"

namespace vidmora {
namespace {

constexpr std::string_view Signature = "VidmoraQueue";
// Texts longer than this are not read back (no path or name comes near it).
constexpr uint32_t TextLimit = 1u << 16;
// Track lists longer than this are not read back.
constexpr uint32_t TrackListLimit = 4096;

class Writer {
 public:
  template <typename T>
  void number(T value) {
    uint64_t v;
    if constexpr (std::is_same_v<T, float>) {
      uint32_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      v = bits;
    } else if constexpr (std::is_same_v<T, double>) {
      std::memcpy(&v, &value, sizeof v);
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
  std::size_t position() const { return pos_; }
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
    } else if constexpr (std::is_same_v<T, double>) {
      std::memcpy(&out, &v, sizeof out);
    } else {
      out = static_cast<T>(v);
    }
    return true;
  }
  bool skip(std::size_t n) {
    if (in_.size() - pos_ < n) return false;
    pos_ += n;
    return true;
  }
  bool text(std::string_view& out) {
    uint32_t n = 0;
    if (!number(n) || n > TextLimit || in_.size() - pos_ < n) return false;
    out = in_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  bool text(std::string& out) {
    std::string_view view;
    if (!text(view)) return false;
    out.assign(view);
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

void writeTracks(Writer& w, const std::optional<std::vector<int>>& tracks) {
  w.number(static_cast<uint8_t>(tracks ? 1 : 0));
  if (!tracks) return;
  w.number(static_cast<uint32_t>(tracks->size()));
  for (const int t : *tracks) w.number(static_cast<int32_t>(t));
}

bool readTracks(Reader& r, std::optional<std::vector<int>>& tracks) {
  uint8_t has = 0;
  if (!r.number(has)) return false;
  if (!has) return true;
  uint32_t n = 0;
  if (!r.number(n) || n > TrackListLimit) return false;
  tracks.emplace();
  for (uint32_t i = 0; i < n; ++i) {
    int32_t t = 0;
    if (!r.number(t)) return false;
    tracks->push_back(t);
  }
  return true;
}

void writeShape(Writer& w, const RowShape& s) {
  w.number(s.trimStart);
  w.number(s.trimEnd);
  w.number(static_cast<uint8_t>(s.cropAuto ? 1 : 0));
  w.number(static_cast<uint8_t>(s.crop ? 1 : 0));
  if (s.crop) {
    w.number(static_cast<int32_t>(s.crop->top));
    w.number(static_cast<int32_t>(s.crop->bottom));
    w.number(static_cast<int32_t>(s.crop->left));
    w.number(static_cast<int32_t>(s.crop->right));
  }
  writeTracks(w, s.audioTracks);
  writeTracks(w, s.subtitleTracks);
  w.number(static_cast<uint8_t>(s.burnSubtitles ? 1 : 0));
  w.number(s.targetSizeBytes);
}

bool readShape(Reader& r, RowShape& s) {
  uint8_t cropAuto = 0, hasCrop = 0, burn = 0;
  if (!(r.number(s.trimStart) && r.number(s.trimEnd) && r.number(cropAuto) && r.number(hasCrop)))
    return false;
  if (hasCrop) {
    int32_t top = 0, bottom = 0, left = 0, right = 0;
    if (!(r.number(top) && r.number(bottom) && r.number(left) && r.number(right))) return false;
    s.crop = CropRect{top, bottom, left, right};
  }
  if (!(readTracks(r, s.audioTracks) && readTracks(r, s.subtitleTracks) && r.number(burn) &&
        r.number(s.targetSizeBytes)))
    return false;
  s.cropAuto = cropAuto != 0;
  s.burnSubtitles = burn != 0;
  return true;
}

// The fields of a row, as the writer takes them from a QueueRow or an entry.
struct RowFields {
  const QueueOwner& owner;
  int16_t kind, profileId, state;
  const std::string &source, &name, &output;
  uint64_t size;
  uint32_t duration;
  uint64_t sourceSize, dev, ino;
  bool created;
  const ConversionSnapshot* settings;
  const RowShape* shape;
};

void writeRow(Writer& w, const RowFields& f) {
  w.number(f.owner.pid);
  w.number(f.owner.startTime);
  w.number(f.kind);
  w.number(f.profileId);
  w.number(f.state);
  w.text(f.source);
  w.text(f.name);
  w.text(f.output);
  w.number(f.size);
  w.number(f.duration);
  w.number(f.sourceSize);
  w.number(f.dev);
  w.number(f.ino);
  w.number(static_cast<uint8_t>(f.created ? 1 : 0));
  w.number(static_cast<uint8_t>(f.settings ? 1 : 0));
  if (f.settings) writeSettings(w, *f.settings);
  w.number(static_cast<uint8_t>(f.shape ? 1 : 0));
  if (f.shape) writeShape(w, *f.shape);
}

// Rows read back share one settings record when their bytes are equal.
using SettingsCache =
    std::unordered_map<std::string_view, std::shared_ptr<const ConversionSnapshot>>;

// One row; false when the bytes ended inside it (nothing is kept of it then). With `row` null
// the row is only passed over (its owner still read into `owner`).
bool readRow(Reader& r, std::string_view bytes, uint32_t version, SettingsCache& cache,
             QueueOwner& owner, QueueRow* row) {
  QueueRow scratch;
  QueueRow& out = row ? *row : scratch;
  std::string_view source, name, output;
  uint8_t created = 0, hasSettings = 0;
  if (!(r.number(owner.pid) && r.number(owner.startTime) && r.number(out.kind) &&
        r.number(out.profileId) && r.number(out.state) && r.text(source) && r.text(name) &&
        r.text(output) && r.number(out.sizeBytes) && r.number(out.durationSeconds) &&
        r.number(out.sourceSizeBytes) && r.number(out.reservationDev) &&
        r.number(out.reservationIno) && r.number(created) && r.number(hasSettings))) {
    return false;
  }
  if (hasSettings) {
    const std::size_t start = r.position();
    ConversionSnapshot settings;
    if (!readSettings(r, settings)) return false;
    if (row) {
      const std::string_view key = bytes.substr(start, r.position() - start);
      auto it = cache.find(key);
      if (it == cache.end())
        it = cache.emplace(key, std::make_shared<ConversionSnapshot>(std::move(settings))).first;
      out.settings = it->second;
    }
  }
  uint8_t hasShape = 0;
  if (version >= 2 && !r.number(hasShape)) return false;
  if (hasShape) {
    RowShape shape;
    if (!readShape(r, shape)) return false;
    if (row && !shape.empty()) out.shape = std::make_shared<const RowShape>(std::move(shape));
  }
  if (source.empty()) return false;
  if (row) {
    out.owner = owner;
    out.sourcePath.assign(source);
    out.outputName.assign(name);
    out.outputPath.assign(output);
    out.createdOutput = created != 0;
  }
  return true;
}

// The rows of a file's bytes: where each begins and ends, and its owner.
struct RowSpan {
  std::size_t begin, end;
  QueueOwner owner;
};

// Header and row extents; Ok also for a file cut inside a row (the rows before it count).
QueueRead scanQueue(std::string_view bytes, std::vector<RowSpan>& spans,
                    std::vector<QueueRow>* rows, uint32_t* fileVersion = nullptr) {
  if (bytes.substr(0, Signature.size()) != Signature) return QueueRead::Foreign;
  Reader r(bytes);
  r.skip(Signature.size());
  uint32_t version = 0;
  if (!r.number(version) || version == 0) return QueueRead::Foreign;
  if (version > QueueFileVersion) return QueueRead::Newer;
  if (fileVersion) *fileVersion = version;
  uint32_t count = 0;
  if (!r.number(count)) return QueueRead::Ok;
  SettingsCache cache;
  spans.reserve(std::min<std::size_t>(count, bytes.size() / 64));
  for (uint32_t i = 0; i < count; ++i) {
    const std::size_t begin = r.position();
    QueueOwner owner;
    QueueRow row;
    if (!readRow(r, bytes, version, cache, owner, rows ? &row : nullptr)) break;
    spans.push_back({begin, r.position(), owner});
    if (rows) rows->push_back(std::move(row));
  }
  return QueueRead::Ok;
}

std::string header(uint32_t count) {
  Writer w;
  w.out += Signature;
  w.number(QueueFileVersion);
  w.number(count);
  return std::move(w.out);
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

constexpr int LockWaitMs = 5000;

// The advisory lock on "<path>.lock", held while the object lives.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    // A few seconds at most: a program that hangs holding the lock must not hold up this one's
    // conversions (the save is then skipped; the next one tries again).
    for (int waited = 0; ::flock(fd_, LOCK_EX | LOCK_NB) != 0; waited += 10) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= LockWaitMs) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

void appendQueueRow(QueueRows& rows, const QueueRow& r) {
  Writer w;
  w.out.swap(rows.bytes);
  writeRow(w, {r.owner, r.kind, r.profileId, r.state, r.sourcePath, r.outputName, r.outputPath,
               r.sizeBytes, r.durationSeconds, r.sourceSizeBytes, r.reservationDev,
               r.reservationIno, r.createdOutput, r.settings.get(), r.shape.get()});
  w.out.swap(rows.bytes);
  ++rows.count;
}

void appendQueueRow(QueueRows& rows, const QueueOwner& owner, const VideoEntry& e, int16_t state) {
  Writer w;
  w.out.swap(rows.bytes);
  writeRow(w, {owner, e.kind, e.profileId, state, e.sourcePath, e.outputName, e.outputPath,
               e.sizeBytes, e.durationSeconds, e.sourceSizeBytes, e.reservationDev,
               e.reservationIno, e.createdOutput, e.ownSettings.get(), e.shape.get()});
  w.out.swap(rows.bytes);
  ++rows.count;
}

std::string queueBytes(const std::vector<QueueRow>& rows) {
  QueueRows out;
  for (const QueueRow& r : rows) appendQueueRow(out, r);
  return header(out.count) + out.bytes;
}

QueueRead parseQueue(std::string_view bytes, std::vector<QueueRow>& rows) {
  std::vector<RowSpan> spans;
  std::vector<QueueRow> read;
  const QueueRead result = scanQueue(bytes, spans, &read);
  rows.insert(rows.end(), std::make_move_iterator(read.begin()),
              std::make_move_iterator(read.end()));
  return result;
}

namespace {

// The file's bytes; Foreign for what is no regular file or cannot be read.
QueueRead readBytes(const std::string& path, std::string& bytes) {
  switch (readRegularFile(path, bytes, std::size_t{1} << 31)) {
    case FileRead::Ok:
      return QueueRead::Ok;
    case FileRead::Missing:
      return QueueRead::Missing;
    default:
      return QueueRead::Foreign;
  }
}

}  // namespace

QueueRead readQueueFile(const std::string& path, std::vector<QueueRow>& rows) {
  std::string bytes;
  const QueueRead read = readBytes(path, bytes);
  return read == QueueRead::Ok ? parseQueue(bytes, rows) : read;
}

bool saveQueue(const std::string& path, const QueueOwner& owner, const QueueRows& mine) {
  FileLock lock(path);
  if (!lock.held()) return false;
  std::string old;
  std::vector<RowSpan> spans;
  uint32_t version = QueueFileVersion;
  if (readBytes(path, old) == QueueRead::Ok &&
      scanQueue(old, spans, nullptr, &version) == QueueRead::Newer)
    return false;
  // The other owners' rows byte for byte (written anew from an older version), then the owner's.
  std::string file = header(0);
  file.reserve(old.size() + mine.bytes.size() + 32);
  uint32_t count = mine.count;
  if (version != QueueFileVersion) {
    std::vector<QueueRow> rows;
    spans.clear();
    scanQueue(old, spans, &rows);
    QueueRows others;
    for (const QueueRow& row : rows)
      if (!(row.owner == owner)) appendQueueRow(others, row);
    file += others.bytes;
    count += others.count;
    spans.clear();
  }
  for (const RowSpan& span : spans) {
    if (span.owner == owner) continue;
    file.append(old, span.begin, span.end - span.begin);
    ++count;
  }
  file += mine.bytes;
  const std::string counted = header(count);
  file.replace(0, counted.size(), counted);
  return replaceFileAtomically(path, file);
}

bool saveQueue(const std::string& path, const QueueOwner& owner,
               const std::vector<QueueRow>& mine) {
  QueueRows rows;
  for (const QueueRow& r : mine) appendQueueRow(rows, r);
  return saveQueue(path, owner, rows);
}

QueueRead takeOverQueue(const std::string& path, const QueueOwner& owner,
                        std::vector<QueueRow>& taken) {
  FileLock lock(path);
  if (!lock.held()) return QueueRead::Missing;
  std::string bytes;
  QueueRead read = readBytes(path, bytes);
  if (read != QueueRead::Ok) return read;
  std::vector<RowSpan> spans;
  std::vector<QueueRow> rows;
  uint32_t version = QueueFileVersion;
  read = scanQueue(bytes, spans, &rows, &version);
  if (read != QueueRead::Ok) return read;
  // The rows taken get the new owner in place, and the file is written back with them so (a cut
  // row at the end is left out).
  Writer newOwner;
  newOwner.number(owner.pid);
  newOwner.number(owner.startTime);
  std::vector<std::pair<QueueOwner, bool>> alive;  // a few owners, asked once each
  const auto ended = [&alive](const QueueOwner& o) {
    for (const auto& [known, lives] : alive)
      if (known == o) return !lives;
    alive.emplace_back(o, queueOwnerAlive(o));
    return !alive.back().second;
  };
  bool changed = false;
  taken.reserve(taken.size() + rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    QueueRow& row = rows[i];
    // The owner's own rows come back too (a second load in the same run).
    if (!(row.owner == owner) && !ended(row.owner)) continue;
    bytes.replace(spans[i].begin, newOwner.out.size(), newOwner.out);
    row.owner = owner;
    taken.push_back(row);
    changed = true;
  }
  if (changed && version != QueueFileVersion) {
    // An older version's rows are written anew in the current layout.
    replaceFileAtomically(path, queueBytes(rows));
  } else if (changed) {
    bytes.resize(spans.empty() ? bytes.size() : spans.back().end);
    const std::string counted = header(static_cast<uint32_t>(spans.size()));
    bytes.replace(0, counted.size(), counted);
    replaceFileAtomically(path, bytes);
  }
  return read;
}

}  // namespace vidmora
