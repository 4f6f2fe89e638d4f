// Job plans: one self-contained JSON line per conversion, so that a node of a cluster can run a
// job with nothing but the plan, the encoder and the source. A line holds the schema version,
// a job id, the source (with its size and modification time when planned), every conversion
// value of the resolved profile, the output path and the checks the output must pass. A job that
// converts less or other than the whole source as its profile would (a part of it, a crop, a
// choice of tracks, a subtitle drawn into the picture, a target size) carries that shape as well,
// resolved when planning (black bars found, tracks named by their places among the source's
// streams), so that every node converts the same; such a line is schema 2, any other schema 1,
// which nodes of every version read alike.
//
// The job id is a digest of the line's source path, size and modification time, its conversion
// values, its shape and its output path: planning the same files with the same settings gives the
// same ids, and any changed setting gives new ones. A run recomputes it and refuses a line whose id
// does not match (an edited or damaged plan).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "settings/settings.h"
#include "videolist/row_shape.h"

namespace vidmora::cli {

// Lines without a shape are written as schema 1, shaped ones as schema 2; both are read.
inline constexpr int PlanSchemaVersion = 2;
inline constexpr int UnshapedPlanSchemaVersion = 1;

// What an output must be to count as done: a regular file of at least minBytes that the encoder
// reads as media and, when the source's duration is known, lasting within `tolerance` of it.
struct OutputChecks {
  uint64_t minBytes = 1;
  double duration = 0.0;  // seconds; 0 when the source's duration is not known
  double tolerance = 0.0;
  bool durationPasses(double actual) const;
};
// max(1 s, 2 %) of the source's duration, as the encoder checks before publishing.
OutputChecks checksForDuration(double sourceDuration);

struct PlanJob {
  std::string id;
  std::string source;
  uint64_t sourceSize = 0;
  int64_t sourceMtimeNs = 0;
  ConversionSnapshot values;  // conversion fields only; the folder texts stay empty
  std::string output;
  OutputChecks checks;
  // The part of the source (seconds), the crop, the tracks (places among the source's sound and
  // subtitle streams) and the target size, as the encoder takes them; an automatic crop and
  // "burn in subtitles" are resolved already (cropAuto and burnSubtitles stay false), the
  // subtitle drawn into the picture is burnSubtitle (its place, -1: none).
  RowShape shape;
  int burnSubtitle = -1;
  bool shaped() const;
};

// Plans hold only paths that are UTF-8: JSON has no way to carry other bytes.
bool isUtf8(const std::string& text);

// Sixteen hex digits from the job's source, size, time, conversion values and output.
std::string computeJobId(const PlanJob& job);

// The job as one JSON line (no line end).
std::string planLine(const PlanJob& job);
// Reads a line written by planLine. False with a sentence in `error` for anything else: not
// JSON, another schema version, a missing or mistyped field, an unknown profile, values out of
// range, a shape this program does not know all of, a job id that does not match the line.
bool parsePlanLine(const std::string& line, PlanJob& job, std::string& error);

// Every job of a plan file, in order; blank lines are passed over. False with "LINE N: ..." (or
// why the file cannot be read) in `error`.
bool readPlanFile(const std::string& path, std::vector<PlanJob>& jobs, std::string& error);
// The plan's text lines that hold jobs, in the same order as readPlanFile's jobs.
bool readPlanLines(const std::string& path, std::vector<std::string>& lines, std::string& error);

// Path prefixes rewritten for a node that mounts the storage elsewhere: FROM=TO replaces FROM
// when it is the whole path or is followed by '/'. Rules are tried in the order given; the
// first that matches applies.
class PathMap {
 public:
  // "FROM=TO" with both sides non-empty; false with a sentence in `error` otherwise.
  bool add(const std::string& rule, std::string& error);
  std::string apply(const std::string& path) const;
  bool empty() const { return rules_.empty(); }

 private:
  std::vector<std::pair<std::string, std::string>> rules_;
};

// "I/N" with 0 <= I < N; false otherwise.
bool parseShard(const std::string& text, int& index, int& count);
// Positions of a plan of jobCount jobs that shard index of count takes: index, index + count, ...
std::vector<int> shardPositions(int jobCount, int index, int count);

}  // namespace vidmora::cli
