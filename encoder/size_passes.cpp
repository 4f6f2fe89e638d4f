#include "size_passes.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace vidmora::encoder {

namespace {

// A folder name the encoders' option texts can carry as it is (x265 takes its statistics file
// inside a ':'-separated list).
bool plainPath(const std::string& path) {
  return !path.empty() && path.front() == '/' &&
         path.find_first_not_of(
             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-") ==
             std::string::npos;
}

// The line without its output: what comes before the output's container (-f MUXER -y PATH),
// less the container's own options.
std::vector<std::string> withoutOutput(std::vector<std::string> args) {
  if (const auto flags = std::find(args.begin(), args.end(), "-movflags");
      flags != args.end() && flags + 1 != args.end())
    args.erase(flags, flags + 2);
  auto tail = args.end();
  for (auto it = args.begin(); it != args.end(); ++it)
    if (*it == "-f") tail = it;
  args.erase(tail, args.end());
  return args;
}

}  // namespace

PassFolder::PassFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && plainPath(tmp) ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string name = base + "/vidmora-passes.XXXXXX";
  if (::mkdtemp(name.data()) != nullptr) path_ = name;
}

PassFolder::~PassFolder() {
  if (path_.empty()) return;
  // Only plain files of the encoders' own are in it.
  const int dir = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir >= 0) {
    if (DIR* d = ::fdopendir(dir)) {
      while (const dirent* e = ::readdir(d)) {
        const std::string entry = e->d_name;
        if (entry != "." && entry != "..") ::unlinkat(dir, entry.c_str(), 0);
      }
      ::closedir(d);  // closes dir as well
    } else {
      ::close(dir);
    }
  }
  ::rmdir(path_.c_str());
}

TargetSizeInput targetSizeInput(const LegacyOptions& o, const Translation& t, double seconds) {
  TargetSizeInput in;
  in.targetBytes = o.targetSize;
  in.durationSeconds = seconds;
  in.audioTracks = 0;
  if (t.mapAudio)
    for (const int channels : t.audioChannels) in.audioTracks += audioTrackShare(channels);
  setAudioRates(in, o.audioBitrate, t.audioEncoder);
  in.width = t.width;
  in.height = t.height;
  const double rate = frameRateOf(!o.fps.empty() ? o.fps : o.frameRate);
  in.frameRate = rate > 0 ? rate : 30.0;
  return in;
}

bool hasFirstPass(const std::string& videoEncoder) {
  return videoEncoder == "libx264" || videoEncoder == "libx265" || videoEncoder == "libvpx-vp9";
}

std::vector<std::string> passArgs(std::vector<std::string> args, const std::string& videoEncoder,
                                  int pass, const std::string& folder, const std::string& muxer) {
  if (pass == 0 || !hasFirstPass(videoEncoder)) return args;
  std::vector<std::string> own;
  if (videoEncoder == "libx265") {
    const std::string stats = "pass=" + std::to_string(pass) + ":stats=" + folder + "/x265.log";
    const auto params = std::find(args.begin(), args.end(), "-x265-params");
    if (params != args.end() && params + 1 != args.end())
      *(params + 1) += ":" + stats;
    else
      own.insert(own.end(), {"-x265-params", stats});
  } else {
    own.insert(own.end(), {"-pass", std::to_string(pass), "-passlogfile", folder + "/pass"});
  }
  if (pass != 1) {
    // Before the output's own options.
    const std::size_t output = withoutOutput(args).size();
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(output), own.begin(), own.end());
    return args;
  }
  // ffmpeg lets every frame through to a null output but makes a constant rate for MP4; the
  // second pass must see the frames the first one counted.
  if (std::find(args.begin(), args.end(), "-fps_mode:v:0") == args.end()) {
    const bool constant = muxer == "mp4" || muxer == "mov" || muxer == "ipod";
    own.insert(own.end(), {"-fps_mode:v:0", constant ? "cfr" : "vfr"});
  }
  args = withoutOutput(std::move(args));
  args.insert(args.end(), own.begin(), own.end());
  args.insert(args.end(), {"-f", "null", "-"});
  return args;
}

std::vector<std::string> soundArgs(std::vector<std::string> args, const std::string& file) {
  args = withoutOutput(std::move(args));
  args.insert(args.end(), {"-vn", "-sn", "-dn", "-f", "matroska", "-y", "file:" + file});
  return args;
}

LegacyOptions atBitrates(const LegacyOptions& options, long videoBitrate, long audioBitrate) {
  LegacyOptions o = options;
  o.videoBitrate = videoBitrate;
  o.sameQuality = false;
  if (audioBitrate > 0) o.audioBitrate = audioBitrate;
  return o;
}

}  // namespace vidmora::encoder
