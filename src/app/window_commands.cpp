// The main window's list commands (add, convert, stop, remove, rename, delete, play) and the
// drops of files and folders: each asks what the engine needs answered, then calls it.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <functional>

#include "app/window_commands.h"

#include "app/main_window.h"
#include "app/open_filter.h"
#include "app/window_images.h"
#include "lvdata/lvdata.h"
#include "platform/paths.h"
#include "platform/texts.h"
#include "platform/version.h"
#include "windows/about_window.h"
#include "windows/help_pages.h"
#include "windows/log_window.h"

namespace vidmora {
namespace {

constexpr std::size_t RenameCapacity = 250;
constexpr std::size_t MaxOpenPaths = 1000;

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

WindowCommands::WindowCommands(TFMain& window) : QObject(&window), window_(window) {}

WindowCommands::~WindowCommands() = default;

Engine& WindowCommands::engine() const {
  return *window_.engine_;
}

bool WindowCommands::closing() const {
  return window_.shuttingDown_;
}

// ---------------------------------------------------------------- menus, pop-up and toolbar

QAction* WindowCommands::makeCommand(const char* name, const QString& text,
                                     void (WindowCommands::*slot)()) {
  auto* action = new QAction(text, &window_);
  action->setObjectName(QString::fromLatin1(name));
  if (slot) connect(action, &QAction::triggered, this, slot);
  commands_[name] = action;
  return action;
}

QAction* WindowCommands::command(const char* name) const {
  const auto it = commands_.find(name);
  return it == commands_.end() ? nullptr : it->second;
}

void WindowCommands::buildMenus(QMenuBar* bar) {
  auto bind = [this](const char* name, const QString& text, void (WindowCommands::*slot)(),
                     const QKeySequence& key = {}) {
    QAction* action = makeCommand(name, text, slot);
    if (!key.isEmpty()) {
      action->setShortcut(key);
      action->setShortcutContext(Qt::WindowShortcut);
    }
    return action;
  };
  auto convert = [this] { convertCommand(); };
  auto stopOne = [this] { stopConversionCommand(); };
  auto stopAll = [this] { stopAllCommand(); };

  QMenu* file = bar->addMenu(tr("&File"));
  file->setObjectName(QStringLiteral("File1"));
  file->addAction(
      bind("AddVideos1", tr("&Add Video Entry"), nullptr, QKeySequence(Qt::Key_Insert)));
  file->addAction(bind("AddFolder1", tr("Add &Folder..."), &WindowCommands::addFolderCommand));
  file->addAction(bind("DeleteEntry1", tr("&Remove Video Entry"), &WindowCommands::removeCommand,
                       QKeySequence(Qt::Key_Delete)));
  file->addAction(
      bind("ConvertLocalVideo1", tr("&Convert  Video(s)"), nullptr, QKeySequence(Qt::Key_F2)));
  file->addSeparator();
  file->addAction(
      bind("StopConversion1", tr("&Stop Conversion"), nullptr, QKeySequence(Qt::CTRL | Qt::Key_T)));
  file->addAction(bind("StopAll1", tr("Sto&p All"), nullptr, QKeySequence(Qt::Key_Escape)));
  file->addSeparator();
  file->addAction(bind("DeleteUnExistingVideoEntries1",
                       tr("Delete All Entries with &UnExisting Videos"),
                       &WindowCommands::removeMissingCommand));
  file->addSeparator();
  file->addAction(bind("RenameVideo1", tr("&Rename Video"), &WindowCommands::renameCommand,
                       QKeySequence(Qt::Key_F6)));
  file->addAction(bind("DeleteVideo1", tr("Delete &Video"), &WindowCommands::deleteVideoCommand,
                       QKeySequence(Qt::Key_F8)));
  file->addSeparator();
  file->addAction(bind("OpenOutputFolder1", tr("&Open Destination Folder"),
                       &WindowCommands::openDestinationCommand));
  file->addAction(bind("PlayVideo1", tr("&Play Video"), &WindowCommands::playCommand));
  file->addAction(bind("ShowLog1", tr("Show &Log"), &WindowCommands::showLogCommand,
                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)));
  file->addAction(bind("Properties1", tr("P&roperties"), &WindowCommands::propertiesCommand));
  file->addAction(bind("Trim1", tr("&Trim…"), &WindowCommands::trimCommand));
  file->addAction(
      bind("EstimateSize1", tr("Est&imate Size"), &WindowCommands::estimateSizeCommand));
  command("Properties1")
      ->setShortcuts(
          {QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)});
  file->addSeparator();
  file->addAction(bind("Exit1", tr("&Exit"), nullptr, QKeySequence(Qt::ALT | Qt::Key_F4)));

  connect(command("AddVideos1"), &QAction::triggered, this, [this] { runAddCommand(); });
  connect(command("ConvertLocalVideo1"), &QAction::triggered, this, convert);
  connect(command("StopConversion1"), &QAction::triggered, this, stopOne);
  connect(command("StopAll1"), &QAction::triggered, this, stopAll);
  connect(command("Exit1"), &QAction::triggered, &window_, &QWidget::close);

  QMenu* options = bar->addMenu(tr("&Options"));
  options->setObjectName(QStringLiteral("Options1"));
  options->addAction(bind("Settings1", tr("&Settings"), &WindowCommands::settingsCommand,
                          QKeySequence(Qt::CTRL | Qt::Key_E)));
  options->addSeparator();
  struct Toggle {
    const char* name;
    QString text;
    uint8_t TSettings::*field;
  };
  for (const Toggle& t :
       {Toggle{"ViewToolbar1", tr("Show &Toolbar"), &TSettings::ShowToolbar},
        Toggle{"ViewSettings1", tr("Show &Main Settings"), &TSettings::ShowSettingsPanel},
        Toggle{"ShowStatusBar1", tr("Show Status Bar"), &TSettings::ShowStatusBar}}) {
    QAction* action = bind(t.name, t.text, nullptr);
    action->setCheckable(true);
    const char* name = t.name;
    const auto field = t.field;
    connect(action, &QAction::triggered, this,
            [this, name, field] { window_.toggleView(name, field); });
    options->addAction(action);
  }
  QAction* thumbnails = bind("ShowThumbnails1", tr("Show T&humbnails"), nullptr);
  thumbnails->setCheckable(true);
  connect(thumbnails, &QAction::triggered, &window_, &TFMain::setThumbnailsShown);
  options->addAction(thumbnails);
  buildPresetCommands(options);

  QMenu* help = bar->addMenu(tr("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  help->addAction(bind("Index1", tr("&Index"), nullptr, QKeySequence(Qt::Key_F1)));
  help->addAction(bind("TipoftheDay1", tr("&Tip of the Day"), nullptr));
  help->addSeparator();
  help->addAction(bind("ProgramHomePage1", tr("&Program Home Page"), nullptr));
  help->addAction(bind("About1", tr("&About"), nullptr));
  connect(command("Index1"), &QAction::triggered, this, [this] { openHelpContents(&window_); });
  connect(command("TipoftheDay1"), &QAction::triggered, this, [this] {
    TSettings& s = engine().settings();
    s.TipAtStartup = window_.dialogs_->tipOfTheDay(&window_, s.TipAtStartup != 0) ? 1 : 0;
  });
  connect(command("ProgramHomePage1"), &QAction::triggered, this,
          [this] { openWebAddress(&window_, QString::fromLatin1(texts::HomePageUrl)); });
  connect(command("About1"), &QAction::triggered, this, [this] {
    showAbout(QString::fromLatin1(texts::AboutTitle),
              qs(texts::fillText(texts::AboutText, programVersion())), 50, &window_);
  });

  // A change of either menu recomputes the states.
  for (QMenu* menu : {file, options, help})
    connect(menu, &QMenu::aboutToShow, this, &WindowCommands::updateStates);

  // The list's pop-up menu. Items whose key equals their main-menu twin's only show the key:
  // both are enabled by the same rule, and one binding per key keeps Qt from seeing the key as
  // ambiguous. Ctrl+L and Enter belong to the pop-up alone and work while the list has focus.
  popup_ = new QMenu(&window_);
  popup_->setObjectName(QStringLiteral("popup_"));
  auto popup = [this](const char* name, const QString& text, const QString& keyText,
                      const std::function<void()>& run) {
    QAction* action =
        makeCommand(name, keyText.isEmpty() ? text : text + QLatin1Char('\t') + keyText, nullptr);
    connect(action, &QAction::triggered, this, run);
    popup_->addAction(action);
    return action;
  };
  popup("AddVideos2", tr("&Add Video(s)"), QStringLiteral("Ins"), [this] { runAddCommand(); });
  popup("AddFolder2", tr("Add &Folder..."), {}, [this] { addFolderCommand(); });
  popup("DeleteEntry2", tr("&Remove Video(s)"), QStringLiteral("Del"), [this] { removeCommand(); });
  popup("ConvertVideos2", tr("&Convert Video(s)"), QStringLiteral("F2"), convert);
  popup_->addSeparator();
  popup("StopConversion2", tr("Stop Conversion"), QStringLiteral("Ctrl+T"), stopOne);
  QAction* stopAll2 = popup("StopAll2", tr("Stop All"), {}, stopAll);
  stopAll2->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  stopAll2->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  popup_->addSeparator();
  popup("RenameVideo2", tr("Rename Video"), QStringLiteral("F6"), [this] { renameCommand(); });
  popup("DeleteVideo2", tr("Delete Video"), QStringLiteral("F8"), [this] { deleteVideoCommand(); });
  popup_->addSeparator();
  popup("OpenOutputFolder2", tr("&Open Destination Folder"), {},
        [this] { openDestinationCommand(); });
  QAction* play2 = popup("PlayVideo2", tr("&Play Video"), {}, [this] { playCommand(); });
  play2->setShortcuts({QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
  play2->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  popup("ShowLog2", tr("Show &Log"), QStringLiteral("Ctrl+Shift+L"), [this] { showLogCommand(); });
  popup("Properties2", tr("P&roperties"), QStringLiteral("Alt+Enter"),
        [this] { propertiesCommand(); });
  popup("Trim2", tr("&Trim…"), {}, [this] { trimCommand(); });
  popup("EstimateSize2", tr("Est&imate Size"), {}, [this] { estimateSizeCommand(); });
  connect(popup_, &QMenu::aboutToShow, this, &WindowCommands::updateStates);
  buildQueueCommands(options, bar);
}

void WindowCommands::buildToolbar(QToolBar* toolbar) {
  struct Button {
    const char* name;
    QString text;
    QString hint;
    const char* icon;
    QStyle::StandardPixmap fallback;
    std::function<void()> run;
  };
  const Button buttons[] = {
      {"TBAdd", tr("Add"), tr("Add Videos to convert"), "list-add", QStyle::SP_DialogOpenButton,
       [this] { runAddCommand(); }},
      {"TBRemove", tr("Remove"), tr("Remove videos from the list"), "list-remove",
       QStyle::SP_TrashIcon, [this] { removeCommand(); }},
      {"TBConvert", tr("Convert"), tr("Convert Videos"), "camera-video", QStyle::SP_MediaPlay,
       [this] { convertCommand(); }},
      {"TBOptions", tr("Settings"), tr("Settings"), "preferences-system",
       QStyle::SP_FileDialogDetailedView, [this] { settingsCommand(); }},
      {"TBHelp", tr("Help"), tr("Help"), "help-browser", QStyle::SP_DialogHelpButton,
       [this] { openHelpContents(&window_); }},
  };
  bool first = true;
  for (const Button& b : buttons) {
    if (!first) {
      auto* gap = new QWidget(toolbar);
      gap->setFixedWidth(8);
      toolbar->addWidget(gap);
    }
    first = false;
    QAction* action = makeCommand(b.name, b.text, nullptr);
    action->setIcon(themedIcon(b.icon, b.fallback, window_.style()));
    action->setToolTip(b.hint);
    connect(action, &QAction::triggered, this, b.run);
    toolbar->addAction(action);
    if (QWidget* button = toolbar->widgetForAction(action)) button->setMinimumSize(47, 36);
  }
}

// ---------------------------------------------------------------- command states

void WindowCommands::setEnabled(std::initializer_list<const char*> names, bool on) {
  for (const char* name : names)
    if (QAction* action = command(name)) action->setEnabled(on);
}

void WindowCommands::updateStates() {
  if (updatingStates_ || closing() || !window_.engine_) return;
  updatingStates_ = true;
  const int count = engine().list().entries().count();
  int focused = count > 0 ? window_.LVBook->lvdIndexFocused() : -1;
  if (focused >= count) focused = count - 1;
  window_.showFocusedReason(focused);
  // The commands act on the selected rows; the one-row commands on the one selected row.
  const std::vector<int> rows = commandRows();
  const int single = rows.size() == 1 ? rows.front() : -1;
  setEnabled({"Properties1", "Properties2"}, focused >= 0);
  const bool shapeable = !shapeRows().empty();
  setEnabled({"Trim1", "Trim2", "EstimateSize1", "EstimateSize2"}, shapeable);
  window_.scheduleEstimate();
  setEnabled(
      {"ShowLog1", "ShowLog2"},
      single >= 0 && !engine().list().logPathOf(engine().list().entries().at(single)).empty());
  if (count == 0) {
    setEnabled({"PlayVideo1", "PlayVideo2", "RenameVideo1", "RenameVideo2", "DeleteEntry1",
                "DeleteEntry2", "DeleteVideo1", "DeleteVideo2", "DeleteUnExistingVideoEntries1",
                "StopConversion1", "StopAll1", "StopConversion2", "StopAll2"},
               false);
  } else {
    const bool converting = engine().batch().conversionMode();
    // Several selected rows: a command is on when it applies to one of them.
    bool anyUnfinished = false;
    bool anyRemovable = false;
    for (const int r : rows) {
      const int rowState = engine().list().entries().at(r).stateValue();
      anyUnfinished = anyUnfinished || isUnfinished(rowState);
      anyRemovable = anyRemovable || isRemovable(rowState);
    }
    const int state = single >= 0 ? engine().list().entries().at(single).stateValue() : -1;
    setEnabled({"PlayVideo1", "PlayVideo2", "RenameVideo1", "RenameVideo2"},
               state == Done || state == Ready);
    setEnabled({"StopConversion1", "StopConversion2"}, converting && anyUnfinished);
    setEnabled({"DeleteEntry1", "ConvertLocalVideo1", "DeleteEntry2", "ConvertVideos2", "TBRemove",
                "TBConvert", "DeleteUnExistingVideoEntries1"},
               !converting);
    setEnabled({"StopAll1", "StopAll2"}, converting);
    setEnabled({"DeleteEntry1", "DeleteEntry2", "DeleteVideo1", "DeleteVideo2",
                "DeleteUnExistingVideoEntries1"},
               !converting && anyRemovable);
  }
  // Files may be added at any time: during a batch they join it or wait, as the settings say.
  setEnabled({"AddVideos1", "AddFolder1", "AddFolder2", "AddVideos2", "TBAdd"}, true);
  updateQueueCommandStates(rows);
  updatingStates_ = false;
}

// ---------------------------------------------------------------- list commands

std::string WindowCommands::firstOpenFolder() const {
  const std::string videos =
      window_.options_.videosFolder.empty() ? videosFolder() : window_.options_.videosFolder;
  if (!videos.empty() && pathExists(videos)) return videos;
  return homeFolder();
}

bool WindowCommands::runAddCommand(bool offerBatch) {
  TSettings& s = engine().settings();
  if (s.LastSourceDir.empty()) s.LastSourceDir = firstOpenFolder();
  std::vector<std::string> paths;
  if (!window_.dialogs_->openFiles(&window_, QString::fromLatin1(texts::AddTitle), s.LastSourceDir,
                                   buildOpenFilter(), paths, MaxOpenPaths))
    return false;
  if (!paths.empty() && !paths.back().empty()) s.LastSourceDir = folderOf(paths.back());
  // The probe decides: a file picked under "All Files" is offered as well. The probes run on
  // the scanner's threads, as a folder's do.
  queueAdd({std::move(paths), true, offerBatch});
  return true;
}

void WindowCommands::addFolderCommand() {
  if (closing()) return;
  TSettings& s = engine().settings();
  std::string folder = s.LastSourceDir.empty() ? firstOpenFolder() : s.LastSourceDir;
  if (!window_.dialogs_->browseFolder(&window_, QString::fromLatin1(texts::AddFolderTitle), folder))
    return;
  // The folder is walked like a dropped one; its videos join the list as they are probed.
  queueAdd({{folder}, false, false});
}

bool WindowCommands::queueAdd(PendingAdd add) {
  if (closing() || add.paths.empty()) return false;
  adds_.push_back(std::move(add));
  runNextAdd();
  return true;
}

void WindowCommands::runNextAdd() {
  if (closing() || adds_.empty() || engine().scanner().scanning()) return;
  PendingAdd add = std::move(adds_.front());
  adds_.pop_front();
  offerBatch_ = offerBatch_ || add.offerBatch;
  const bool started = engine().scanner().scanPaths(
      add.paths,
      [this](std::vector<Refusal> refused) {
        showRefused(refused);
        // A batch is offered once every add that asked for it has ended.
        if (adds_.empty() && offerBatch_) {
          offerBatch_ = false;
          startBatchCommand();
        }
        updateStates();
        runNextAdd();
      },
      add.anyFile);
  if (!started) adds_.push_front(std::move(add));
  updateStates();
}

void WindowCommands::showRefused(const std::vector<Refusal>& refused) {
  if (refused.empty()) return;
  // One box for the whole add, a line for every file.
  std::string text;
  for (const Refusal& refusal : refused)
    text += (text.empty() ? "" : "\n") + refusalMessage(refusal);
  window_.showMessage(text);
}

void WindowCommands::convertCommand() {
  if (closing() || engine().batch().conversionMode() || engine().scanner().scanning()) return;
  if (engine().list().offersRequeue() && window_.askOkCancel(texts::RequeueQuestion))
    engine().list().requeueCancelled();
  // Nothing Ready: the add dialog, and the batch once its files have been probed.
  if (engine().batch().planBatch().ready == 0) {
    runAddCommand(true);
    return;
  }
  startBatchCommand();
}

bool WindowCommands::startBatchCommand() {
  const BatchPlan plan = engine().batch().planBatch();
  if (plan.ready == 0) return true;
  if (plan.asksShutdown && !window_.askOkCancel(texts::ShutdownQuestion)) return false;
  TSettings& s = engine().settings();
  if (!window_.dialogs_->settingsDialog(&window_, s,
                                        qs(texts::fillText(texts::BatchCaption, plan.ready))))
    return true;
  window_.saveSettingsFile();
  window_.applyMainSettings();
  if (!window_.batchFitsOrConfirmed()) return true;
  // The dialog ran a loop of its own: the engine counts the Ready entries again.
  engine().batch().startBatch();
  return true;
}

void WindowCommands::settingsCommand() {
  if (!window_.dialogs_->settingsDialog(&window_, engine().settings(), QString())) return;
  window_.saveSettingsFile();
  engine().settingsChanged();
  window_.applyMainSettings();
}

void WindowCommands::stopConversionCommand() {
  const std::vector<int> rows = commandRows();
  if (rows.size() > 1) {
    std::vector<int> running;
    for (const int r : rows)
      if (engine().batch().stopConversion(r) == StopOutcome::NeedsConfirmation)
        running.push_back(r);
    if (running.empty()) return;
    if (!window_.askOkCancel(rowsQuestion(texts::StopManyQuestion, running, false))) return;
    for (const int r : running) engine().batch().stopConversion(r, Answer::Yes);
    return;
  }
  if (rows.empty()) return;
  const int row = rows.front();
  if (engine().batch().stopConversion(row) != StopOutcome::NeedsConfirmation) return;
  engine().batch().stopConversion(
      row, window_.askOkCancel(texts::StopOneQuestion) ? Answer::Yes : Answer::No);
}

void WindowCommands::stopAllCommand() {
  if (engine().batch().stopAll() != StopOutcome::NeedsConfirmation) return;
  engine().batch().stopAll(window_.askOkCancel(texts::StopAllQuestion) ? Answer::Yes : Answer::No);
}

std::vector<int> WindowCommands::commandRows() {
  // The selected rows only: a focused row that is not selected is not acted on.
  const int count = engine().list().entries().count();
  std::vector<int> rows;
  for (const int row : window_.LVBook->lvdSelectedRows())
    if (row >= 0 && row < count) rows.push_back(row);
  return rows;
}

int WindowCommands::commandRow() {
  const std::vector<int> rows = commandRows();
  return rows.size() == 1 ? rows.front() : -1;
}

std::string WindowCommands::rowsQuestion(const char* format, const std::vector<int>& rows,
                                         bool outputFiles) {
  constexpr std::size_t Named = 10;
  std::string text = texts::fillText(format, static_cast<int>(rows.size())) + "\n";
  for (std::size_t i = 0; i < rows.size() && i < Named; ++i) {
    const VideoEntry& e = engine().list().entries().at(rows[i]);
    const bool file = outputFiles && e.stateValue() == Done && !e.outputPath.empty();
    text += "\n" + (file ? e.outputPath : e.sourcePath);
  }
  if (rows.size() > Named)
    text += "\n" + texts::fillText(texts::MoreRows, static_cast<int>(rows.size() - Named));
  return text;
}

void WindowCommands::removeRows(const std::vector<int>& rows, bool deleteVideos) {
  std::vector<int> removable;
  for (const int row : rows)
    if (isRemovable(engine().list().entries().at(row).stateValue())) removable.push_back(row);
  if (removable.empty()) {
    if (!deleteVideos) window_.showMessage(texts::RemoveRefused);
    return;
  }
  if (!window_.askOkCancel(
          rowsQuestion(deleteVideos ? texts::DeleteManyConfirm : texts::RemoveManyConfirm,
                       removable, deleteVideos)))
    return;
  // From the last row up, so the rows still to go keep their numbers.
  std::string failed;
  for (auto it = removable.rbegin(); it != removable.rend(); ++it) {
    const std::string outputPath = engine().list().entries().at(*it).outputPath;
    if (engine().list().removeEntry(*it, deleteVideos) == RemoveResult::DeleteFailed)
      failed += (failed.empty() ? "" : "\n") + outputPath;
  }
  if (!failed.empty()) window_.showMessage(texts::fillText(texts::DeleteFailed, failed.c_str()));
  updateStates();
}

void WindowCommands::removeCommand() {
  if (engine().batch().conversionMode() || renaming()) return;
  const std::vector<int> rows = commandRows();
  if (rows.size() > 1) return removeRows(rows, false);
  if (rows.empty()) return;
  const int i = rows.front();
  if (!isRemovable(engine().list().entries().at(i).stateValue())) {
    window_.showMessage(texts::RemoveRefused);
    return;
  }
  if (!window_.askOkCancel(texts::RemoveConfirm)) return;
  engine().list().removeEntry(i);
  updateStates();
}

void WindowCommands::renameCommand() {
  if (renaming()) return;
  const int i = commandRow();
  if (i < 0) return;
  VideoEntry& entry = engine().list().entries().at(i);
  if (entry.stateValue() != Done) return;
  QString current = qs(entry.outputName);
  if (current.size() > static_cast<qsizetype>(RenameCapacity - 1))
    current.truncate(RenameCapacity - 1);
  std::string name = current.toStdString();
  using Outcome = VideoListStore::RenameOutcome;
  VideoListStore::RenamePlan plan;
  // A name already taken is refused, and the prompt asks again.
  for (;;) {
    if (!window_.dialogs_->askNonEmptyText(&window_, QString::fromLatin1(texts::RenameCaption),
                                           QString::fromLatin1(texts::RenamePrompt), name,
                                           RenameCapacity))
      return;
    plan = engine().list().planRename(i, name);
    if (plan.outcome != Outcome::Taken) break;
    window_.showMessage(texts::fillText(texts::RenameTaken, name.c_str()));
  }
  if (plan.outcome != Outcome::Move) return;
  // A move across file systems copies the whole video: it runs off the window's thread, and
  // the row follows the file once it has moved.
  auto job = std::make_shared<RenameJob>();
  job->entry = &entry;
  job->plan = plan;
  rename_ = job;
  job->thread = std::thread([this, job] {
    job->moved = VideoListStore::moveOutput(job->plan);
    QMetaObject::invokeMethod(
        this, [this, job] { finishRename(job); }, Qt::QueuedConnection);
  });
  updateStates();
}

bool WindowCommands::renaming() const {
  return rename_ != nullptr;
}

void WindowCommands::finishRename(const std::shared_ptr<RenameJob>& job) {
  if (rename_ != job) return;  // already finished at close
  job->thread.join();
  rename_.reset();
  // The entry stays in the list while its file moves: removing commands wait for the move.
  VideoList& list = engine().list().entries();
  bool listed = false;
  for (int i = 0; i < list.count() && !listed; ++i) listed = &list.at(i) == job->entry;
  if (listed) engine().list().finishRename(*job->entry, job->plan, job->moved);
  if (!job->moved && !closing())
    window_.showMessage(texts::fillText(texts::RenameFailed, job->plan.from.c_str()));
  updateStates();
}

void WindowCommands::deleteVideoCommand() {
  if (engine().batch().conversionMode() || renaming()) return;
  const std::vector<int> rows = commandRows();
  if (rows.size() > 1) return removeRows(rows, true);
  if (rows.empty()) return;
  const int i = rows.front();
  const VideoEntry& entry = engine().list().entries().at(i);
  if (!isRemovable(entry.stateValue())) return;
  if (!window_.askOkCancel(texts::DeleteConfirm)) return;
  const std::string outputPath = entry.outputPath;
  if (engine().list().removeEntry(i, true) == RemoveResult::DeleteFailed)
    window_.showMessage(texts::fillText(texts::DeleteFailed, outputPath.c_str()));
  updateStates();
}

void WindowCommands::removeMissingCommand() {
  if (engine().batch().conversionMode() || renaming()) return;
  if (!window_.askOkCancel(texts::MissingConfirm)) return;
  engine().list().removeMissing();
  updateStates();
}

void WindowCommands::playCommand() {
  const int i = commandRow();
  if (i < 0) return;
  const VideoEntry& entry = engine().list().entries().at(i);
  std::string path;
  if (entry.stateValue() == Done)
    path = entry.outputPath;
  else if (entry.stateValue() == Ready)
    path = entry.sourcePath;
  else
    return;
  if (path.empty() || !pathExists(path)) {
    window_.showMessage(texts::fillText(texts::PlayMissing, path.c_str()));
    return;
  }
  if (engine().settings().InternalPlayer) {
    // The player gets the path as its one argument. A player that told the user itself why the
    // video cannot be played leaves no problem text.
    window_.dialogs_->launchPlayer(&window_, window_.playerPath_, path,
                                   [this](const LaunchOutcome& outcome) {
                                     if (!outcome.ok && !outcome.problem.isEmpty())
                                       window_.dialogs_->notice(&window_, outcome.problem);
                                   });
    return;
  }
  window_.dialogs_->openWithDesktop(
      &window_, path, LaunchTarget::Video, [this, path](const LaunchOutcome& outcome) {
        if (outcome.ok) return;
        if (outcome.problem.isEmpty())
          window_.showMessage(texts::fillText(texts::PlayFailed, path.c_str()));
        else
          window_.dialogs_->notice(&window_, outcome.problem);
      });
}

void WindowCommands::openDestinationCommand() {
  window_.dialogs_->openWithDesktop(&window_, engine().settings().DestDir, LaunchTarget::Folder,
                                    [this](const LaunchOutcome& outcome) {
                                      if (!outcome.ok && !outcome.problem.isEmpty())
                                        window_.dialogs_->notice(&window_, outcome.problem);
                                    });
}

void WindowCommands::showLogCommand() {
  const int i = commandRow();
  if (i < 0) return;
  const std::string log = engine().list().logPathOf(engine().list().entries().at(i));
  if (!log.empty()) showLogWindow(&window_, log);
}

void WindowCommands::windowClosing() {
  if (rename_) finishRename(rename_);
  adds_.clear();
}

bool WindowCommands::addDroppedPaths(const std::vector<std::string>& paths) {
  // Taken also while a scan runs (it waits behind it) or a batch converts (its files join the
  // list as Ready rows); a batch is offered when the add has ended and none converts.
  return queueAdd({paths, false, true});
}

}  // namespace vidmora
