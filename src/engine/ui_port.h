// Everything the engine asks of the main window. The Qt window implements it; tests use a
// scripted fake. Every call comes on the main thread, and the engine never holds the list lock
// while it calls in here, so an implementation may call back into the Engine.
#pragma once

#include <string>

#include "settings/settings.h"

namespace vidmora {

class UiPort {
 public:
  virtual ~UiPort() = default;

  // Message box with an OK button; the caption is the application title.
  virtual void showMessage(const std::string& text) = 0;
  // OK/Cancel question with the question icon; true only on OK.
  virtual bool askOkCancel(const std::string& question) = 0;
  // The settings dialog over `settings` (changed in place on OK). An empty caption means the
  // dialog's own caption. True on OK.
  virtual bool runSettingsDialog(TSettings& settings, const std::string& caption) = 0;
  // Shows the settings' destination folder and profile in the window.
  virtual void applyMainSettings() = 0;
  // The add-videos command (open-file dialog, then Engine::addVideo per path). True when the
  // user picked something.
  virtual bool runAddCommand() = 0;

  // List view: set the row count to the list's count and repaint everything.
  virtual void reloadListView() = 0;
  // Repaint one row / every visible row (the row count did not change).
  virtual void repaintRow(int row) = 0;
  virtual void repaintAllRows() = 0;
  // Delete one row of the view (the entry is already out of the list).
  virtual void removeRow(int row) = 0;
  // Focus the list and move the focus and selection to the row.
  virtual void goToRow(int row) = 0;
  // The focused row, -1 when none.
  virtual int focusedRow() = 0;

  // Status-bar panel 1 (entry count, batch progress text).
  virtual void setStatusText(const std::string& text) = 0;
  // The batch progress bar: position 0..100.
  virtual void setProgressBar(int position) = 0;
  // batchRunning true: show the progress bar at 0 and disable the destination-folder button, the
  // profile chooser and the "&Settings" item. false: enable those three again.
  virtual void setBatchControls(bool batchRunning) = 0;
  // Conversion look: hide the static image and start the animation.
  virtual void enterConversionDisplay() = 0;
  // Idle look: stop the animation, show the static image; when showFullBar, show the progress
  // bar at 100 for about 300 ms; then hide the progress bar.
  virtual void leaveConversionDisplay(bool showFullBar) = 0;
  // Recompute the enabled state of the commands.
  virtual void updateCommandStates() = 0;

  // Let the toolkit handle pending events (long folder scans).
  virtual void processPendingEvents() = 0;
  // Close the main window (after the end of a batch). May be called from inside an engine
  // routine: close after it returns (queued), the close query will find no active conversion.
  virtual void closeMainWindow() = 0;
};

}  // namespace vidmora
