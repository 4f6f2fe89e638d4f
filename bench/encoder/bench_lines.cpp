// Prints, one argument per line, the command lines the encoder benchmark times:
//   encoder SRC OUT MAP SLOT  profile 600's default line as the app builds it
//   ffmpeg SRC OUT            the ffmpeg command the encoder runs for that line, without progress
//   profile ID SRC OUT        the default line of profile ID (no progress slot)
//   estimate ID SECONDS W H FPS   the expected output size (bytes) of profile ID's default
//                             values for a source of that length, picture size and rate, taken
//                             as the window takes it
//   sample ID SRC             "MODEL SAMPLED": the expected output size (bytes) of profile ID's
//                             default values for SRC from the model and from a sample encode
#include <cstdio>
#include <string>
#include <vector>

#include "container.h"
#include "engine/command_line.h"
#include "engine/job_shape.h"
#include "engine/output_estimate.h"
#include "engine/sample_estimate.h"
#include "engine/source_details_probe.h"
#include "ffmpeg_runner.h"
#include "options.h"
#include "probe.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "translate.h"

namespace {

// Profile ID's default values, as a batch takes them.
vidmora::ConversionSnapshot defaultValues(int16_t id) {
  vidmora::TSettings s;
  vidmora::setDefaults(s);
  vidmora::applyProfile(s, vidmora::profileIndexById(id));
  vidmora::ConversionSnapshot snap;
  vidmora::takeSnapshot(snap, s);
  return snap;
}

std::vector<std::string> profileLine(const std::string& src, const std::string& out,
                                     const std::string& map, int slot, int16_t id = 600) {
  vidmora::ConversionSnapshot snap = defaultValues(id);
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
  } else if (mode == "sample" && argc == 4) {
    const vidmora::DetailsProbe probe =
        vidmora::probeSourceDetails(VIDMORA_ENCODER_PATH, argv[3], 60000);
    if (!probe.details) return 1;
    const vidmora::SampleJob job = vidmora::sampleJobFor(
        VIDMORA_ENCODER_PATH, argv[3], probe.details, probe.details->duration,
        defaultValues(static_cast<int16_t>(std::stoi(argv[2]))), nullptr, vidmora::ShapeRules{});
    const vidmora::SampleEstimate sampled = vidmora::estimateFromSample(job, {});
    if (sampled.bytes == 0) {
      std::fprintf(stderr, "%s\n", sampled.reason.c_str());
      return 1;
    }
    out.push_back(std::to_string(vidmora::estimateOutputBytes(job.model)) + " " +
                  std::to_string(sampled.bytes) + " " + std::to_string(sampled.pieces));
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
                 "estimate ID SECONDS W H FPS | sample ID SRC\n",
                 argv[0]);
    return 2;
  }
  for (const auto& a : out) std::printf("%s\n", a.c_str());
  return 0;
}
