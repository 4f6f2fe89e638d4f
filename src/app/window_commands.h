// The main window's commands: one QAction each for the menu bar, the list's pop-up menu and the
// toolbar (an item of the pop-up or a toolbar button is enabled and run by the same rule as its
// menu twin), their enabled states, and the work behind them: adds (dialogs, drops, command
// line) queued behind the scan, Convert, Stop, Remove, Rename, Delete, Play, the queue's and the
// presets' commands. Each asks what the engine needs answered, then calls it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"

class QAction;
class QMenu;
class QMenuBar;
class QToolBar;

namespace vidmora {

class TFMain;
class PropertiesWindow;
struct Refusal;

class WindowCommands : public QObject {
  Q_OBJECT

 public:
  explicit WindowCommands(TFMain& window);
  ~WindowCommands() override;

  // The menus (File, Queue, Options, Help), the list's pop-up menu and the toolbar's buttons.
  void buildMenus(QMenuBar* bar);
  void buildToolbar(QToolBar* toolbar);
  QMenu* popupMenu() const { return popup_; }
  // A command object by its name ("AddVideos1", "TBConvert", ...); null when unknown.
  QAction* command(const char* name) const;
  // Every command's enabled state from the list, its selection and the batch.
  void updateStates();

  // The add dialog; the chosen files are probed on the scanner's threads and join the list as
  // Ready rows. With offerBatch the batch is offered once they have (Convert with nothing
  // Ready). False when the dialog was cancelled.
  bool runAddCommand(bool offerBatch = false);
  // A folder chooser; the chosen folder's videos are added.
  void addFolderCommand();
  // Dropped, command-line or handed-over paths: walked and probed after the adds before them;
  // during a batch their files join the list as Ready rows; afterwards the batch is offered.
  // True when they were taken (false only while the window closes).
  bool addDroppedPaths(const std::vector<std::string>& paths);
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
  // Opens the selected row's log in the log window.
  void showLogCommand();
  void settingsCommand();
  // Properties of the focused row's source.
  void propertiesCommand();
  // A sample started or ended: open Properties windows show their row's expected size again.
  void refreshPropertiesEstimates();
  // "Trim…": the trim, crop, tracks and size dialog for the selected Ready rows.
  void trimCommand();
  // "Estimate Size": sample encodes of the selected Ready rows, in the background; each row's
  // sampled size then replaces the model's.
  void estimateSizeCommand();
  // Convert With… sets the selected Ready rows' own profile and values; pause and resume act
  // on the selected running rows, the "All" forms on the batch; the selected rows move up (-1)
  // or down (+1) and stay selected.
  void convertWithCommand();
  void pauseCommand(bool paused);
  void pauseAllCommand(bool paused);
  void moveRowsCommand(int delta);
  // Rows dragged within the list and dropped before row `before`: moved as Move Up/Down moves
  // them, and selected in their new places.
  void dropRowsCommand(const std::vector<int>& rows, int before);
  // Presets: the Options menu renames, deletes, exports and imports them.
  void renamePresetCommand();
  void deletePresetCommand();
  void exportPresetsCommand();
  void importPresetsCommand();

  // The rows a list command acts on: the selected ones.
  std::vector<int> commandRows();
  // The selected Ready rows: the ones Trim… shapes.
  std::vector<int> shapeRows();
  // A rename's file still moves: commands that remove rows wait for it.
  bool renaming() const;
  // The window closes: a rename still moving its file ends first, queued adds are dropped.
  void windowClosing();

 private:
  // Properties windows still open, with the source each shows.
  std::vector<std::pair<QPointer<PropertiesWindow>, std::string>> openProperties_;
  QAction* makeCommand(const char* name, const QString& text, void (WindowCommands::*slot)());
  void buildQueueCommands(QMenu* before, QMenuBar* bar);
  void buildPresetCommands(QMenu* options);
  void setEnabled(std::initializer_list<const char*> names, bool on);
  void updateQueueCommandStates(const std::vector<int>& rows);
  // The one row a one-row command acts on: the only selected row, else -1.
  int commandRow();
  // A question over several rows: the text with their count, then the rows it names (the
  // output file of a Done row when outputFiles, else the source), the first few of them.
  std::string rowsQuestion(const char* format, const std::vector<int>& rows, bool outputFiles);
  void removeRows(const std::vector<int>& rows, bool deleteVideos);
  // Rows that moved: selected in their new places, the focus on `focus`.
  void showMovedRows(const std::vector<int>& moved, int focus);
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
  // Where the first open dialog starts: the user's videos folder, else the home folder.
  std::string firstOpenFolder() const;
  // A rename whose file moves on a thread of its own.
  struct RenameJob {
    VideoEntry* entry = nullptr;
    VideoListStore::RenamePlan plan;
    bool moved = false;
    std::thread thread;
  };
  void finishRename(const std::shared_ptr<RenameJob>& job);
  Engine& engine() const;
  bool closing() const;

  TFMain& window_;
  std::map<std::string, QAction*> commands_;
  QMenu* popup_ = nullptr;
  bool updatingStates_ = false;
  std::deque<PendingAdd> adds_;
  bool offerBatch_ = false;
  std::shared_ptr<RenameJob> rename_;
};

}  // namespace vidmora
