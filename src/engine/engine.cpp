// The engine's life: its parts made and wired, the settings passed on, the exit tidy-up.
#include "engine/engine.h"

#include "platform/paths.h"
#include "platform/stale_files.h"
#include "platform/texts.h"

namespace vidmora {

namespace {

TSettings defaultSettings() {
  TSettings settings;
  setDefaults(settings);
  return settings;
}

}  // namespace

Engine::Engine(UiPort& ui, MainThreadQueue& queue, EngineConfig config)
    : ui_(ui),
      queue_(queue),
      config_(std::move(config)),
      settings_(defaultSettings()),
      list_(ui_, settings_, progress_, config_.historyPath),
      queue_keeper_(list_, config_.queuePath),
      batch_(ui_, queue_, config_, settings_, progress_, list_,
             [this] { return scanner_.scanning(); }),
      scanner_(queue_, config_, settings_, progress_, list_) {
  if (config_.createProgressBlock) progress_.create();
  if (!config_.reservationFolder.empty()) {
    createFolderChain(config_.reservationFolder);
    removeStaleReservations(config_.reservationFolder);
  }
  ListHooks hooks;
  hooks.appended = [this](const std::vector<VideoEntry*>& added) { batch_.entriesAppended(added); };
  hooks.reordered = [this] { batch_.orderChanged(); };
  hooks.changed = [this] { queue_keeper_.changed(); };
  hooks.saveNow = [this] { queue_keeper_.saveNow(); };
  list_.setHooks(std::move(hooks));
  settingsChanged();
}

Engine::~Engine() {
  batch_.stopEverything();
  scanner_.join();  // its probes are killed and its walk stops at the closing mark
  batch_.waitForWorkers(-1);
  queue_.serve();  // the workers' last posts, which find the list closing
  progress_.close();
}

std::string Engine::startProblem() const {
  if (!config_.createProgressBlock || progress_.isOpen()) return {};
  return texts::fillText(texts::ReasonNoProgressBlock, progress_.error().c_str());
}

void Engine::settingsChanged() {
  // Ready rows show the output name with the extension of the profile chosen now (the batch
  // sets the profile again when it starts).
  const bool readyChanged = list_.applyProfile(settings_.ProfileId);
  queue_keeper_.setEnabled(settings_.SaveHistory != 0);
  batch_.settingsChanged();
  if (readyChanged && !list_.closing()) ui_.allRowsChanged();
}

void Engine::exitTidyUp() {
  if (exitDone_) return;
  exitDone_ = true;
  batch_.stopEverything();
  batch_.releaseDesktop();
  scanner_.join();
  // No entry may go while its conversion runs; stopped encoders end within the exit grace time
  // (they are killed after it), so this wait is bounded.
  queue_.serveUntil([this] { return batch_.runningCount() == 0; });
  batch_.forgetBatch();
  queue_keeper_.finalSave();
  list_.tidyUpAtExit();
}

}  // namespace vidmora
