#include "cli/cli_report.h"

#include <algorithm>

#include "engine/engine.h"
#include "platform/texts.h"
#include "videolist/video_entry.h"

namespace vidmora::cli {
namespace {

using texts::fillText;

// Length of the UTF-8 sequence starting at i, 0 when the bytes there are not UTF-8.
std::size_t utf8Length(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n;
  unsigned min;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  unsigned code = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

const char* stateWord(int16_t state) {
  switch (state) {
    case Done:
      return "done";
    case Cancelled:
      return "stopped";
    case ConversionError:
      return "failed";
    case Pending:
      return "queued";
    default:
      return "converting";
  }
}

std::string bar(double percent, int width) {
  const int filled = std::clamp(static_cast<int>(percent * width / 100.0), 0, width);
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

}  // namespace

std::string jsonQuote(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = utf8Length(text, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += fillText("\\u%04x", c);
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

void Report::line(const std::string& text) {
  clearBars();
  std::fputs(text.c_str(), out_);
  std::fputc('\n', out_);
}

void Report::event(const std::string& name, const VideoEntry& entry, const std::string& extra) {
  std::string json = "{\"event\":" + jsonQuote(name) + ",\"file\":" + jsonQuote(entry.sourcePath);
  const std::string output = engine_->list().outputPathOf(entry);
  if (!output.empty()) json += ",\"output\":" + jsonQuote(output);
  line(json + extra + "}");
}

void Report::rejected(const std::string& path, const std::string& reason) {
  ++rejected_;
  if (style_ == ReportStyle::Json) {
    line("{\"event\":\"rejected\",\"file\":" + jsonQuote(path) +
         ",\"reason\":" + jsonQuote(reason) + "}");
  } else {
    line("skipped  " + path + ": " + reason);
  }
  std::fflush(out_);
}

void Report::batchStarting() {
  VideoList& list = engine_->list().entries();
  for (int i = 0; i < list.count(); ++i) {
    VideoEntry& e = list.at(i);
    if (e.stateValue() != Ready) continue;
    jobs_.push_back({&e, Ready});
    if (style_ == ReportStyle::Json) event("added", e);
  }
  std::fflush(out_);
}

void Report::update() {
  for (Job& job : jobs_) {
    const VideoEntry& e = *job.entry;
    const bool ended = engine_->list().hasEnded(e);
    int16_t state = e.stateValue();
    // Finished but its worker still runs: the result is not final yet.
    if (isFinished(state) && !ended) state = job.reported;
    double percent = 0;
    const bool running = state == Starting || state == Converting;
    if (state != job.reported) {
      const bool wasRunning = job.reported == Starting || job.reported == Converting;
      job.reported = state;
      if (state == Pending || (running && wasRunning)) {
        // not news: queued at the start, or a running conversion that is still running
      } else if (style_ == ReportStyle::Json) {
        // A conversion may start and end between two looks: it still reports its start.
        const bool ran = !engine_->list().outputPathOf(e).empty();
        if (!running && !job.started && ran) event("started", e);
        job.started = job.started || running || ran;
        std::string extra;
        if (state == Done) extra = fillText(",\"size\":%llu", (unsigned long long)e.sizeBytes);
        event(running ? "started" : stateWord(state), e, extra);
      } else if (isFinished(state)) {
        line(std::string(stateWord(state)) + (state == Done ? "     " : "  ") + e.sourcePath +
             (state == Done ? " -> " + engine_->list().outputPathOf(e) : std::string()));
      }
    }
    if (style_ == ReportStyle::Json && running && engine_->batch().runningPercent(e, percent))
      event("progress", e, fillText(",\"percent\":%.1f", percent));
  }
  if (style_ == ReportStyle::Terminal) drawBars();
  std::fflush(out_);
  dirty_ = false;
}

void Report::clearBars() {
  if (barLines_ == 0) return;
  std::fprintf(out_, "\x1b[%dA\x1b[J", barLines_);
  barLines_ = 0;
}

void Report::drawBars() {
  clearBars();
  int finished = 0;
  for (const Job& job : jobs_) {
    const VideoEntry& e = *job.entry;
    const int16_t state = e.stateValue();
    if (isFinished(state)) ++finished;
    if (state != Starting && state != Converting) continue;
    double percent = 0;
    engine_->batch().runningPercent(e, percent);
    std::string name = e.sourcePath.substr(e.sourcePath.rfind('/') + 1);
    if (name.size() > 30) name = name.substr(0, 27) + "...";
    std::fprintf(out_, "%-30s %s %5.1f%%\n", name.c_str(), bar(percent, 30).c_str(), percent);
    ++barLines_;
  }
  std::fprintf(out_, "%-30s %s %3d%%  %d/%d\n", "total", bar(overall_, 30).c_str(), overall_,
               finished, static_cast<int>(jobs_.size()));
  ++barLines_;
}

bool Report::finish() {
  update();
  clearBars();
  int done = 0, failed = 0, stopped = 0;
  for (const Job& job : jobs_) {
    const int16_t state = job.entry->stateValue();
    done += state == Done;
    failed += state == ConversionError;
    stopped += state != Done && state != ConversionError;
  }
  if (style_ == ReportStyle::Json) {
    line(
        fillText("{\"event\":\"finished\",\"converted\":%d,\"failed\":%d,\"stopped\":%d,"
                 "\"skipped\":%d}",
                 done, failed, stopped, rejected_));
  } else {
    line(fillText("%d converted, %d failed, %d stopped, %d skipped", done, failed, stopped,
                  rejected_));
  }
  std::fflush(out_);
  return failed == 0 && stopped == 0 && rejected_ == 0;
}

}  // namespace vidmora::cli
