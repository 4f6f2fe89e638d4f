// The window's texts for the list and its batch, made from the engine's events: status panel 1
// ("3 video(s)" when idle, "Converting 5..." then "2 / 5  16%" during a batch), the progress
// bar's position and the batch's count ("2 of 13 converted"). Toolkit-free: the window shows
// what it holds, tests read it.
#pragma once

#include <string>

#include "engine/ui_port.h"

namespace vidmora {

class BatchPresenter {
 public:
  // The list's rows were counted again: idle, panel 1 shows the count; a batch keeps its text.
  void rowsCounted(int count);
  void batchStarted(const BatchCounts& counts);
  void batchProgressed(const BatchCounts& counts);
  // Panel 1 shows the list's count again; a batch that ran to its end leaves the bar full.
  void batchEnded(const BatchResult& result, int rowCount);

  bool batchRunning() const { return running_; }
  const std::string& statusText() const { return status_; }
  // Empty outside a batch.
  const std::string& countText() const { return count_; }
  // 0..100.
  int progress() const { return progress_; }

 private:
  bool running_ = false;
  std::string status_;
  std::string count_;
  int progress_ = 0;
};

}  // namespace vidmora
