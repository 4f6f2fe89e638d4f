#include "cli/cli_info.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli/cli_report.h"
#include "engine/source_details_probe.h"
#include "engine/source_scanner.h"
#include "platform/paths.h"
#include "platform/texts.h"

namespace vidmora::cli {

namespace {

std::string indented(const std::string& text) {
  std::string out;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    out += "  " + text.substr(from, end - from) + "\n";
    from = end + 1;
  }
  return out;
}

}  // namespace

std::vector<std::string> namedSources(const std::vector<std::string>& paths) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      for (std::string& f : collectSources({path})) files.push_back(std::move(f));
    } else {
      files.push_back(path);
    }
  }
  return files;
}

std::string probeProblem(const DetailsProbe& p, const std::string& encoder) {
  if (!p.started) return "the encoder " + encoder + " could not be run";
  if (p.timedOut) return "the probe did not end within a minute";
  if (p.exitCode != 0 || !p.details) return "not a video or audio file the encoder can read";
  return {};
}

ProbedSources probeNamedSources(const CliOptions& o) {
  ProbedSources named;
  named.encoder = o.encoder.empty() ? pathNextToProgram(texts::EncoderFileName) : o.encoder;
  named.files = namedSources(o.paths);
  named.probes.resize(named.files.size());
  runParallel(static_cast<int>(named.files.size()), probeThreads(), [&](int i) {
    named.probes[static_cast<std::size_t>(i)] = probeSourceDetails(
        named.encoder, named.files[static_cast<std::size_t>(i)], InfoProbeLimitMs);
  });
  return named;
}

int runInfo(const CliOptions& o, FILE* out, FILE* err) {
  const auto [encoder, files, probes] = probeNamedSources(o);
  int status = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const DetailsProbe& p = probes[i];
    const std::string why = probeProblem(p, encoder);
    if (!why.empty()) status = 1;
    if (o.json) {
      std::string line = "{\"file\":" + jsonQuote(files[i]);
      line += why.empty() ? ",\"details\":" + sourceDetailsToJson(*p.details)
                          : ",\"error\":" + jsonQuote(why);
      std::fprintf(out, "%s}\n", line.c_str());
    } else if (!why.empty()) {
      std::fprintf(err, "vidmora-cli: %s: %s\n", files[i].c_str(), why.c_str());
    } else {
      const std::string summary = sourceSummary(*p.details);
      std::fprintf(out, "%s\n%s%s", files[i].c_str(),
                   summary.empty() ? "" : ("  " + summary + "\n").c_str(),
                   indented(sourceDescription(*p.details)).c_str());
      if (i + 1 < files.size()) std::fputc('\n', out);
    }
  }
  return status;
}

}  // namespace vidmora::cli
