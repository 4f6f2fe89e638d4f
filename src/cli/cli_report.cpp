#include "cli/cli_report.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>

#include "engine/engine.h"
#include "platform/job_log.h"
#include "platform/texts.h"
#include "videolist/video_entry.h"

namespace vidmora::cli {
namespace {

using texts::fillText;

// Length of the UTF-8 sequence starting at i, 0 when the bytes there are not UTF-8; `code`
// gets the character.
std::size_t utf8Length(const std::string& s, std::size_t i, unsigned& code) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n;
  unsigned min;
  code = c;
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
  code = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

// Columns of one character on a terminal.
int columnsOf(unsigned code) {
  const auto in = [code](unsigned from, unsigned to) { return code >= from && code <= to; };
  if (in(0x300, 0x36F) || in(0x1AB0, 0x1AFF) || in(0x1DC0, 0x1DFF) || in(0x200B, 0x200F) ||
      in(0x20D0, 0x20FF) || in(0xFE00, 0xFE0F) || in(0xFE20, 0xFE2F))
    return 0;
  if (in(0x1100, 0x115F) || in(0x2E80, 0x303E) || in(0x3041, 0x33FF) || in(0x3400, 0x4DBF) ||
      in(0x4E00, 0x9FFF) || in(0xA000, 0xA4CF) || in(0xAC00, 0xD7A3) || in(0xF900, 0xFAFF) ||
      in(0xFE30, 0xFE4F) || in(0xFF00, 0xFF60) || in(0xFFE0, 0xFFE6) || in(0x1F300, 0x1F64F) ||
      in(0x1F900, 0x1F9FF) || in(0x20000, 0x3FFFD))
    return 2;
  return 1;
}

// The text padded with blanks to `columns` columns.
std::string padColumns(const std::string& text, std::size_t columns) {
  const std::size_t width = displayWidth(text);
  return width >= columns ? text : text + std::string(columns - width, ' ');
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

// "name [#####.....] tail" in at most `columns` columns; the bar shrinks first, then goes.
std::string barLine(const std::string& name, double percent, const std::string& tail,
                    std::size_t columns) {
  const std::size_t nameColumns = std::min<std::size_t>(30, columns / 3);
  const std::size_t fixed = nameColumns + 1 + 2 + 1 + tail.size();
  std::string text = padColumns(fitColumns(name, nameColumns), nameColumns) + " ";
  if (columns >= fixed + 4) {
    text += bar(percent, static_cast<int>(std::min<std::size_t>(30, columns - fixed))) + " ";
  }
  return fitColumns(text + tail, columns);
}

// The word that starts a plain line, in a column of its own.
std::string lineStart(const char* word) {
  return fillText("%-9s", word);
}

}  // namespace

std::string jsonQuote(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned code = 0;
    const std::size_t n = utf8Length(text, i, code);
    if (n == 0) {
      out += fillText("\\udc%02x", c);  // the byte, as Python's surrogateescape has it
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
    } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
      out += fillText("\\u%04x", code);
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string plainText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned code = 0;
    const std::size_t n = utf8Length(text, i, code);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (n == 0 || code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
      // Terminal controls (C1 ones included) and stray bytes: each byte as \xHH.
      for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k)
        out += fillText("\\x%02X", static_cast<unsigned char>(text[i + k]));
      i += std::max<std::size_t>(n, 1);
      continue;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out;
}

std::size_t displayWidth(const std::string& text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    unsigned code = 0;
    const std::size_t n = utf8Length(text, i, code);
    width += n == 0 ? 1 : static_cast<std::size_t>(columnsOf(code));
    i += std::max<std::size_t>(n, 1);
  }
  return width;
}

std::string fitColumns(const std::string& text, std::size_t columns) {
  if (displayWidth(text) <= columns) return text;
  const std::size_t room = columns >= 3 ? columns - 3 : columns;
  std::string out;
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    unsigned code = 0;
    const std::size_t n = std::max<std::size_t>(utf8Length(text, i, code), 1);
    const std::size_t w = n == 1 && static_cast<unsigned char>(text[i]) >= 0x80
                              ? 1
                              : static_cast<std::size_t>(columnsOf(code));
    if (width + w > room) break;
    out.append(text, i, n);
    width += w;
    i += n;
  }
  return columns >= 3 ? out + "..." : out;
}

int terminalColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    const int n = std::atoi(columns);
    if (n > 0) return n;
  }
  return 80;
}

void Report::line(const std::string& text) {
  clearBars();
  std::fputs(text.c_str(), out_);
  std::fputc('\n', out_);
}

std::string Report::eventHead(const std::string& name, int job) const {
  std::string json = fillText("{\"schema\":%d,\"event\":", JsonSchemaVersion) + jsonQuote(name);
  if (job > 0) json += fillText(",\"job\":%d", job);
  return json;
}

void Report::event(const std::string& name, const Job& job, const std::string& extra) {
  const VideoEntry& entry = *job.entry;
  std::string json = eventHead(name, job.id) + ",\"file\":" + jsonQuote(entry.sourcePath);
  const std::string output = engine_->list().outputPathOf(entry);
  if (!output.empty()) json += ",\"output\":" + jsonQuote(output);
  line(json + extra + "}");
}

std::string Report::failureReason(const VideoEntry& entry) const {
  if (entry.failureText != nullptr && *entry.failureText != '\0') return entry.failureText;
  const std::string log = engine_->list().logPathOf(entry);
  std::string reason = log.empty() ? std::string() : readLogReason(log);
  return reason.empty() ? "Conversion Error" : reason;
}

void Report::rejected(const std::string& path, const std::string& reason) {
  ++rejected_;
  const int id = nextId_++;
  if (style_ == ReportStyle::Json) {
    line(eventHead("rejected", id) + ",\"file\":" + jsonQuote(path) +
         ",\"reason\":" + jsonQuote(reason) + "}");
  } else {
    line(lineStart("skipped") + plainText(path) + ": " + plainText(reason));
  }
  std::fflush(out_);
}

void Report::batchStarting(const std::vector<VideoEntry*>& entries) {
  for (VideoEntry* e : entries) {
    jobs_.push_back({e, nextId_++, Ready});
    if (style_ == ReportStyle::Json) event("added", jobs_.back());
  }
  std::fflush(out_);
}

void Report::finished(Job& job, int16_t state) {
  const VideoEntry& e = *job.entry;
  if (style_ == ReportStyle::Json) {
    std::string extra;
    if (state == Done) extra = fillText(",\"size\":%llu", (unsigned long long)e.sizeBytes);
    if (state == ConversionError) extra = ",\"reason\":" + jsonQuote(failureReason(e));
    event(stateWord(state), job, extra);
    return;
  }
  std::string text = lineStart(stateWord(state)) + plainText(e.sourcePath);
  if (state == Done) text += " -> " + plainText(engine_->list().outputPathOf(e));
  if (state == ConversionError) text += ": " + plainText(failureReason(e));
  line(text);
}

void Report::update(bool last) {
  for (Job& job : jobs_) {
    const VideoEntry& e = *job.entry;
    const bool ended = last || engine_->list().hasEnded(e);
    int16_t state = e.stateValue();
    // Finished but its worker still runs: the result is not final yet.
    if (isFinished(state) && !ended) state = job.reported;
    const bool running = state == Starting || state == Converting;
    if (state != job.reported) {
      const bool wasRunning = job.reported == Starting || job.reported == Converting;
      job.reported = state;
      if (state == Pending || (running && wasRunning)) {
        // not news: queued at the start, or a running conversion that is still running
      } else if (style_ == ReportStyle::Json) {
        // A conversion may start and end between two looks: it still reports its start.
        const bool ran = !engine_->list().outputPathOf(e).empty();
        if (!running && !job.started && ran) event("started", job);
        job.started = job.started || running || ran;
        if (running) {
          event("started", job);
        } else {
          finished(job, state);
        }
      } else if (isFinished(state)) {
        finished(job, state);
      }
    }
    double percent = 0;
    if (style_ == ReportStyle::Json && running && engine_->batch().runningPercent(e, percent)) {
      const std::string text = fillText("%.1f", percent);
      if (text != job.lastPercent) {
        job.lastPercent = text;
        event("progress", job, ",\"percent\":" + text);
      }
    }
  }
  if (style_ == ReportStyle::Terminal && !last) drawBars();
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
  // One column short of the width: a line that fills the last column wraps on some terminals,
  // and the bars are moved over by their count of lines.
  const int width = terminalColumns(::fileno(out_));
  const std::size_t columns = static_cast<std::size_t>(std::max(width - 1, 1));
  int finished = 0;
  std::string text;
  for (const Job& job : jobs_) {
    const VideoEntry& e = *job.entry;
    const int16_t state = e.stateValue();
    if (isFinished(state)) ++finished;
    if (state != Starting && state != Converting) continue;
    double percent = 0;
    engine_->batch().runningPercent(e, percent);
    const std::string name = plainText(e.sourcePath.substr(e.sourcePath.rfind('/') + 1));
    text += barLine(name, percent, fillText("%5.1f%%", percent), columns) + "\n";
    ++barLines_;
  }
  text += barLine("total", overall_,
                  fillText("%3d%%  %d/%d", overall_, finished, static_cast<int>(jobs_.size())),
                  columns) +
          "\n";
  ++barLines_;
  std::fputs(text.c_str(), out_);
}

bool Report::finish() {
  update(true);
  clearBars();
  int done = 0, failed = 0, stopped = 0;
  for (const Job& job : jobs_) {
    const int16_t state = job.entry->stateValue();
    done += state == Done;
    failed += state == ConversionError;
    stopped += state != Done && state != ConversionError;
  }
  if (style_ == ReportStyle::Json) {
    line(eventHead("finished", 0) +
         fillText(",\"converted\":%d,\"failed\":%d,\"stopped\":%d,\"skipped\":%d}", done, failed,
                  stopped, rejected_));
  } else {
    line(fillText("%d converted, %d failed, %d stopped, %d skipped", done, failed, stopped,
                  rejected_));
  }
  std::fflush(out_);
  return failed == 0 && stopped == 0 && rejected_ == 0;
}

}  // namespace vidmora::cli
