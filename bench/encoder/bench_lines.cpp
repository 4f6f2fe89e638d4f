// Prints, one argument per line, the command lines the encoder benchmark times:
//   encoder SRC OUT MAP SLOT  profile 600's default line as the app builds it
//   ffmpeg SRC OUT            the ffmpeg command the encoder runs for that line, without progress
//   profile ID SRC OUT        the default line of profile ID (no progress slot)
//   estimate ID SECONDS W H FPS   the expected output size (bytes) of profile ID's default
//                             values for a source of that length, picture size and rate, taken
//                             as the window takes it
#include <cstdio>
#include <string>
#include <vector>

#include "container.h"
#include "engine/command_line.h"
#include "engine/output_estimate.h"
#include "ffmpeg_runner.h"
#include "options.h"
#include "probe.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "translate.h"

namespace {

std::vector<std::string> profileLine(const std::string& src, const std::string& out,
                                     const std::string& map, int slot, int16_t id = 600) {
  vidmora::TSettings s;
  vidmora::setDefaults(s);
  vidmora::applyProfile(s, vidmora::profileIndexById(id));
  vidmora::ConversionSnapshot snap;
  vidmora::takeSnapshot(snap, s);
  return vidmora::buildConversionLine(VIDMORA_ENCODER_PATH, src, out, slot, map, snap, false).argv;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vidmora::encoder;
  const std::string mode = argc > 1 ? argv[1] : "";
  std::vector<std::string> out;
  if (mode == "encoder" && argc == 6) {
    out = profileLine(argv[2], argv[3], argv[4], std::stoi(argv[5]));
  } else if (mode == "profile" && argc == 5) {
    out = profileLine(argv[3], argv[4], "0", -1, static_cast<int16_t>(std::stoi(argv[2])));
  } else if (mode == "estimate" && argc == 7) {
    vidmora::TSettings s;
    vidmora::setDefaults(s);
    vidmora::applyProfile(s, vidmora::profileIndexById(static_cast<int16_t>(std::stoi(argv[2]))));
    vidmora::EstimateInput in;
    in.seconds = std::stod(argv[3]);
    in.videoEncoder = s.VideoCodec;
    in.level = static_cast<vidmora::QualityLevel>(s.Quality);
    in.audioBitrate = long(s.AudioBitrate) * 1000;
    in.width = std::stoi(argv[4]);
    in.height = std::stoi(argv[5]);
    if (s.TargetHeight > 0 && in.height > s.TargetHeight) {
      in.width = int(double(in.width) * s.TargetHeight / in.height);
      in.height = s.TargetHeight;
    }
    in.frameRate = std::stod(argv[6]);
    out.push_back(std::to_string(vidmora::estimateOutputBytes(in)));
  } else if (mode == "ffmpeg" && argc == 4) {
    const auto line = profileLine(argv[2], argv[3], "0", -1);
    const auto parsed = parseLegacyOptions({line.begin() + 1, line.end()});
    const ProbeResult probe = probeSource(parsed.options.input);
    const Translation t =
        translateOptions(parsed.options, probe.info, chooseContainer(parsed.options.output, ""),
                         parsed.options.output, false);
    if (!parsed.ok || probe.status != ProbeStatus::Ok || !t.ok) return 1;
    out.push_back(FfmpegPath);
    out.insert(out.end(), t.args.begin(), t.args.end());
  } else {
    std::fprintf(stderr,
                 "usage: %s encoder SRC OUT MAP SLOT | ffmpeg SRC OUT | profile ID SRC OUT | "
                 "estimate ID SECONDS W H FPS\n",
                 argv[0]);
    return 2;
  }
  for (const auto& a : out) std::printf("%s\n", a.c_str());
  return 0;
}
