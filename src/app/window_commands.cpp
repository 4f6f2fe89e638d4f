// The main window's list commands (add, convert, stop, remove, rename, delete, play) and the
// drops of files and folders: each asks what the engine needs answered, then calls it.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "app/main_window.h"
#include "app/open_filter.h"
#include "lvdata/lvdata.h"
#include "platform/paths.h"
#include "platform/texts.h"
#include "windows/log_window.h"

namespace vidmora {
namespace {

constexpr std::size_t RenameCapacity = 250;
constexpr std::size_t MaxOpenPaths = 1000;

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

// ---------------------------------------------------------------- list commands

std::string TFMain::firstOpenFolder() const {
  const std::string videos = options_.videosFolder.empty() ? videosFolder() : options_.videosFolder;
  if (!videos.empty() && pathExists(videos)) return videos;
  return homeFolder();
}

bool TFMain::runAddCommand(bool offerBatch) {
  TSettings& s = engine_->settings();
  if (s.LastSourceDir.empty()) s.LastSourceDir = firstOpenFolder();
  std::vector<std::string> paths;
  if (!dialogs_->openFiles(this, QString::fromLatin1(texts::AddTitle), s.LastSourceDir,
                           buildOpenFilter(), paths, MaxOpenPaths))
    return false;
  if (!paths.empty() && !paths.back().empty()) s.LastSourceDir = folderOf(paths.back());
  // The probe decides: a file picked under "All Files" is offered as well. The probes run on
  // the scanner's threads, as a folder's do.
  queueAdd({std::move(paths), true, offerBatch});
  return true;
}

void TFMain::addFolderCommand() {
  if (shuttingDown_) return;
  TSettings& s = engine_->settings();
  std::string folder = s.LastSourceDir.empty() ? firstOpenFolder() : s.LastSourceDir;
  if (!dialogs_->browseFolder(this, QString::fromLatin1(texts::AddFolderTitle), folder)) return;
  // The folder is walked like a dropped one; its videos join the list as they are probed.
  queueAdd({{folder}, false, false});
}

bool TFMain::queueAdd(PendingAdd add) {
  if (shuttingDown_ || add.paths.empty()) return false;
  adds_.push_back(std::move(add));
  runNextAdd();
  return true;
}

void TFMain::runNextAdd() {
  if (shuttingDown_ || adds_.empty() || engine_->scanner().scanning()) return;
  PendingAdd add = std::move(adds_.front());
  adds_.pop_front();
  offerBatch_ = offerBatch_ || add.offerBatch;
  const bool started = engine_->scanner().scanPaths(
      add.paths,
      [this](std::vector<Refusal> refused) {
        showRefused(refused);
        // A batch is offered once every add that asked for it has ended.
        if (adds_.empty() && offerBatch_) {
          offerBatch_ = false;
          startBatchCommand();
        }
        updateCommandStates();
        runNextAdd();
      },
      add.anyFile);
  if (!started) adds_.push_front(std::move(add));
  updateCommandStates();
}

void TFMain::showRefused(const std::vector<Refusal>& refused) {
  if (refused.empty()) return;
  // One box for the whole add, a line for every file.
  std::string text;
  for (const Refusal& refusal : refused)
    text += (text.empty() ? "" : "\n") + refusalMessage(refusal);
  showMessage(text);
}

void TFMain::convertCommand() {
  if (shuttingDown_ || engine_->batch().conversionMode() || engine_->scanner().scanning()) return;
  if (engine_->list().offersRequeue() && askOkCancel(texts::RequeueQuestion))
    engine_->list().requeueCancelled();
  // Nothing Ready: the add dialog, and the batch once its files have been probed.
  if (engine_->batch().planBatch().ready == 0) {
    runAddCommand(true);
    return;
  }
  startBatchCommand();
}

bool TFMain::startBatchCommand() {
  const BatchPlan plan = engine_->batch().planBatch();
  if (plan.ready == 0) return true;
  if (plan.asksShutdown && !askOkCancel(texts::ShutdownQuestion)) return false;
  TSettings& s = engine_->settings();
  if (!dialogs_->settingsDialog(this, s, qs(texts::fillText(texts::BatchCaption, plan.ready))))
    return true;
  saveSettingsFile();
  applyMainSettings();
  if (!batchFitsOrConfirmed()) return true;
  // The dialog ran a loop of its own: the engine counts the Ready entries again.
  engine_->batch().startBatch();
  return true;
}

void TFMain::stopConversionCommand() {
  const std::vector<int> rows = commandRows();
  if (rows.size() > 1) {
    std::vector<int> running;
    for (const int r : rows)
      if (engine_->batch().stopConversion(r) == StopOutcome::NeedsConfirmation)
        running.push_back(r);
    if (running.empty()) return;
    if (!askOkCancel(rowsQuestion(texts::StopManyQuestion, running, false))) return;
    for (const int r : running) engine_->batch().stopConversion(r, Answer::Yes);
    return;
  }
  if (rows.empty()) return;
  const int row = rows.front();
  if (engine_->batch().stopConversion(row) != StopOutcome::NeedsConfirmation) return;
  engine_->batch().stopConversion(row,
                                  askOkCancel(texts::StopOneQuestion) ? Answer::Yes : Answer::No);
}

void TFMain::stopAllCommand() {
  if (engine_->batch().stopAll() != StopOutcome::NeedsConfirmation) return;
  engine_->batch().stopAll(askOkCancel(texts::StopAllQuestion) ? Answer::Yes : Answer::No);
}

std::vector<int> TFMain::commandRows() {
  // The selected rows only: a focused row that is not selected is not acted on.
  const int count = engine_->list().entries().count();
  std::vector<int> rows;
  for (const int row : LVBook->lvdSelectedRows())
    if (row >= 0 && row < count) rows.push_back(row);
  return rows;
}

int TFMain::commandRow() {
  const std::vector<int> rows = commandRows();
  return rows.size() == 1 ? rows.front() : -1;
}

std::string TFMain::rowsQuestion(const char* format, const std::vector<int>& rows,
                                 bool outputFiles) {
  constexpr std::size_t Named = 10;
  std::string text = texts::fillText(format, static_cast<int>(rows.size())) + "\n";
  for (std::size_t i = 0; i < rows.size() && i < Named; ++i) {
    const VideoEntry& e = engine_->list().entries().at(rows[i]);
    const bool file = outputFiles && e.stateValue() == Done && !e.outputPath.empty();
    text += "\n" + (file ? e.outputPath : e.sourcePath);
  }
  if (rows.size() > Named)
    text += "\n" + texts::fillText(texts::MoreRows, static_cast<int>(rows.size() - Named));
  return text;
}

void TFMain::removeRows(const std::vector<int>& rows, bool deleteVideos) {
  std::vector<int> removable;
  for (const int row : rows)
    if (isRemovable(engine_->list().entries().at(row).stateValue())) removable.push_back(row);
  if (removable.empty()) {
    if (!deleteVideos) showMessage(texts::RemoveRefused);
    return;
  }
  if (!askOkCancel(rowsQuestion(deleteVideos ? texts::DeleteManyConfirm : texts::RemoveManyConfirm,
                                removable, deleteVideos)))
    return;
  // From the last row up, so the rows still to go keep their numbers.
  std::string failed;
  for (auto it = removable.rbegin(); it != removable.rend(); ++it) {
    const std::string outputPath = engine_->list().entries().at(*it).outputPath;
    if (engine_->list().removeEntry(*it, deleteVideos) == RemoveResult::DeleteFailed)
      failed += (failed.empty() ? "" : "\n") + outputPath;
  }
  if (!failed.empty()) showMessage(texts::fillText(texts::DeleteFailed, failed.c_str()));
  updateCommandStates();
}

void TFMain::removeCommand() {
  if (engine_->batch().conversionMode() || renaming()) return;
  const std::vector<int> rows = commandRows();
  if (rows.size() > 1) return removeRows(rows, false);
  if (rows.empty()) return;
  const int i = rows.front();
  if (!isRemovable(engine_->list().entries().at(i).stateValue())) {
    showMessage(texts::RemoveRefused);
    return;
  }
  if (!askOkCancel(texts::RemoveConfirm)) return;
  engine_->list().removeEntry(i);
  updateCommandStates();
}

void TFMain::renameCommand() {
  if (renaming()) return;
  const int i = commandRow();
  if (i < 0) return;
  VideoEntry& entry = engine_->list().entries().at(i);
  if (entry.stateValue() != Done) return;
  QString current = qs(entry.outputName);
  if (current.size() > static_cast<qsizetype>(RenameCapacity - 1))
    current.truncate(RenameCapacity - 1);
  std::string name = current.toStdString();
  using Outcome = VideoListStore::RenameOutcome;
  VideoListStore::RenamePlan plan;
  // A name already taken is refused, and the prompt asks again.
  for (;;) {
    if (!dialogs_->askNonEmptyText(this, QString::fromLatin1(texts::RenameCaption),
                                   QString::fromLatin1(texts::RenamePrompt), name, RenameCapacity))
      return;
    plan = engine_->list().planRename(i, name);
    if (plan.outcome != Outcome::Taken) break;
    showMessage(texts::fillText(texts::RenameTaken, name.c_str()));
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
  updateCommandStates();
}

bool TFMain::renaming() const {
  return rename_ != nullptr;
}

void TFMain::finishRename(const std::shared_ptr<RenameJob>& job) {
  if (rename_ != job) return;  // already finished at close
  job->thread.join();
  rename_.reset();
  // The entry stays in the list while its file moves: removing commands wait for the move.
  VideoList& list = engine_->list().entries();
  bool listed = false;
  for (int i = 0; i < list.count() && !listed; ++i) listed = &list.at(i) == job->entry;
  if (listed) engine_->list().finishRename(*job->entry, job->plan, job->moved);
  if (!job->moved && !shuttingDown_)
    showMessage(texts::fillText(texts::RenameFailed, job->plan.from.c_str()));
  updateCommandStates();
}

void TFMain::deleteVideoCommand() {
  if (engine_->batch().conversionMode() || renaming()) return;
  const std::vector<int> rows = commandRows();
  if (rows.size() > 1) return removeRows(rows, true);
  if (rows.empty()) return;
  const int i = rows.front();
  const VideoEntry& entry = engine_->list().entries().at(i);
  if (!isRemovable(entry.stateValue())) return;
  if (!askOkCancel(texts::DeleteConfirm)) return;
  const std::string outputPath = entry.outputPath;
  if (engine_->list().removeEntry(i, true) == RemoveResult::DeleteFailed)
    showMessage(texts::fillText(texts::DeleteFailed, outputPath.c_str()));
  updateCommandStates();
}

void TFMain::removeMissingCommand() {
  if (engine_->batch().conversionMode() || renaming()) return;
  if (!askOkCancel(texts::MissingConfirm)) return;
  engine_->list().removeMissing();
  updateCommandStates();
}

void TFMain::playCommand() {
  const int i = commandRow();
  if (i < 0) return;
  const VideoEntry& entry = engine_->list().entries().at(i);
  std::string path;
  if (entry.stateValue() == Done)
    path = entry.outputPath;
  else if (entry.stateValue() == Ready)
    path = entry.sourcePath;
  else
    return;
  if (path.empty() || !pathExists(path)) {
    showMessage(texts::fillText(texts::PlayMissing, path.c_str()));
    return;
  }
  if (engine_->settings().InternalPlayer) {
    // The player gets the path as its one argument. A player that told the user itself why the
    // video cannot be played leaves no problem text.
    dialogs_->launchPlayer(this, playerPath_, path, [this](const LaunchOutcome& outcome) {
      if (!outcome.ok && !outcome.problem.isEmpty()) dialogs_->notice(this, outcome.problem);
    });
    return;
  }
  dialogs_->openWithDesktop(this, path, LaunchTarget::Video,
                            [this, path](const LaunchOutcome& outcome) {
                              if (outcome.ok) return;
                              if (outcome.problem.isEmpty())
                                showMessage(texts::fillText(texts::PlayFailed, path.c_str()));
                              else
                                dialogs_->notice(this, outcome.problem);
                            });
}

void TFMain::openDestinationCommand() {
  dialogs_->openWithDesktop(this, engine_->settings().DestDir, LaunchTarget::Folder,
                            [this](const LaunchOutcome& outcome) {
                              if (!outcome.ok && !outcome.problem.isEmpty())
                                dialogs_->notice(this, outcome.problem);
                            });
}

void TFMain::showLogCommand() {
  const int i = commandRow();
  if (i < 0) return;
  const std::string log = engine_->list().logPathOf(engine_->list().entries().at(i));
  if (!log.empty()) showLogWindow(this, log);
}

bool TFMain::addDroppedPaths(const std::vector<std::string>& paths) {
  // Taken also while a scan runs (it waits behind it) or a batch converts (its files join the
  // list as Ready rows); a batch is offered when the add has ended and none converts.
  return queueAdd({paths, false, true});
}

// ---------------------------------------------------------------- drag and drop

namespace {
std::vector<std::string> localPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) {
      QString path = url.toLocalFile();
      // A folder arrives with a trailing '/'; keep the root itself.
      while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
      paths.push_back(path.toStdString());
    }
  return paths;
}
}  // namespace

void TFMain::dragEnterEvent(QDragEnterEvent* event) {
  if (!localPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void TFMain::dragMoveEvent(QDragMoveEvent* event) {
  if (!localPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void TFMain::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths = localPaths(event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  if (shuttingDown_) return;
  // Finish the drag first: adding probes every file and may open the batch's settings dialog.
  QMetaObject::invokeMethod(
      this, [this, paths = std::move(paths)] { addDroppedPaths(paths); }, Qt::QueuedConnection);
}

}  // namespace vidmora
