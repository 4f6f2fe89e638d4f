// The expected output size of a row measured on the row itself: the encoder converts a few short
// pieces of the part that will be converted, with the row's own command line, into a private
// temporary folder, and what those pieces take per second is scaled to the whole part. Rows whose
// size does not depend on the picture (a target size, fixed rates, a copy of the streams) keep
// the model's answer. Toolkit-free.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/output_estimate.h"
#include "settings/settings.h"
#include "videolist/row_shape.h"
#include "videolist/source_details.h"

namespace vidmora {

class MainThreadQueue;
struct ShapeRules;

// Everything one sample needs, copied: it runs on a thread of its own.
struct SampleJob {
  std::string encoderPath;
  std::string sourcePath;
  ConversionSnapshot values;
  RowShape shape;         // the rules applied; an automatic crop is looked for when the sample runs
  int burnSubtitle = -1;  // as appendShapeOptions takes it
  double sourceSeconds = 0;  // the whole source's length
  EstimateInput model;       // the same row for the model

  // Only rows at a quality level are sampled; the others keep the model's figure.
  bool needsSample() const;
  // Same row, same values, same shape: the same estimate.
  bool sameRow(const SampleJob& other) const;
};

// The job for a row as the batch would convert it: its own values and shape, the settings' track
// and crop rules where it made no choice. Quick: nothing is read from the source.
SampleJob sampleJobFor(const std::string& encoderPath, const std::string& sourcePath,
                       std::shared_ptr<const SourceDetails> details, double durationSeconds,
                       const ConversionSnapshot& values, std::shared_ptr<const RowShape> ownShape,
                       const ShapeRules& rules);

struct SampleLimits {
  int pieces = 3;             // spread at 20 %, 50 % and 80 % of the part
  double pieceSeconds = 2.0;  // each piece's length
  double wholeBelow = 10.0;   // a part this short is converted whole
  unsigned timeLimitMs = 300000;
  std::string tempFolder;  // where the private folder is made; empty: TMPDIR, else /tmp
};

enum class SampleStatus {
  Sampled,    // measured on pieces of the source (or on the whole of a short part)
  Model,      // the row needs no sample: the model's figure
  Failed,     // a piece could not be converted or measured (reason set)
  Cancelled,  // the stop flag was raised
};

struct SampleEstimate {
  SampleStatus status = SampleStatus::Failed;
  uint64_t bytes = 0;  // the expected output size; 0 when Failed or Cancelled
  int pieces = 0;      // encoder runs that were measured
  std::string reason;  // why it failed, in a few words
};

// Runs the sample on the calling thread. `stopped` is asked while each piece converts: once it
// says yes, the encoder is killed and the result is Cancelled. The private folder is removed in
// every case.
SampleEstimate estimateFromSample(const SampleJob& job, const std::function<bool()>& stopped,
                                  const SampleLimits& limits = {});

// Samples asked for by a front end, run one after the other on a thread of its own; each result
// is kept with its job and announced on the main thread through the queue. A row's figure holds
// while its source, values and shape stay as they were.
class SampleEstimates {
 public:
  enum class State { None, Waiting, Estimating, Done, Failed };
  struct Figure {
    State state = State::None;
    uint64_t bytes = 0;    // Done: the sampled size
    bool sampled = false;  // Done: measured on pieces, not the model's figure
    std::string reason;    // Failed
  };
  // `announce` runs on the main thread after each job ended, with the job's source path.
  SampleEstimates(MainThreadQueue& queue, std::function<void(const std::string&)> announce,
                  SampleLimits limits = {});
  // Stops the running sample (its encoder is killed) and waits for the thread.
  ~SampleEstimates();
  SampleEstimates(const SampleEstimates&) = delete;
  SampleEstimates& operator=(const SampleEstimates&) = delete;

  // Queues the job unless the same row is waiting, running or known already. Main thread.
  void request(SampleJob job);
  // What is known of the row the job describes. Main thread.
  Figure figure(const SampleJob& job) const;
  // Drops every waiting job and stops the running one.
  void cancelAll();
  // Jobs waiting or running.
  int pending() const;
  // Whether a job for this source was asked for (and not cancelled): rows of other sources need
  // no job made to be told they have no figure.
  bool knows(const std::string& sourcePath) const;

 private:
  struct Entry {
    SampleJob job;
    Figure figure;
  };
  void work();
  // Tells the front end, on the main thread, that the source's job moved on.
  void announce(const std::string& source);
  Entry* find(const SampleJob& job);
  const Entry* find(const SampleJob& job) const;

  MainThreadQueue& queue_;
  std::function<void(const std::string&)> announce_;
  SampleLimits limits_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Entry>> entries_;
  std::deque<std::shared_ptr<Entry>> waiting_;
  std::atomic<bool> stop_{false};
  bool ending_ = false;
  std::shared_ptr<bool> alive_;  // announcements still queued look here first
  std::thread thread_;
};

}  // namespace vidmora
