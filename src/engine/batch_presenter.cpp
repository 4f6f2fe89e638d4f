#include "engine/batch_presenter.h"

#include <algorithm>

#include "engine/list_texts.h"
#include "platform/texts.h"

namespace vidmora {

void BatchPresenter::rowsCounted(int count) {
  if (!running_) status_ = texts::fillText(texts::EntryCount, count);
}

void BatchPresenter::batchStarted(const BatchCounts& counts) {
  running_ = true;
  progress_ = 0;
  status_ = texts::fillText(texts::BatchStarting, counts.active);
  count_ = batchCountText(counts.converted, counts.total);
}

void BatchPresenter::batchProgressed(const BatchCounts& counts) {
  if (!running_) return;
  progress_ = std::clamp(counts.percent, 0, 100);
  status_ = texts::fillText(texts::BatchProgress, counts.running, counts.active, progress_);
  count_ = batchCountText(counts.converted, counts.total);
}

void BatchPresenter::batchEnded(const BatchResult& result, int rowCount) {
  running_ = false;
  count_.clear();
  if (result.ranToEnd) progress_ = 100;
  rowsCounted(rowCount);
}

}  // namespace vidmora
