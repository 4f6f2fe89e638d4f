// Reads ffmpeg's -progress output ("key=value" lines) as it arrives in pieces.
#pragma once

#include <cstdint>
#include <string>

namespace vidmora::encoder {

class ProgressParser {
 public:
  // Feeds bytes; returns true when a block ended ("progress=..."), i.e. a new report is complete.
  bool feed(const char* data, std::size_t size);
  // Output time of the last complete report, in seconds; -1 before the first.
  double outTime() const { return outTime_; }
  bool ended() const { return ended_; }
  // Whether the last complete report shows work done since the one before it: frames, bytes or
  // output time moved on.
  bool advanced() const { return advanced_; }

 private:
  void line(const std::string& text, bool& report);
  std::string pending_;
  double pendingTime_ = -1.0;
  double outTime_ = -1.0;
  bool ended_ = false;
  bool advanced_ = false;
  std::string pendingWork_, lastWork_;  // the report's frame, total_size and out_time values
};

}  // namespace vidmora::encoder
