#include "cli/cli_estimate.h"

#include <string>
#include <vector>

#include "cli/cli_info.h"
#include "cli/cli_report.h"
#include "engine/job_shape.h"
#include "engine/sample_estimate.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "settings/presets.h"
#include "settings/settings_file.h"

namespace vidmora::cli {

namespace {

std::string sizeText(uint64_t bytes) {
  return "about " + formatSize(bytes);
}

}  // namespace

int runEstimate(const CliOptions& o, FILE* out, FILE* err, const Interrupts& interrupts) {
  const std::string config = configFolder();
  PresetStore presets(presetsFilePath(config));
  presets.load();
  TSettings s;
  const std::string settingsPath =
      o.settingsFile.empty() ? settingsFilePath(config) : o.settingsFile;
  if (const int status = readSettingsFor(s, o, settingsPath, err); status != 0) return status;
  if (const int status = applyValueOptions(s, o, presets, err); status != 0) return status;
  ConversionSnapshot values;
  takeSnapshot(values, s);
  const ShapeRules rules = shapeRulesOf(s);
  const auto [encoder, files, probes] = probeNamedSources(o);
  const auto interrupted = [&interrupts] { return interrupts.count.load() > 0; };
  int status = 0;
  for (std::size_t i = 0; i < files.size() && !interrupted(); ++i) {
    const DetailsProbe& p = probes[i];
    std::string why = probeProblem(p, encoder);
    std::shared_ptr<RowShape> shape;
    bool refused = false;
    if (why.empty() && shapesConversions(o)) {
      shape = std::make_shared<RowShape>();
      refused = !shapeFromOptions(o, p.details.get(), p.details->duration, *shape, why);
      // A target size the file cannot be made in is refused, as a conversion refuses it.
      if (!refused && shape->targetSizeBytes > 0) {
        const std::shared_ptr<const RowShape> ruled = shapeUnderRules(
            shape, p.details.get(), rules, profileCarriesSubtitles(values.ProfileId));
        why = targetSizeProblem(*p.details, shapeToConvert(*ruled, files[i], values.ProfileId),
                                values);
        refused = !why.empty();
      }
    }
    uint64_t model = 0;
    SampleEstimate sample;
    if (why.empty() && !refused) {
      const SampleJob job =
          sampleJobFor(encoder, files[i], p.details, p.details->duration, values, shape, rules);
      model = estimateOutputBytes(job.model);
      sample = estimateFromSample(job, interrupted);
      if (sample.status == SampleStatus::Cancelled) break;
      if (sample.status == SampleStatus::Failed) why = sample.reason;
    }
    if (!why.empty()) status = 1;
    const bool sampled = sample.status == SampleStatus::Sampled;
    if (o.json) {
      std::string line = "{\"file\":" + jsonQuote(files[i]);
      if (p.details) {
        line += ",\"model\":" + (model > 0 ? std::to_string(model) : std::string("null"));
        line += ",\"sample\":" + (sampled ? std::to_string(sample.bytes) : std::string("null"));
        if (sampled) line += ",\"pieces\":" + std::to_string(sample.pieces);
        if (sample.status == SampleStatus::Model) line += ",\"sample_needed\":false";
      }
      if (!why.empty()) line += ",\"error\":" + jsonQuote(why);
      std::fprintf(out, "%s}\n", line.c_str());
      continue;
    }
    if (!p.details || refused) {
      std::fprintf(err, "vidmora-cli: %s: %s\n", files[i].c_str(), why.c_str());
      continue;
    }
    std::string text = files[i] + "\n  model:  " + (model > 0 ? sizeText(model) : "unknown") + "\n";
    if (sampled)
      text += "  sample: " + sizeText(sample.bytes) + " (" +
              (sample.pieces == 1 ? std::string("the whole part converted")
                                  : std::to_string(sample.pieces) + " pieces converted") +
              ")\n";
    else if (sample.status == SampleStatus::Model)
      text += "  sample: not needed (the size does not depend on the picture)\n";
    else
      text += "  sample: failed: " + why + "\n";
    std::fputs(text.c_str(), out);
  }
  if (const int signal = interrupts.signal.load(); signal != 0) return 128 + signal;
  return status;
}

}  // namespace vidmora::cli
