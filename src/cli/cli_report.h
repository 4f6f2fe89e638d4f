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

// A JSON string, quotes included. Bytes that are not UTF-8 become U+FFFD.
std::string jsonQuote(const std::string& text);

enum class ReportStyle { Json, Terminal, Lines };

class Report : public UiPort {
 public:
  Report(FILE* out, ReportStyle style) : out_(out), style_(style) {}

  void attach(Engine& engine) { engine_ = &engine; }
  // A file named on the command line that will not be converted, and why.
  void rejected(const std::string& path, const std::string& reason);
  // The entries of this run: every Ready entry of the list now.
  void batchStarting();
  // Reports state changes since the last look and redraws the bars.
  void update();
  // The last line: how many converted, failed, were stopped. True when all converted.
  bool finish();

  // UiPort: the engine's announcements; the report looks at the entries on update().
  void reloadListView() override {}
  void repaintRow(int) override { dirty_ = true; }
  void repaintAllRows() override { dirty_ = true; }
  void removeRow(int) override {}
  void goToRow(int) override {}
  void setStatusText(const std::string&) override {}
  void setProgressBar(int position) override { overall_ = position; }
  void setBatchControls(bool) override {}
  void enterConversionDisplay() override {}
  void leaveConversionDisplay(bool) override {}
  void updateCommandStates() override {}
  void exitRequested() override {}

 private:
  struct Job {
    VideoEntry* entry;
    int16_t reported;
    bool started = false;  // "started" was reported
  };
  void event(const std::string& name, const VideoEntry& entry, const std::string& extra = {});
  void line(const std::string& text);
  void clearBars();
  void drawBars();

  FILE* out_;
  ReportStyle style_;
  Engine* engine_ = nullptr;
  std::vector<Job> jobs_;
  int rejected_ = 0;
  int overall_ = 0;
  int barLines_ = 0;
  bool dirty_ = false;
};

}  // namespace vidmora::cli
