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

bool TFMain::runAddCommand() {
  TSettings& s = engine_->settings();
  if (s.LastSourceDir.empty()) s.LastSourceDir = firstOpenFolder();
  std::vector<std::string> paths;
  if (!dialogs_->openFiles(this, QString::fromLatin1(texts::AddTitle), s.LastSourceDir,
                           buildOpenFilter(), paths, MaxOpenPaths))
    return false;
  // The probe decides: a file picked under "All Files" is offered as well.
  for (const std::string& path : paths) {
    std::string reason;
    const AddOutcome outcome = engine_->scanner().addVideo(path, &reason);
    if (outcome == AddOutcome::Invalid || outcome == AddOutcome::Failed)
      showMessage(refusalMessage({path, outcome, reason}));
  }
  if (!paths.empty() && !paths.back().empty()) s.LastSourceDir = folderOf(paths.back());
  updateCommandStates();
  return true;
}

void TFMain::addFolderCommand() {
  if (shuttingDown_ || engine_->batch().conversionMode() || engine_->scanner().scanning()) return;
  TSettings& s = engine_->settings();
  std::string folder = s.LastSourceDir.empty() ? firstOpenFolder() : s.LastSourceDir;
  if (!dialogs_->browseFolder(this, QString::fromLatin1(texts::AddFolderTitle), folder)) return;
  // The folder is walked like a dropped one; its videos join the list as they are probed.
  engine_->scanner().scanPaths({folder}, [this](std::vector<Refusal> refused) {
    for (const Refusal& refusal : refused) showMessage(refusalMessage(refusal));
    updateCommandStates();
  });
  updateCommandStates();
}

void TFMain::convertCommand() {
  if (shuttingDown_ || engine_->batch().conversionMode() || engine_->scanner().scanning()) return;
  if (engine_->list().offersRequeue() && askOkCancel(texts::RequeueQuestion))
    engine_->list().requeueCancelled();
  if (engine_->batch().planBatch().ready == 0) runAddCommand();
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
    if (!askOkCancel(texts::fillText(texts::StopManyQuestion, static_cast<int>(running.size()))))
      return;
    for (const int r : running) engine_->batch().stopConversion(r, Answer::Yes);
    return;
  }
  const int row = focusedRow();
  if (engine_->batch().stopConversion(row) != StopOutcome::NeedsConfirmation) return;
  engine_->batch().stopConversion(row,
                                  askOkCancel(texts::StopOneQuestion) ? Answer::Yes : Answer::No);
}

void TFMain::stopAllCommand() {
  if (engine_->batch().stopAll() != StopOutcome::NeedsConfirmation) return;
  engine_->batch().stopAll(askOkCancel(texts::StopAllQuestion) ? Answer::Yes : Answer::No);
}

std::vector<int> TFMain::commandRows() {
  const int count = engine_->list().entries().count();
  const QList<int> selected = LVBook->lvdSelectedRows();
  std::vector<int> rows;
  if (selected.size() > 1) {
    for (const int row : selected)
      if (row < count) rows.push_back(row);
    return rows;
  }
  const int row = focusedRow();
  if (row >= 0 && row < count) rows.push_back(row);
  return rows;
}

void TFMain::removeRows(const std::vector<int>& rows, bool deleteVideos) {
  std::vector<int> removable;
  for (const int row : rows)
    if (isRemovable(engine_->list().entries().at(row).stateValue())) removable.push_back(row);
  if (removable.empty()) {
    if (!deleteVideos) showMessage(texts::RemoveRefused);
    return;
  }
  const int n = static_cast<int>(removable.size());
  if (!askOkCancel(
          texts::fillText(deleteVideos ? texts::DeleteManyConfirm : texts::RemoveManyConfirm, n)))
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
  if (engine_->batch().conversionMode()) return;
  const std::vector<int> rows = commandRows();
  if (rows.size() > 1) return removeRows(rows, false);
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().entries().count()) return;
  if (!isRemovable(engine_->list().entries().at(i).stateValue())) {
    showMessage(texts::RemoveRefused);
    return;
  }
  if (!askOkCancel(texts::RemoveConfirm)) return;
  engine_->list().removeEntry(i);
  updateCommandStates();
}

void TFMain::renameCommand() {
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().entries().count()) return;
  VideoEntry& entry = engine_->list().entries().at(i);
  if (entry.stateValue() != Done) return;
  QString current = qs(entry.outputName);
  if (current.size() > static_cast<qsizetype>(RenameCapacity - 1))
    current.truncate(RenameCapacity - 1);
  std::string name = current.toStdString();
  if (!dialogs_->askNonEmptyText(this, QString::fromLatin1(texts::RenameCaption),
                                 QString::fromLatin1(texts::RenamePrompt), name, RenameCapacity))
    return;
  engine_->list().renameOutput(i, name);
  repaintRow(i);
}

void TFMain::deleteVideoCommand() {
  if (engine_->batch().conversionMode()) return;
  const std::vector<int> rows = commandRows();
  if (rows.size() > 1) return removeRows(rows, true);
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().entries().count()) return;
  const VideoEntry& entry = engine_->list().entries().at(i);
  if (!isRemovable(entry.stateValue())) return;
  if (!askOkCancel(texts::DeleteConfirm)) return;
  const std::string outputPath = entry.outputPath;
  if (engine_->list().removeEntry(i, true) == RemoveResult::DeleteFailed)
    showMessage(texts::fillText(texts::DeleteFailed, outputPath.c_str()));
  updateCommandStates();
}

void TFMain::removeMissingCommand() {
  if (engine_->batch().conversionMode()) return;
  if (!askOkCancel(texts::MissingConfirm)) return;
  engine_->list().removeMissing();
  updateCommandStates();
}

void TFMain::playCommand() {
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().entries().count()) return;
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
    const LaunchOutcome outcome = dialogs_->launchPlayer(playerPath_, path);
    if (!outcome.ok && !outcome.problem.isEmpty()) dialogs_->notice(this, outcome.problem);
    return;
  }
  const LaunchOutcome outcome = dialogs_->openWithDesktop(this, path, LaunchTarget::Video);
  if (outcome.ok) return;
  if (outcome.problem.isEmpty())
    showMessage(texts::fillText(texts::PlayFailed, path.c_str()));
  else
    dialogs_->notice(this, outcome.problem);
}

void TFMain::openDestinationCommand() {
  const LaunchOutcome outcome =
      dialogs_->openWithDesktop(this, engine_->settings().DestDir, LaunchTarget::Folder);
  if (!outcome.ok && !outcome.problem.isEmpty()) dialogs_->notice(this, outcome.problem);
}

void TFMain::showLogCommand() {
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().entries().count()) return;
  const std::string log = engine_->list().logPathOf(engine_->list().entries().at(i));
  if (!log.empty()) showLogWindow(this, log);
}

void TFMain::addDroppedPaths(const std::vector<std::string>& paths) {
  if (shuttingDown_ || engine_->batch().conversionMode() || paths.empty()) return;
  // The scan runs off the window's thread; its entries appear as their probes end.
  engine_->scanner().scanPaths(paths, [this](std::vector<Refusal> refused) {
    for (const Refusal& refusal : refused) showMessage(refusalMessage(refusal));
    startBatchCommand();
    updateCommandStates();
  });
  updateCommandStates();
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
  // While a batch converts the drop is only released.
  if (shuttingDown_ || engine_->batch().conversionMode()) return;
  // Finish the drag first: adding probes every file and may open the batch's settings dialog.
  QMetaObject::invokeMethod(
      this, [this, paths = std::move(paths)] { addDroppedPaths(paths); }, Qt::QueuedConnection);
}

}  // namespace vidmora
