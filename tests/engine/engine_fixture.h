// Shared pieces of the engine tests: a temporary folder, a scripted window, generated clips.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/batch_presenter.h"
#include "engine/engine.h"
#include "engine/ui_port.h"
#include "support/temp_folder.h"

namespace vidmora::test {

inline bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

inline std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Generates a short clip with ffmpeg's lavfi sources; false when ffmpeg failed.
inline bool makeClip(const std::string& path, double seconds = 1.0, bool withAudio = true,
                     const std::string& audioSource = "sine=frequency=440:sample_rate=22050") {
  std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10:d=" +
                    std::to_string(seconds);
  if (withAudio) cmd += " -f lavfi -i '" + audioSource + ":d=" + std::to_string(seconds) + "'";
  cmd += " -pix_fmt yuv420p -shortest '" + path + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// A source file for the stand-in encoder; its lines say what the encoder does.
inline std::string fakeSource(const TempFolder& dir, const std::string& name,
                              const std::string& script) {
  const std::string path = dir / name;
  writeFile(path, script);
  return path;
}

// The front end as the engine sees it: a record of what the engine announced, and the window's
// texts made from it.
class FakeUi : public UiPort {
 public:
  std::function<void(int)> onRepaint;  // called on every row repaint (main thread)
  int reloads = 0, repaints = 0, exitRequests = 0, batchStarts = 0, batchEnds = 0;
  BatchResult lastResult;
  bool batchRunning = false;
  std::string status;  // status panel 1 as the window shows it
  int progressBar = -1;
  std::vector<int> removedRows, gotoRows;

  void rowsChanged(int count) override {
    ++reloads;
    presenter.rowsCounted(count);
    show();
  }
  void rowChanged(int row) override {
    ++repaints;
    if (onRepaint) onRepaint(row);
  }
  void allRowsChanged() override {}
  void rowRemoved(int row, int count) override {
    removedRows.push_back(row);
    presenter.rowsCounted(count);
    show();
  }
  void currentRowChanged(int row) override { gotoRows.push_back(row); }
  void batchStarted(const BatchCounts& counts) override {
    ++batchStarts;
    batchRunning = true;
    presenter.batchStarted(counts);
    show();
  }
  void batchProgressed(const BatchCounts& counts) override {
    presenter.batchProgressed(counts);
    show();
    progressBar = presenter.progress();
  }
  void batchEnded(const BatchResult& result, int rowCount) override {
    ++batchEnds;
    batchRunning = false;
    lastResult = result;
    presenter.batchEnded(result, rowCount);
    show();
  }
  void commandStatesChanged() override {}
  void exitRequested() override { ++exitRequests; }

 private:
  void show() { status = presenter.statusText(); }
  BatchPresenter presenter;
};

// An engine over a fake window with the given encoder, destination folder and history path.
struct EngineRig {
  EngineRig(const std::string& encoder, const std::string& dest, EngineConfig extra = {})
      : engine(ui, queue, [&] {
          extra.encoderPath = encoder;
          return extra;
        }()) {
    engine.settings().DestDir = dest;
    engine.settings().MaxConversions = 2;
    engine.settingsChanged();
  }
  // Serves main-thread calls until the batch has ended (false on timeout).
  bool waitBatch(int64_t timeoutMs = 60000) {
    return queue.serveUntil(
        [&] { return !engine.batch().conversionMode() && engine.batch().activeCount() == 0; },
        timeoutMs);
  }
  // Adds files and folders as a drop does (scanPaths) and serves the main thread until the scan
  // ended; the refused files.
  std::vector<Refusal> scan(const std::vector<std::string>& paths) {
    std::vector<Refusal> refused;
    bool ended = false;
    if (!engine.scanner().scanPaths(paths, [&](std::vector<Refusal> r) {
          refused = std::move(r);
          ended = true;
        }))
      return refused;
    queue.serveUntil([&] { return ended; });
    return refused;
  }
  // Adds an entry directly, as if probed (no encoder run).
  VideoEntry& addReady(const std::string& source) {
    auto e = std::make_unique<VideoEntry>(source);
    e->kind = 1;
    e->profileId = engine.settings().ProfileId;
    e->outputName = baseNameOf(source);
    e->setState(Ready);
    VideoEntry& ref = *e;
    ref.listIndex = engine.list().entries().count();
    engine.list().entries().append(std::move(e));
    return ref;
  }

  MainThreadQueue queue;
  FakeUi ui;
  Engine engine;
};

}  // namespace vidmora::test
