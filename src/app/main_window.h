// TFMain: the main window. It owns the engine and the main-thread queue, shows the video list,
// and turns every menu item, toolbar button, shortcut and drop into an engine or list command.
#pragma once

#include <QMainWindow>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/window_dialogs.h"
#include "engine/engine.h"
#include "engine/ui_port.h"
#include "platform/desktop_session.h"
#include "platform/main_thread.h"
#include "platform/power.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolBar;

namespace vidmora {

class PresetStore;
class TListViewData;
class BusyIndicator;
class ThumbnailColumn;
struct LVDisplayItem;

struct MainWindowOptions {
  // Empty: the user's XDG configuration folder; settings and history live there.
  std::string configFolder;
  // Empty: the user's videos folder (parent of the default destination folder).
  std::string videosFolder;
  // Empty: vidmora-encoder / vidmora-player beside the program.
  std::string encoderPath;
  std::string playerPath;
  // Files and folders named on the command line, added at the first activation.
  std::vector<std::string> commandLine;
  bool runUpdateCheck = true;
  // Null: the real dialogs / the system's power control.
  std::shared_ptr<WindowDialogs> dialogs;
  std::shared_ptr<PowerControl> power;
  // Engine timings (tests shorten them).
  unsigned tickPeriodMs = 1000;
  // Empty: the user's log folder (XDG state folder); old logs there are pruned at start.
  std::string logFolder;
  // The kept queue; empty: queue.bin in the user's state folder, or none when configFolder is
  // set (tests keep a queue only when they name one).
  std::string queuePath;
  // Null: the desktop's own session (sleep inhibitor, launcher progress, notification).
  std::shared_ptr<DesktopSession> desktopSession;
};

class TFMain : public QMainWindow, public UiPort {
  Q_OBJECT

 public:
  explicit TFMain(MainWindowOptions options = {});
  ~TFMain() override;

  Engine& engine() { return *engine_; }
  TSettings& settings() { return engine_->settings(); }
  TListViewData* listView() const { return LVBook; }
  // A command object by its name ("AddVideos1", "TBConvert", ...); null when unknown.
  QAction* command(const char* name) const;
  bool isShuttingDown() const { return shuttingDown_; }
  const std::string& settingsPath() const { return settingsPath_; }

  // Settings panel and view.
  void applyMainSettings();
  void takeMainSettings(int which);
  // Width clamped to 400..1600, height three quarters of it.
  void resetWindowSize();

  // List commands.
  // The add dialog; the chosen files are probed on the scanner's threads and join the list as
  // Ready rows. With offerBatch the batch is offered once they have (Convert with nothing
  // Ready). False when the dialog was cancelled.
  bool runAddCommand(bool offerBatch = false);
  // A folder chooser; the chosen folder's videos are added.
  void addFolderCommand();
  // Convert: offers to queue cancelled entries again, offers the add command when nothing is
  // Ready, then starts the batch.
  void convertCommand();
  // The shutdown question, the batch's settings dialog, then the batch. False only when the
  // shutdown question was declined.
  bool startBatchCommand();
  // Stop, Remove and Delete Video act on the selected rows (several: one question naming the
  // count and the rows); Rename, Play and Show Log on the one selected row. A focused row that
  // is not selected is never acted on.
  void stopConversionCommand();
  void stopAllCommand();
  void removeCommand();
  void renameCommand();
  void deleteVideoCommand();
  void removeMissingCommand();
  void playCommand();
  void openDestinationCommand();
  // Opens the focused row's log in the log window.
  void showLogCommand();
  void settingsCommand();
  // Properties of the focused row's source.
  void propertiesCommand();
  // "Trim…": the trim, crop, tracks and size dialog for the selected Ready rows.
  void trimCommand();
  // The thumbnail column, remembered in a small file beside the settings.
  void setThumbnailsShown(bool on);
  ThumbnailColumn* thumbnailColumn() const { return thumbnails_.get(); }
  // A Ready row's expected output size in bytes; 0 when it cannot be told beforehand.
  uint64_t expectedOutputBytes(int row);
  // The same with the values the row will be converted with.
  uint64_t expectedOutputBytes(int row, const ConversionSnapshot& values);
  // The expected bytes of the Ready rows whose size can be told, how many those are, and how
  // many rows are Ready.
  struct ReadyEstimate {
    uint64_t total = 0;
    int known = 0;
    int ready = 0;
  };
  ReadyEstimate readyRowsEstimate();
  // The Ready rows' expected total and the destination's free space, as the panel shows them.
  QString batchEstimateText();
  // Dropped, command-line or handed-over paths: walked and probed after the adds before them;
  // during a batch their files join the list as Ready rows; afterwards the batch is offered.
  // True when they were taken (false only while the window closes).
  bool addDroppedPaths(const std::vector<std::string>& paths);

  // Queue commands: Convert With… sets the selected Ready rows' own profile and values; pause
  // and resume act on the selected running rows, the "All" forms on the batch; the selected
  // rows move up (-1) or down (+1) and stay selected.
  void convertWithCommand();
  void pauseCommand(bool paused);
  void pauseAllCommand(bool paused);
  void moveRowsCommand(int delta);

  // Presets: they follow the profiles in the main chooser (picking one applies its profile and
  // values); the Options menu renames, deletes, exports and imports them.
  PresetStore& presets() { return *presets_; }
  void renamePresetCommand();
  void deletePresetCommand();
  void exportPresetsCommand();
  void importPresetsCommand();

  void showMessage(const std::string& text);
  bool askOkCancel(const std::string& question);
  int focusedRow();

  // UiPort.
  void reloadListView() override;
  void repaintRow(int row) override;
  void repaintAllRows() override;
  void removeRow(int row) override;
  void goToRow(int row) override;
  void setStatusText(const std::string& text) override;
  void setProgressBar(int position) override;
  void setBatchControls(bool batchRunning) override;
  void enterConversionDisplay() override;
  void leaveConversionDisplay(bool showFullBar) override;
  void updateCommandStates() override;
  void exitRequested() override;

  // Status bar panel texts (tests and screenshots read them); panel 2 is the focused row's
  // failure reason, panel 3 the batch's count ("2 of 13 converted", empty without a batch).
  QString statusPanelText(int panel) const;
  // A cell's tooltip as the list shows it.
  QString cellToolTip(int row, int column);
  bool progressBarVisible() const;
  bool animationRunning() const;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildWindow();
  void buildMenus();
  void buildToolbar();
  void buildSettingsPanel();
  void buildListView();
  void buildStatusBar();
  QAction* makeCommand(const char* name, const QString& text, void (TFMain::*slot)());
  void buildQueueCommands(QMenu* before);
  void updateQueueCommandStates(const std::vector<int>& rows);
  void initPresets();
  void buildPresetCommands(QMenu* options);
  // The preset items after the profiles in the main chooser, again.
  void fillPresetChoices();
  // The main chooser's line `index`: a preset is applied (true); a profile is not (false).
  bool choosePreset(int index);
  // The profile and quality the row is converted with, for the Name cell's tooltip.
  QString rowSettingsToolTip(int row);
  void firstActivation();
  // Window destruction: save the settings, tidy and save the list, stop taking drops. The
  // destructor then releases the engine and powers off when a batch asked for it.
  void formDestroy();
  void displayCell(LVDisplayItem& item);
  // The focused row's failure reason into the status bar.
  void showFocusedReason(int row);
  // What the tooltip of a row's Source and Name cells adds: the source's summary.
  QString sourceTip(int row);
  void buildThumbnailColumn();
  std::string viewChoicesPath() const;
  void loadViewChoices();
  // Before a batch: one that will not fit into the destination's free space asks first. True:
  // go on.
  bool batchFitsOrConfirmed();
  void buildEstimateLabel();
  // The selected Ready rows: the ones Trim… shapes.
  std::vector<int> shapeRows();
  void scheduleEstimate();
  // Small files beside the settings (column widths, view choices): read with a size limit,
  // written atomically.
  static std::string readSideFile(const std::string& path);
  static void writeSideFile(const std::string& path, const std::string& text);
  void setEnabled(std::initializer_list<const char*> names, bool on);
  void toggleView(const char* name, uint8_t TSettings::*field);
  void applyViewSettings();
  void saveSettingsFile();
  std::string columnsPath() const;
  void loadColumnWidths();
  void saveColumnWidths();
  void selectDestinationFolder();
  // The rows a list command acts on: the selected ones.
  std::vector<int> commandRows();
  // The one row a one-row command acts on: the only selected row, else -1.
  int commandRow();
  // A question over several rows: the text with their count, then the rows it names (the
  // output file of a Done row when outputFiles, else the source), the first few of them.
  std::string rowsQuestion(const char* format, const std::vector<int>& rows, bool outputFiles);
  // Adds of files and folders wait for the scan before them.
  struct PendingAdd {
    std::vector<std::string> paths;
    bool anyFile = false;     // files named directly count whatever their extension
    bool offerBatch = false;  // the batch is offered when the adds have ended
  };
  bool queueAdd(PendingAdd add);
  void runNextAdd();
  // One notice for an add's refused files, a line each.
  void showRefused(const std::vector<Refusal>& refused);
  // A rename whose file moves on a thread of its own.
  struct RenameJob {
    VideoEntry* entry = nullptr;
    VideoListStore::RenamePlan plan;
    bool moved = false;
    std::thread thread;
  };
  bool renaming() const;
  void finishRename(const std::shared_ptr<RenameJob>& job);
  void removeRows(const std::vector<int>& rows, bool deleteVideos);
  // Where the first open dialog starts: the user's videos folder, else the home folder.
  std::string firstOpenFolder() const;

  MainWindowOptions options_;
  std::shared_ptr<WindowDialogs> dialogs_;
  std::shared_ptr<PowerControl> power_;
  std::shared_ptr<DesktopSession> desktop_;  // outlives the engine
  std::string configFolder_;
  std::string settingsPath_;
  std::string encoderPath_;
  std::string playerPath_;
  std::shared_ptr<std::atomic<bool>> alive_;
  MainThreadQueue queue_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<PresetStore> presets_;

  bool shuttingDown_ = false;
  bool destroyed_ = false;
  bool shutdownPending_ = false;
  bool firstActivationPending_ = true;
  bool updatingStates_ = false;
  std::deque<PendingAdd> adds_;
  bool offerBatch_ = false;
  std::shared_ptr<RenameJob> rename_;
  QTimer* fullBarTimer_ = nullptr;  // the full bar shows a moment after a batch

  std::map<std::string, QAction*> commands_;
  QMenu* PopupMenu1 = nullptr;
  QWidget* PanelTop = nullptr;
  QToolBar* ToolBar1 = nullptr;
  QLabel* Image1 = nullptr;
  BusyIndicator* busyIndicator_ = nullptr;
  QWidget* PanelSettings = nullptr;
  QLineEdit* EdDir = nullptr;
  QPushButton* BSelectDir = nullptr;
  QComboBox* CBVideoFor = nullptr;
  QPushButton* BVideoOptions = nullptr;
  TListViewData* LVBook = nullptr;
  QLabel* statusPanels_[2] = {nullptr, nullptr};
  QLabel* reasonPanel_ = nullptr;
  QLabel* countPanel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QTimer* refreshTimer_ = nullptr;  // shows the running conversions during a batch
  std::unique_ptr<ThumbnailColumn> thumbnails_;
  QLabel* estimateLabel_ = nullptr;
  QTimer* estimateTimer_ = nullptr;  // one recount for a burst of changes
};

}  // namespace vidmora
