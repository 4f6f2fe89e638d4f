// What the engine announces to its front end (the window, the command-line program, tests):
// events of the list and its batch, never texts or widgets. Each front end formats what it shows
// itself. The engine never asks through here: an operation that needs an answer returns an
// outcome and the front end calls again. Every call comes on the main thread, and the engine
// never holds the list lock while it calls in here, so an implementation may call back into the
// Engine.
#pragma once

namespace vidmora {

// Where the batch stands: rows of the batch (those that joined it included), rows whose
// conversion is over (converted, failed or stopped), rows converted, conversions at work, rows
// not finished yet, and the percentage done with each row weighted by its duration.
struct BatchCounts {
  int total = 0;
  int ended = 0;
  int converted = 0;
  int running = 0;
  int active = 0;
  int percent = 0;
};

// How a batch ended: its rows converted and failed, and whether it ran to its end (false: Stop
// All ended it).
struct BatchResult {
  int converted = 0;
  int failed = 0;
  bool ranToEnd = false;
};

class UiPort {
 public:
  virtual ~UiPort() = default;

  // --- the list
  // Rows were added, removed or queued again; `count` rows are in the list now.
  virtual void rowsChanged(int count) = 0;
  // One row / every row changed (the row count did not).
  virtual void rowChanged(int row) = 0;
  virtual void allRowsChanged() = 0;
  // One row is gone (the entry is already out of the list); `count` rows are left.
  virtual void rowRemoved(int row, int count) = 0;
  // The row an operation made current (the newest entry, the row after a removed one).
  virtual void currentRowChanged(int row) = 0;

  // --- the batch
  // A batch started: settings the running batch uses are locked until it ends.
  virtual void batchStarted(const BatchCounts& counts) = 0;
  // The batch moved on (a conversion started, reported or ended; rows joined it).
  virtual void batchProgressed(const BatchCounts& counts) = 0;
  // The batch ended; `rowCount` rows are in the list.
  virtual void batchEnded(const BatchResult& result, int rowCount) = 0;

  // Something the commands' enabled states depend on changed.
  virtual void commandStatesChanged() = 0;
  // The batch ended with "exit after" or "shut down after" set: the front end ends the program
  // (after the current engine routine has returned).
  virtual void exitRequested() = 0;
};

}  // namespace vidmora
