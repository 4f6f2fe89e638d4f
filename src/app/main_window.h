// TFMain: the main window. It owns the engine and the main-thread queue and shows the video
// list; its commands and its batch display are parts of their own.
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

class BatchDisplay;
class BatchEstimate;
class WindowCommands;
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

// The window: its widgets and layout, the settings panel, the list's display and the view
// files beside the settings. Its commands live in WindowCommands, its status bar and conversion
// look in BatchDisplay; the engine's events reach it through UiPort.
class TFMain : public QMainWindow, private UiPort {
  Q_OBJECT

 public:
  explicit TFMain(MainWindowOptions options = {});
  ~TFMain() override;

  Engine& engine() { return *engine_; }
  TSettings& settings() { return engine_->settings(); }
  TListViewData* listView() const { return LVBook; }
  WindowCommands& commands() const { return *commands_; }
  // A command object by its name ("AddVideos1", "TBConvert", ...); null when unknown.
  QAction* command(const char* name) const;
  // The status bar and the conversion look.
  BatchDisplay& batchDisplay() const { return *batchDisplay_; }
  PresetStore& presets() { return *presets_; }
  ThumbnailColumn* thumbnailColumn() const { return thumbnails_.get(); }
  bool isShuttingDown() const { return shuttingDown_; }
  const std::string& settingsPath() const { return settingsPath_; }

  // The settings panel shows the settings (applyMainSettings) or takes them (takeMainSettings:
  // 1 the folder, 2 the profile).
  void applyMainSettings();
  void takeMainSettings(int which);
  // The thumbnail column, remembered in a small file beside the settings.
  void setThumbnailsShown(bool on);
  // Handed-over or command-line paths: added as a drop is (see WindowCommands).
  bool addDroppedPaths(const std::vector<std::string>& paths);

  // What the Ready rows will take at the destination.
  BatchEstimate& estimate() const { return *estimate_; }

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  friend class WindowCommands;

  // UiPort: the engine's events, shown by the list view, the batch display and the commands.
  void rowsChanged(int count) override;
  void rowChanged(int row) override;
  void allRowsChanged() override;
  void rowRemoved(int row, int count) override;
  void currentRowChanged(int row) override;
  void batchStarted(const BatchCounts& counts) override;
  void batchProgressed(const BatchCounts& counts) override;
  void batchEnded(const BatchResult& result, int rowCount) override;
  void commandStatesChanged() override;
  void exitRequested() override;
  // Settings the running batch uses are locked during it.
  void setBatchControls(bool batchRunning);

  void buildWindow();
  void buildToolbar();
  void buildSettingsPanel();
  void buildListView();
  void buildStatusBar();
  void initPresets();
  // The preset items after the profiles in the main chooser, again.
  void fillPresetChoices();
  // The main chooser's line `index`: a preset is applied (true); a profile is not (false).
  bool choosePreset(int index);
  // Width clamped to 400..1600, height three quarters of it.
  void resetWindowSize();
  void firstActivation();
  // Window destruction: save the settings, tidy and save the list, stop taking drops. The
  // destructor then releases the engine and powers off when a batch asked for it.
  void formDestroy();
  void displayCell(LVDisplayItem& item);
  // A cell's tooltip as the list shows it.
  QString cellToolTip(int row, int column);
  // The profile and quality the row is converted with, for the Name cell's tooltip.
  QString rowSettingsToolTip(int row);
  // The focused row's failure reason into the status bar.
  void showFocusedReason(int row);
  // What the tooltip of a row's Source and Name cells adds: the source's summary.
  QString sourceTip(int row);
  int focusedRow();
  void showMessage(const std::string& text);
  bool askOkCancel(const std::string& question);
  void buildThumbnailColumn();
  std::string viewChoicesPath() const;
  void loadViewChoices();
  // Before a batch: one that will not fit into the destination's free space asks first. True:
  // go on.
  bool batchFitsOrConfirmed();
  void buildEstimateLabel();
  void scheduleEstimate();
  // Small files beside the settings (column widths, view choices): read with a size limit,
  // written atomically.
  static std::string readSideFile(const std::string& path);
  static void writeSideFile(const std::string& path, const std::string& text);
  void toggleView(const char* name, uint8_t TSettings::*field);
  void applyViewSettings();
  void saveSettingsFile();
  std::string columnsPath() const;
  void loadColumnWidths();
  void saveColumnWidths();
  void selectDestinationFolder();

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
  std::unique_ptr<BatchEstimate> estimate_;

  bool shuttingDown_ = false;
  bool destroyed_ = false;
  bool shutdownPending_ = false;
  bool firstActivationPending_ = true;

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
  WindowCommands* commands_ = nullptr;
  BatchDisplay* batchDisplay_ = nullptr;
  std::unique_ptr<ThumbnailColumn> thumbnails_;
  QLabel* estimateLabel_ = nullptr;
  QTimer* estimateTimer_ = nullptr;  // one recount for a burst of changes
};

}  // namespace vidmora
