#include "progress_parser.h"

#include <cstdlib>

namespace vidmora::encoder {

bool ProgressParser::feed(const char* data, std::size_t size) {
  bool report = false;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      line(pending_, report);
      pending_.clear();
    } else if (pending_.size() < 4096) {  // a runaway line is cut, never grown without bound
      pending_.push_back(data[i]);
    }
  }
  return report;
}

void ProgressParser::line(const std::string& text, bool& report) {
  const auto eq = text.find('=');
  if (eq == std::string::npos) return;
  const std::string key = text.substr(0, eq);
  const std::string value = text.substr(eq + 1);
  if (key == "frame" || key == "total_size" || key == "out_time_us") pendingWork_ += text + ";";
  // ffmpeg 5.1 writes out_time_us and, under an older name, out_time_ms: both hold microseconds.
  if (key == "out_time_us" || (key == "out_time_ms" && pendingTime_ < 0)) {
    char* end = nullptr;
    const long long us = std::strtoll(value.c_str(), &end, 10);
    if (end != value.c_str() && *end == '\0') pendingTime_ = static_cast<double>(us) / 1e6;
  } else if (key == "progress") {
    if (pendingTime_ >= 0) outTime_ = pendingTime_;
    pendingTime_ = -1.0;
    advanced_ = pendingWork_ != lastWork_;
    lastWork_ = std::move(pendingWork_);
    pendingWork_.clear();
    if (value == "end") ended_ = true;
    report = true;
  }
}

}  // namespace vidmora::encoder
