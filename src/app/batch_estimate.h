// What the Ready rows will take at the destination: each row's expected output size with the
// values it will be converted with, their total, and the panel's text with the free space. A
// row's size comes from the model until a sample encode of the row was asked for ("Estimate
// Size"); the sampled figure then holds while the row's values and shape stay as they were.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/sample_estimate.h"

namespace vidmora {

class BatchEstimate {
 public:
  // `changed` runs on the main thread whenever a sample starts or ends.
  BatchEstimate(Engine& engine, MainThreadQueue& queue, std::string encoderPath,
                std::function<void()> changed, SampleLimits limits = {});

  // A Ready row's expected output size in bytes; 0 when it cannot be told beforehand.
  uint64_t expectedOutputBytes(int row) const;
  // The same with the values the row will be converted with.
  uint64_t expectedOutputBytes(int row, const ConversionSnapshot& values) const;
  // The row's expected size as its tooltip and Properties show it: "about 42 MB", "Estimating…"
  // or "about 42 MB (from a sample)"; empty when nothing can be told.
  QString rowText(int row) const;
  // Sample encodes for the Ready rows among `rows`, one after the other in the background.
  // Returns how many were asked for.
  int sampleRows(const std::vector<int>& rows);
  // The window closes: the running sample stops, the waiting ones are dropped.
  void stopSamples() { samples_.cancelAll(); }
  const SampleEstimates& samples() const { return samples_; }

  // The expected bytes of the Ready rows whose size can be told, how many those are, and how
  // many rows are Ready.
  struct ReadyRows {
    uint64_t total = 0;
    int known = 0;
    int ready = 0;
  };
  ReadyRows readyRows() const;
  // The Ready rows' expected total and the destination's free space, as the panel shows them.
  QString text() const;
  // Bytes free for the user in the folder's file system; 0 when it cannot be told.
  static uint64_t freeBytesAt(const std::string& folder);

 private:
  // The row's sample job with the values it will be converted with.
  SampleJob jobFor(int row, const ConversionSnapshot& values) const;
  SampleEstimates::Figure sampled(int row, const ConversionSnapshot& values) const;
  // A Ready row's size: the sample's figure when it has one, else the model's.
  uint64_t expectedOutputBytes(int row, const ConversionSnapshot& values,
                               const SampleEstimates::Figure& figure) const;

  Engine& engine_;
  std::string encoderPath_;
  SampleEstimates samples_;
};

}  // namespace vidmora
