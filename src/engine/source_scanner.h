// The source scanner: which files an add of files and folders offers to the list (the folder
// walk), probing them through the encoder (many at once) and appending what the encoder accepted.
//
// Threads: addVideo probes on the calling (main) thread. scanPaths walks and probes on a thread
// of its own, with up to one probe per core; the probed entries and the end are posted to the
// main thread in the order the files were named. Progress slots are taken under the list lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/main_thread.h"
#include "settings/settings.h"
#include "videolist/video_entry.h"

namespace vidmora {

// The files named, in order, with every folder walked recursively (names sorted, each folder
// visited once even when links lead back to it). Only files with an accepted extension count;
// a path that does not exist is left out without a word. stop() is asked between files.
// With anyFile, a file named directly counts whatever its extension.
std::vector<std::string> collectSources(const std::vector<std::string>& paths,
                                        const std::function<bool()>& stop = {},
                                        bool anyFile = false);

// Runs task(i) for every i below count on up to `threads` threads (the calling thread is one of
// them) and returns when all have run. Tasks are taken in order of i.
void runParallel(int count, int threads, const std::function<void(int)>& task);

// How many probes run at once: the number of cores, at least 1.
int probeThreads();

struct EngineConfig;
class ProgressBlock;
class VideoListStore;

// What became of a file offered to the list. Invalid: the encoder refused it (the front end says
// "%s Invalid video"); Failed: it could not be probed (no encoder, no progress block, a probe that
// did not answer in time), and a reason says why; Skipped: nothing added and nothing to say (busy
// list, a scan cancelled or the program closing).
enum class AddOutcome { Added, Invalid, Failed, Skipped };

// A file offered to the list and not added: Invalid or Failed, with the reason of a failure.
struct Refusal {
  std::string path;
  AddOutcome outcome = AddOutcome::Invalid;
  std::string reason;  // for Invalid: the probe's words, or ""
};
// The window's message for a refused file.
std::string refusalMessage(const Refusal& refusal);

class SourceScanner {
 public:
  // Everything passed in is the engine's and outlives the scanner.
  SourceScanner(MainThreadQueue& queue, const EngineConfig& config, TSettings& settings,
                ProgressBlock& progress, VideoListStore& list);
  // Waits for the scan thread (it stops at the list's closing mark).
  ~SourceScanner() { join(); }
  SourceScanner(const SourceScanner&) = delete;
  SourceScanner& operator=(const SourceScanner&) = delete;

  // Probes the file and appends a Ready entry (during a batch it may join the batch). reason
  // (when given) gets a failure's reason.
  AddOutcome addVideo(const std::string& path, std::string* reason = nullptr);
  // Files and folders in order (files must have an accepted extension unless anyFile is set, as
  // for files the user picked in the add dialog; folders are walked recursively), probed in
  // parallel (one probe per core) on threads of their own; the entries are appended as Ready in
  // that order on the main thread as their probes end (during a batch they join it or wait, as
  // the settings say). done(refused) runs on the main thread at the end with the files that were
  // refused or could not be probed, in order. False (and no scan) while another scan runs or the
  // program closes.
  using ScanDone = std::function<void(std::vector<Refusal> refused)>;
  bool scanPaths(const std::vector<std::string>& paths, ScanDone done, bool anyFile = false);
  bool scanning() const { return scanning_; }
  // Ends the running scan early: no more files are walked or probed (running probes are
  // killed); what was probed is still appended and done() still runs.
  void cancelScan();
  // Waits until the last scan's thread has ended (its walk and probes stop once the list
  // closes).
  void join();

 private:
  AddOutcome probeVideo(const std::string& path, VideoEntry& entry, std::string& reason);
  std::unique_ptr<VideoEntry> newEntry(const std::string& path, int16_t profileId) const;
  void scanThread(std::vector<std::string> paths, int16_t profileId, ScanDone done, bool anyFile);

  MainThreadQueue& queue_;
  const EngineConfig& config_;
  TSettings& settings_;
  ProgressBlock& progress_;
  VideoListStore& store_;
  bool scanning_ = false;  // main thread
  std::atomic<bool> scanCancelled_{false};
  std::thread scanThread_;
};

}  // namespace vidmora
