// The engine: owns the settings record, the progress block and the three parts that do the work,
// and wires them together. The parts are the video list with its rules and history
// (VideoListStore), the batch runner with its scheduler and workers (BatchRunner) and the source
// scanner that probes and adds files (SourceScanner). One Engine per program; a front end (the
// window, vidmora-cli) calls the parts and listens to its UiPort. The engine never asks: an
// operation that needs the user's answer returns an outcome and is called again with the answer.
// Unless a method says otherwise it runs on the main thread.
//
// Life of the program: make the MainThreadQueue and set its wake-up hook; make the Engine (it
// creates the progress block); fill settings() and call settingsChanged(); list().loadHistory().
// During a batch call batch().refreshRunning() on a timer. At the end: save the settings,
// exitTidyUp(), then destroy the Engine (it waits for its last worker threads, serving the queue
// meanwhile), then shut the queue down; the window finally calls
// shutdownAtExit(batch().shutdownPending(), power).
#pragma once

#include "engine/batch_runner.h"
#include "engine/engine_config.h"
#include "engine/progress_channel.h"
#include "engine/queue_keeper.h"
#include "engine/source_scanner.h"
#include "engine/ui_port.h"
#include "engine/video_list_store.h"
#include "platform/main_thread.h"
#include "settings/settings.h"

namespace vidmora {

class Engine {
 public:
  Engine(UiPort& ui, MainThreadQueue& queue, EngineConfig config);
  // Stops what still runs and waits for the workers (serving the main-thread queue meanwhile).
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  TSettings& settings() { return settings_; }
  // Call after the settings record changed (dialog, profile chooser, folder button): Ready rows
  // take the chosen profile, workers read the destination folder and MaxConversions again.
  void settingsChanged();

  // What keeps the engine from working as it should, for the front end to show at start (the
  // window in a message, vidmora-cli on standard error with exit status 1); "" when nothing
  // does. Today: no progress block could be made, so no file can be added.
  std::string startProblem() const;

  VideoListStore& list() { return list_; }
  BatchRunner& batch() { return batch_; }
  SourceScanner& scanner() { return scanner_; }
  // False when no progress block could be made: probes then add nothing.
  bool progressBlockOpen() const { return progress_.isOpen(); }

  // Start-up, after the history: the kept queue of ended runs comes back (when SaveHistory is
  // set and the configuration names a queue file). Returns how many rows came back.
  int loadQueue() { return queue_keeper_.load(); }
  QueueKeeper& queueKeeper() { return queue_keeper_; }

  // Window destruction: stops every conversion and the scan, waits (bounded) for the running
  // conversions, keeps the queue a last time, then tidies the list up
  // (VideoListStore::tidyUpAtExit). Runs once.
  void exitTidyUp();

 private:
  UiPort& ui_;
  MainThreadQueue& queue_;
  EngineConfig config_;
  TSettings settings_;
  ProgressBlock progress_;
  VideoListStore list_;
  QueueKeeper queue_keeper_;
  BatchRunner batch_;
  SourceScanner scanner_;
  bool exitDone_ = false;
};

}  // namespace vidmora
