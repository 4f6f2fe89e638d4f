#include "engine/sample_estimate.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/job_shape.h"
#include "platform/format.h"
#include "platform/job_log.h"
#include "platform/main_thread.h"
#include "platform/process.h"
#include "platform/stale_files.h"
#include "platform/texts.h"
#include "settings/profiles.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vidmora {

namespace {

// A private folder, made exclusively (mode 0700) and removed with all it holds; one that a killed
// program left behind goes at the next start (removeStaleScratchFolders).
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& parent)
      : path_(createScratchFolder(parent.empty() ? temporaryFolder() : parent, "sample")) {}
  ~PrivateFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What one converted piece holds.
struct PieceBytes {
  bool ok = false;
  uint64_t file = 0;     // the file's size
  uint64_t packets = 0;  // every stream's packets
  uint64_t firstKey = 0;
  uint64_t video = 0;  // video packets, the first included
  int videoFrames = 0;
  double frameRate = 0;
};

PieceBytes measurePiece(const std::string& path) {
  PieceBytes piece;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return piece;
  piece.file = static_cast<uint64_t>(st.st_size);
  AVFormatContext* ic = nullptr;
  if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) != 0) return piece;
  const int videoStream = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (videoStream >= 0) piece.frameRate = av_q2d(ic->streams[videoStream]->avg_frame_rate);
  AVPacket* packet = av_packet_alloc();
  while (packet && av_read_frame(ic, packet) >= 0) {
    const uint64_t size = static_cast<uint64_t>(std::max(0, packet->size));
    piece.packets += size;
    if (packet->stream_index == videoStream) {
      if (piece.videoFrames == 0) piece.firstKey = size;
      piece.video += size;
      ++piece.videoFrames;
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&ic);
  piece.ok = piece.packets > 0;
  return piece;
}

// Frames between the keyframes each encoder puts in by itself (measured with Debian 12's
// libraries at their defaults, which the encoder keeps): x264 and x265 every 250, VP9 every 128,
// SVT-AV1 every 161 frames at 25 per second. A piece starts with a keyframe of its own, the
// whole output with one in every such stretch.
double keyframeSeconds(const std::string& videoCodec, double frameRate) {
  const std::string encoder = mapCodecName(videoCodec);
  const double rate = frameRate > 0 ? frameRate : 25.0;
  if (encoder == "libvpx-vp9") return 128 / rate;
  if (encoder == "libsvtav1") return 161 / 25.0;
  return 250 / rate;
}

struct Span {
  double start = 0, end = 0;
};

// The stretches of the part [start, end) the pieces take: evenly from 20 % to 80 % of it.
std::vector<Span> pieceSpans(double start, double end, const SampleLimits& limits) {
  const double length = end - start;
  const int count = std::max(1, limits.pieces);
  const double piece = std::min(limits.pieceSeconds, length / count);
  std::vector<Span> spans;
  for (int i = 0; i < count; ++i) {
    const double at = count == 1 ? 0.5 : 0.2 + 0.6 * i / (count - 1);
    const double from = std::clamp(start + at * length - piece / 2, start, end - piece);
    spans.push_back({from, from + piece});
  }
  return spans;
}

enum class RunEnd { Converted, Failed, Stopped, TimedOut };

}  // namespace

bool SampleJob::needsSample() const {
  if (model.targetSizeBytes > 0 || model.remux) return false;
  const ProfileExtras* extras = profileExtras(values.ProfileId);
  if (!extras) return false;  // the classic profiles' fixed rates
  const QualityLevel level = qualityFromStored(values.Quality);
  if (level == QualityLevel::FixedBitrate) return false;
  if (extras->kind == ProfileKind::QualityVideo) return !values.DisableVideo;
  return extras->kind == ProfileKind::Sound && extras->qualityChoice;
}

bool SampleJob::sameRow(const SampleJob& other) const {
  return sourcePath == other.sourcePath && values == other.values && shape == other.shape &&
         burnSubtitle == other.burnSubtitle && encoderPath == other.encoderPath;
}

SampleJob sampleJobFor(const std::string& encoderPath, const std::string& sourcePath,
                       std::shared_ptr<const SourceDetails> details, double durationSeconds,
                       const ConversionSnapshot& values, std::shared_ptr<const RowShape> ownShape,
                       const ShapeRules& rules) {
  SampleJob job;
  job.encoderPath = encoderPath;
  job.sourcePath = sourcePath;
  job.values = values;
  // As the batch converts it (BatchRunner::runEncoder).
  const RuledShape ruled = ruledShape(std::move(ownShape), details.get(), rules, values.ProfileId);
  job.burnSubtitle = ruled.burnSubtitle;
  job.model = estimateInputFor(details.get(), durationSeconds, values, ruled.shape.get());
  job.sourceSeconds = job.model.sourceSeconds;
  if (ruled.shape) job.shape = *ruled.shape;
  return job;
}

SampleEstimate estimateFromSample(const SampleJob& job, const std::function<bool()>& stopped,
                                  const SampleLimits& limits) {
  SampleEstimate result;
  if (!job.needsSample()) {
    result.bytes = estimateOutputBytes(job.model);
    result.status = result.bytes > 0 ? SampleStatus::Model : SampleStatus::Failed;
    if (result.bytes == 0) result.reason = "the source's length or picture is not known";
    return result;
  }
  const double start = std::max(0.0, job.shape.trimStart);
  double end = job.shape.trimEnd >= 0 ? job.shape.trimEnd : job.sourceSeconds;
  if (job.sourceSeconds > 0) end = std::min(end, job.sourceSeconds);
  if (!(end > start)) {
    result.reason = "the source's length is not known";
    return result;
  }
  // An automatic crop is looked for now, as the conversion does, off the caller's thread.
  const RowShape shaped = shapeToConvert(job.shape, job.sourcePath, job.values.ProfileId);
  PrivateFolder folder(limits.tempFolder);
  if (folder.path().empty()) {
    result.reason = "no temporary folder could be made";
    return result;
  }
  const char* ext = profileById(job.values.ProfileId).Extension;
  const std::string logPath = folder.path() + "/sample.log";
  const ExtraEnvironment environment = {logFileAssignment(logPath)};
  const std::string mapName(ProgressMapNameLength, '0');
  const uint32_t began = tickCount();

  // One encoder run over [from, to) of the source into `output` (from < 0: its beginning; to < 0:
  // its end).
  const auto convert = [&](double from, double to, const std::string& output) {
    RowShape shape = shaped;
    shape.trimStart = from > 0 ? from : -1;
    shape.trimEnd = to;
    bool halted = false, late = false;
    const TickRoutine tick = [&] {
      halted = halted || (stopped && stopped());
      late = late || tickCount() - began >= limits.timeLimitMs;
      return !halted && !late;
    };
    int exitCode = -1000;
    bool started = false;
    for (const bool noAudioOptions : {false, true}) {
      ConversionSnapshot values = job.values;
      EncoderCommand line = buildConversionLine(job.encoderPath, job.sourcePath, output, -1,
                                                mapName, values, noAudioOptions);
      appendShapeOptions(line, shape, job.burnSubtitle);
      started = runHidden(line.argv, &exitCode, 50, tick, environment, "/dev/null");
      if (!started || halted || late || exitCode != ExitAudioRejected) break;
    }
    if (halted) return RunEnd::Stopped;
    if (late) return RunEnd::TimedOut;
    return started && exitCode == 0 ? RunEnd::Converted : RunEnd::Failed;
  };
  const auto failed = [&](RunEnd end) {
    result.status = end == RunEnd::Stopped ? SampleStatus::Cancelled : SampleStatus::Failed;
    if (end == RunEnd::TimedOut)
      result.reason = texts::fillText("it took longer than %u s", limits.timeLimitMs / 1000);
    else if (end == RunEnd::Failed)
      result.reason = readLogReason(logPath);
    if (end == RunEnd::Failed && result.reason.empty())
      result.reason = "the encoder could not convert a piece of the source";
    return result;
  };

  std::vector<Span> spans;
  const double length = end - start;
  const bool whole = length <= limits.wholeBelow;
  // A short part goes out exactly as the conversion would make it.
  if (whole)
    spans.push_back({shaped.trimStart, shaped.trimEnd});
  else
    spans = pieceSpans(start, end, limits);
  double seconds = 0, keyExcess = 0, header = 0, frameRate = 0;
  uint64_t bytes = 0;
  for (std::size_t i = 0; i < spans.size(); ++i) {
    if (stopped && stopped()) return failed(RunEnd::Stopped);
    const std::string output =
        folder.path() + "/piece-" + std::to_string(i) + (ext && ext[0] ? "." : "") + ext;
    if (const RunEnd end = convert(spans[i].start, spans[i].end, output); end != RunEnd::Converted)
      return failed(end);
    const PieceBytes piece = measurePiece(output);
    if (!piece.ok) {
      result.reason = "a converted piece could not be read";
      return result;
    }
    ++result.pieces;
    if (whole) {
      result.bytes = piece.file;
      result.status = SampleStatus::Sampled;
      return result;
    }
    // The piece's first keyframe costs more than the frames after it; what it costs above them
    // comes back once per keyframe of the whole output. The rest of the file is headers and
    // index.
    double excess = 0;
    if (piece.videoFrames > 1) {
      const double others = double(piece.video - piece.firstKey) / (piece.videoFrames - 1);
      excess = std::max(0.0, double(piece.firstKey) - others);
    }
    keyExcess += excess;
    frameRate = std::max(frameRate, piece.frameRate);
    header += double(piece.file - std::min(piece.file, piece.packets));
    bytes += piece.packets;
    seconds += spans[i].end - spans[i].start;
  }
  const double count = double(result.pieces);
  const double perSecond = (double(bytes) - keyExcess) / seconds;
  double keyframes = 0;
  if (job.model.video && keyExcess > 0)
    keyframes = 1 + std::floor(length / keyframeSeconds(job.values.VideoCodec, frameRate));
  const double total = header / count + perSecond * length + keyExcess / count * keyframes;
  result.bytes = static_cast<uint64_t>(std::llround(std::max(0.0, total)));
  result.status = SampleStatus::Sampled;
  return result;
}

// ---------------------------------------------------------------- the front end's samples

SampleEstimates::SampleEstimates(MainThreadQueue& queue,
                                 std::function<void(const std::string&)> announce,
                                 SampleLimits limits)
    : queue_(queue),
      announce_(std::move(announce)),
      limits_(std::move(limits)),
      alive_(std::make_shared<bool>(true)) {
  thread_ = std::thread([this] { work(); });
}

SampleEstimates::~SampleEstimates() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    waiting_.clear();
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  // Announcements still queued find nobody to tell.
  alive_.reset();
}

SampleEstimates::Entry* SampleEstimates::find(const SampleJob& job) {
  for (const auto& entry : entries_)
    if (entry->job.sameRow(job)) return entry.get();
  return nullptr;
}

const SampleEstimates::Entry* SampleEstimates::find(const SampleJob& job) const {
  return const_cast<SampleEstimates*>(this)->find(job);
}

void SampleEstimates::request(SampleJob job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Entry* known = find(job); known && known->figure.state != State::Failed) return;
    std::erase_if(entries_, [&](const auto& e) { return e->job.sameRow(job); });
    auto entry = std::make_shared<Entry>();
    entry->job = std::move(job);
    entry->figure.state = State::Waiting;
    entries_.push_back(entry);
    waiting_.push_back(entry);
  }
  wake_.notify_all();
}

SampleEstimates::Figure SampleEstimates::figure(const SampleJob& job) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Entry* entry = find(job);
  return entry ? entry->figure : Figure{};
}

void SampleEstimates::cancelAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : waiting_) entry->figure.state = State::None;
  waiting_.clear();
  std::erase_if(entries_, [](const auto& e) { return e->figure.state == State::None; });
  stop_ = true;
}

int SampleEstimates::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const auto& entry : entries_)
    count += entry->figure.state == State::Waiting || entry->figure.state == State::Estimating;
  return count;
}

bool SampleEstimates::knows(const std::string& sourcePath) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const auto& e) { return e->job.sourcePath == sourcePath; });
}

void SampleEstimates::announce(const std::string& source) {
  queue_.post([alive = std::weak_ptr<bool>(alive_), announce = announce_, source] {
    if (alive.lock() && announce) announce(source);
  });
}

void SampleEstimates::work() {
  for (;;) {
    std::shared_ptr<Entry> entry;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || !waiting_.empty(); });
      if (ending_) return;
      entry = waiting_.front();
      waiting_.pop_front();
      entry->figure.state = State::Estimating;
      stop_ = false;
    }
    announce(entry->job.sourcePath);
    const SampleEstimate result = estimateFromSample(
        entry->job, [this] { return stop_.load(); }, limits_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Figure& figure = entry->figure;
      figure.bytes = result.bytes;
      figure.sampled = result.status == SampleStatus::Sampled;
      figure.reason = result.reason;
      figure.state = result.status == SampleStatus::Sampled || result.status == SampleStatus::Model
                         ? State::Done
                     : result.status == SampleStatus::Failed ? State::Failed
                                                             : State::None;
      if (figure.state == State::None)
        std::erase_if(entries_, [&](const auto& e) { return e == entry; });
    }
    announce(entry->job.sourcePath);
  }
}

}  // namespace vidmora
