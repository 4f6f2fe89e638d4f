// What the engine announces to its front end (the window, the command-line program, tests).
// The engine never asks through here: an operation that needs an answer returns an outcome and
// the front end calls again. Every call comes on the main thread, and the engine never holds the
// list lock while it calls in here, so an implementation may call back into the Engine.
#pragma once

#include <string>

namespace vidmora {

class UiPort {
 public:
  virtual ~UiPort() = default;

  // The list changed its rows (entries added, removed, requeued): show its count again.
  virtual void reloadListView() = 0;
  // One row / every row changed (the row count did not).
  virtual void repaintRow(int row) = 0;
  virtual void repaintAllRows() = 0;
  // One row is gone (the entry is already out of the list).
  virtual void removeRow(int row) = 0;
  // The row an operation made current (the newest entry, the row after a removed one).
  virtual void goToRow(int row) = 0;

  // Status-bar panel 1 (entry count, batch progress text).
  virtual void setStatusText(const std::string& text) = 0;
  // The batch progress: 0..100.
  virtual void setProgressBar(int position) = 0;
  // A batch started (true) or ended (false): settings that the running batch uses are locked.
  virtual void setBatchControls(bool batchRunning) = 0;
  // Conversion look on (a batch started) and off (it ended); showFullBar: it ran to its end.
  virtual void enterConversionDisplay() = 0;
  virtual void leaveConversionDisplay(bool showFullBar) = 0;
  // Something the commands' enabled states depend on changed.
  virtual void updateCommandStates() = 0;

  // The batch ended with "exit after" or "shut down after" set: the front end ends the program
  // (after the current engine routine has returned).
  virtual void exitRequested() = 0;
};

}  // namespace vidmora
