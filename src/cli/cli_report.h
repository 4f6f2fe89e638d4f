// What vidmora-cli shows: JSON events for scripts, or progress bars on a terminal (plain lines
// when standard output is no terminal). It listens to the engine like the window does.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/ui_port.h"

namespace vidmora {
class Engine;
struct VideoEntry;
}  // namespace vidmora

namespace vidmora::cli {

// Version of the JSON events' layout; every event carries it as "schema".
inline constexpr int JsonSchemaVersion = 1;

// A JSON string, quotes included. A byte that is not part of valid UTF-8 becomes the escape of
// the lone surrogate U+DC00 + byte (U+DC80..U+DCFF), so the exact bytes can be had back.
std::string jsonQuote(const std::string& text);
// A file name or reason for a plain line: one line, control bytes and bytes that are not UTF-8
// as \xHH, newline, tab and carriage return as \n, \t, \r, a backslash doubled. Undoing the
// escapes gives the exact bytes back.
std::string plainText(const std::string& text);
// Columns the text takes on a terminal (wide East Asian characters take two, combining marks
// none).
std::size_t displayWidth(const std::string& text);
// The text cut to at most `columns` columns at a character boundary; a cut one ends in "...".
std::string fitColumns(const std::string& text, std::size_t columns);
// Columns of the terminal on fd: TIOCGWINSZ, else $COLUMNS, else 80.
int terminalColumns(int fd);

enum class ReportStyle { Json, Terminal, Lines };

class Report : public UiPort {
 public:
  Report(FILE* out, ReportStyle style) : out_(out), style_(style) {}

  void attach(Engine& engine) { engine_ = &engine; }
  // A file that will not be converted, and why.
  void rejected(const std::string& path, const std::string& reason);
  // The entries of this run, in order.
  void batchStarting(const std::vector<VideoEntry*>& entries);
  // Reports state changes since the last look and redraws the bars. `last`: the run is over,
  // every state is final and the bars go.
  void update(bool last = false);
  // The last line: how many converted, failed, were stopped. True when all converted.
  bool finish();

  // UiPort: the engine's announcements; the report looks at the entries on update().
  void rowsChanged(int) override {}
  void rowChanged(int) override { dirty_ = true; }
  void allRowsChanged() override { dirty_ = true; }
  void rowRemoved(int, int) override {}
  void currentRowChanged(int) override {}
  void batchStarted(const BatchCounts&) override {}
  void batchProgressed(const BatchCounts& counts) override { overall_ = counts.percent; }
  void batchEnded(const BatchResult&, int) override {}
  void commandStatesChanged() override {}
  void exitRequested() override {}

 private:
  struct Job {
    VideoEntry* entry;
    int id;
    int16_t reported;
    bool started = false;     // "started" was reported
    std::string lastPercent;  // the last "progress" sent
  };
  std::string eventHead(const std::string& name, int job) const;
  void event(const std::string& name, const Job& job, const std::string& extra = {});
  void finished(Job& job, int16_t state);
  void line(const std::string& text);
  void clearBars();
  void drawBars();
  std::string failureReason(const VideoEntry& entry) const;

  FILE* out_;
  ReportStyle style_;
  Engine* engine_ = nullptr;
  std::vector<Job> jobs_;
  int nextId_ = 1;
  int rejected_ = 0;
  int overall_ = 0;
  int barLines_ = 0;
  bool dirty_ = false;
};

}  // namespace vidmora::cli
