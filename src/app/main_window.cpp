#include "app/main_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "app/thumbnail_column.h"
#include "app/window_images.h"
#include "engine/list_texts.h"
#include "lvdata/lvdata.h"
#include "platform/job_log.h"
#include "platform/paths.h"
#include "platform/qt/desktop_services.h"
#include "platform/qt/logind_power.h"
#include "platform/record_stream.h"
#include "platform/stale_files.h"
#include "platform/texts.h"
#include "platform/version.h"
#include "settings/presets.h"
#include "settings/profiles.h"
#include "settings/qt/update_prompt.h"
#include "settings/settings_file.h"
#include "windows/about_window.h"
#include "windows/help_pages.h"
#include "windows/wait_window.h"

namespace vidmora {
namespace {

constexpr int DesignWidth = 649;
constexpr const char* ColumnsFileName = "columns";
constexpr int MinColumnWidth = 8;
constexpr int MaxColumnWidth = 10000;
// Source, Duration, Name and Status; the thumbnail column comes after them.
constexpr int TextColumns = 4;

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

int clampedWidth(int width) {
  return std::clamp(width, 400, 1600);
}

}  // namespace

TFMain::TFMain(MainWindowOptions options)
    : options_(std::move(options)), alive_(std::make_shared<std::atomic<bool>>(true)) {
  setObjectName(QStringLiteral("TFMain"));
  dialogs_ = options_.dialogs ? options_.dialogs : std::make_shared<StandardDialogs>();
  power_ =
      options_.power ? options_.power : std::shared_ptr<PowerControl>(makeSystemPowerControl());

  // Program files: the encoder and player beside the program, settings and history in the
  // user's configuration folder.
  configFolder_ = options_.configFolder.empty() ? configFolder() : options_.configFolder;
  settingsPath_ = settingsFilePath(configFolder_);
  encoderPath_ = options_.encoderPath.empty() ? pathNextToProgram(texts::EncoderFileName)
                                              : options_.encoderPath;
  playerPath_ =
      options_.playerPath.empty() ? pathNextToProgram(texts::PlayerFileName) : options_.playerPath;

  // Worker calls reach the window through the queue; the wake-up posts to the application
  // object, which outlives the window, and checks that the window still lives.
  queue_.setWakeHook([alive = alive_, queue = &queue_] {
    QMetaObject::invokeMethod(
        qApp,
        [alive, queue] {
          if (alive->load()) queue->serve();
        },
        Qt::QueuedConnection);
  });

  // Conversion logs: old ones go at start; the desktop session hears of every batch.
  const std::string logs = options_.logFolder.empty() ? logFolder() : options_.logFolder;
  if (!logs.empty()) pruneJobLogs(logs, std::time(nullptr));
  desktop_ = options_.desktopSession;
  if (!desktop_) {
    desktop_ = makeDesktopSession([this](const QString& folder) {
      launchInBackground([folder] { return openWithHandler(folder, LaunchTarget::Folder); }, this,
                         {});
    });
  }

  EngineConfig config;
  config.logFolder = logs;
  config.reservationFolder =
      options_.logFolder.empty() ? reservationFolder() : options_.logFolder + "/reservations";
  config.desktopSession = desktop_.get();
  config.encoderPath = encoderPath_;
  config.historyPath = appendComponent(configFolder_, texts::HistoryFileName);
  config.queuePath = options_.queuePath;
  if (config.queuePath.empty() && options_.configFolder.empty() && !stateFolder().empty())
    config.queuePath = appendComponent(stateFolder(), texts::QueueFileName);
  config.tickPeriodMs = options_.tickPeriodMs;
  engine_ = std::make_unique<Engine>(*this, queue_, config);

  initPresets();
  const int width = clampedWidth(DesignWidth);
  resize(width, width * 3 / 4);
  buildWindow();
  fullBarTimer_ = new QTimer(this);
  fullBarTimer_->setSingleShot(true);
  fullBarTimer_->setInterval(300);
  connect(fullBarTimer_, &QTimer::timeout, this, [this] { progressBar_->hide(); });
  refreshTimer_ = new QTimer(this);
  refreshTimer_->setInterval(static_cast<int>(options_.tickPeriodMs));
  connect(refreshTimer_, &QTimer::timeout, this, [this] {
    if (engine_ && !shuttingDown_) engine_->batch().refreshRunning();
  });
  leaveConversionDisplay(false);
  setStatusText({});
  setWindowTitle(QString::fromLatin1(texts::AppTitle));
  setWindowIcon(programIcon());
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  // Settings: defaults, the settings file, then the destination folder (made when missing).
  TSettings& s = engine_->settings();
  if (options_.videosFolder.empty())
    startupSettings(s, configFolder_, videosFolder());
  else
    startupSettings(s, configFolder_, options_.videosFolder);
  engine_->settingsChanged();

  if (options_.runUpdateCheck) {
    showWaitWindow(QString::fromLatin1(texts::AppTitle), QString::fromLatin1(texts::WaitMessage));
    runStartupUpdateCheck(this, s);
    closeWaitWindow();
  }

  applyMainSettings();
  applyViewSettings();
  loadColumnWidths();
  loadViewChoices();

  engine_->list().setListModified(false);
  if (s.SaveHistory) engine_->list().loadHistory();
  engine_->loadQueue();  // rows a closed or killed run left unconverted, after the history
  setAcceptDrops(true);
  updateCommandStates();
  // Shown once the window is up: without a progress block no file can be added.
  if (const std::string problem = engine_->startProblem(); !problem.empty())
    QTimer::singleShot(0, this, [this, problem] { showMessage(problem); });
}

TFMain::~TFMain() {
  formDestroy();
  // The engine waits for its last workers here; their late calls find shuttingDown_ set.
  engine_.reset();
  thumbnails_.reset();
  queue_.shutdown();
  alive_->store(false);
  // Last of all: power off when the batch asked for it.
  if (shutdownPending_ && power_) shutdownAtExit(true, *power_);
}

// ---------------------------------------------------------------- settings panel and view

void TFMain::applyMainSettings() {
  const TSettings& s = engine_->settings();
  EdDir->setText(qs(s.DestDir));
  fillPresetChoices();
  CBVideoFor->setCurrentIndex(profileIndexById(s.ProfileId));
}

void TFMain::takeMainSettings(int which) {
  TSettings& s = engine_->settings();
  if (which & 1) s.DestDir = EdDir->text().toStdString();
  if (which & 2) {
    if (CBVideoFor->currentIndex() < 0) CBVideoFor->setCurrentIndex(0);
    applyProfile(s, CBVideoFor->currentIndex());
  }
  engine_->settingsChanged();
}

void TFMain::selectDestinationFolder() {
  std::string folder = EdDir->text().toStdString();
  if (!dialogs_->browseFolder(this, QString::fromLatin1(texts::ChooseDestinationTitle), folder))
    return;
  EdDir->setText(qs(folder));
  takeMainSettings(1);
}

void TFMain::applyViewSettings() {
  const TSettings& s = engine_->settings();
  PanelTop->setVisible(s.ShowToolbar != 0);
  PanelSettings->setVisible(s.ShowSettingsPanel != 0);
  statusBar()->setVisible(s.ShowStatusBar != 0);
  command("ViewToolbar1")->setChecked(s.ShowToolbar != 0);
  command("ViewSettings1")->setChecked(s.ShowSettingsPanel != 0);
  command("ShowStatusBar1")->setChecked(s.ShowStatusBar != 0);
}

void TFMain::toggleView(const char* name, uint8_t TSettings::*field) {
  engine_->settings().*field = command(name)->isChecked() ? 1 : 0;
  applyViewSettings();
}

void TFMain::resetWindowSize() {
  const int width = clampedWidth(this->width());
  resize(width, width * 3 / 4);
}

// The list's column widths live in a small file of their own, written only once the user has
// dragged a column: the settings file stays as it was.
std::string TFMain::columnsPath() const {
  return appendComponent(configFolder_, ColumnsFileName);
}

void TFMain::loadColumnWidths() {
  // Read as the history is: a regular file only, opened without waiting (a FIFO in its place
  // gives the default layout, not a hang).
  std::istringstream words(readSideFile(columnsPath()));
  QList<int> widths;
  int width = 0;
  while (widths.size() <= TextColumns && words >> width) {
    if (width < MinColumnWidth || width > MaxColumnWidth) return;  // not ours: the default layout
    widths.push_back(width);
  }
  // The file names the text columns; the thumbnail column keeps its own width.
  if (widths.size() == TextColumns) widths.push_back(ThumbnailColumn::Width + 4);
  LVBook->lvdSetColumnWidths(widths);
}

std::string TFMain::readSideFile(const std::string& path) {
  std::string text;
  if (auto in = RecordStream::open(path, RecordStream::Mode::Read)) {
    char buffer[512];
    const int64_t got = in->read(buffer, sizeof buffer);
    if (got > 0) text.assign(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

void TFMain::saveColumnWidths() {
  if (!LVBook->lvdColumnsUserSized()) return;
  std::string text;
  const QList<int> widths = LVBook->lvdColumnWidths();
  for (int i = 0; i < widths.size() && i < TextColumns; ++i)
    text += (i ? " " : "") + std::to_string(widths[i]);
  text += '\n';
  writeSideFile(columnsPath(), text);
}

void TFMain::writeSideFile(const std::string& path, const std::string& text) {
  // A new file renamed over the old one: a link in its place is replaced, never followed.
  std::string temp;
  const int fd = createSaveTemp(path, temp);
  if (fd < 0) return;
  ::fchmod(fd, 0644);
  auto out = RecordStream::fromFd(fd, RecordStream::Mode::Write);
  out->write(text.data(), text.size());
  if (!out->sync() || !out->close() || std::rename(temp.c_str(), path.c_str()) != 0)
    ::unlink(temp.c_str());
}

void TFMain::saveSettingsFile() {
  vidmora::saveSettings(engine_->settings(), settingsPath_);
  saveChoices(engine_->settings(), choicesFilePath(configFolder_));
}

void TFMain::settingsCommand() {
  if (!dialogs_->settingsDialog(this, engine_->settings(), QString())) return;
  saveSettingsFile();
  engine_->settingsChanged();
  applyMainSettings();
}

// ---------------------------------------------------------------- command states

void TFMain::setEnabled(std::initializer_list<const char*> names, bool on) {
  for (const char* name : names)
    if (QAction* action = command(name)) action->setEnabled(on);
}

void TFMain::updateCommandStates() {
  if (updatingStates_ || shuttingDown_ || !engine_) return;
  updatingStates_ = true;
  const int count = engine_->list().entries().count();
  int focused = count > 0 ? LVBook->lvdIndexFocused() : -1;
  if (focused >= count) focused = count - 1;
  showFocusedReason(focused);
  // The commands act on the selected rows; the one-row commands on the one selected row.
  const std::vector<int> rows = commandRows();
  const int single = rows.size() == 1 ? rows.front() : -1;
  setEnabled({"Properties1", "Properties2"}, focused >= 0);
  setEnabled({"Trim1", "Trim2"}, !shapeRows().empty());
  scheduleEstimate();
  setEnabled(
      {"ShowLog1", "ShowLog2"},
      single >= 0 && !engine_->list().logPathOf(engine_->list().entries().at(single)).empty());
  if (count == 0) {
    setEnabled({"PlayVideo1", "PlayVideo2", "RenameVideo1", "RenameVideo2", "DeleteEntry1",
                "DeleteEntry2", "DeleteVideo1", "DeleteVideo2", "DeleteUnExistingVideoEntries1",
                "StopConversion1", "StopAll1", "StopConversion2", "StopAll2"},
               false);
  } else {
    const bool converting = engine_->batch().conversionMode();
    // Several selected rows: a command is on when it applies to one of them.
    bool anyUnfinished = false;
    bool anyRemovable = false;
    for (const int r : rows) {
      const int rowState = engine_->list().entries().at(r).stateValue();
      anyUnfinished = anyUnfinished || isUnfinished(rowState);
      anyRemovable = anyRemovable || isRemovable(rowState);
    }
    const int state = single >= 0 ? engine_->list().entries().at(single).stateValue() : -1;
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

// ---------------------------------------------------------------- list display

void TFMain::displayCell(LVDisplayItem& item) {
  if (shuttingDown_ || !engine_) return;
  if (item.mask & LvifText) item.text = qs(engine_->list().cellText(item.item, item.subItem));
  if (item.subItem == 0 && (item.mask & LvifImage))
    item.image = engine_->list().rowImage(item.item);
}

QString TFMain::cellToolTip(int row, int column) {
  if (shuttingDown_ || !engine_ || row < 0 || row >= engine_->list().entries().count()) return {};
  const QString reason = qs(engine_->list().failureReason(row));
  if (column == ColumnName) {
    // The row's own profile and quality, the source's summary, then why it failed.
    QStringList lines;
    lines << rowSettingsToolTip(row) << sourceTip(row) << reason;
    lines.removeAll(QString());
    return lines.join(QLatin1Char('\n'));
  }
  if (column != 0) return reason;
  // The Source cell may be elided: its tooltip names the whole path.
  QStringList lines;
  if (column == 0) lines << qs(engine_->list().entries().at(row).sourcePath);
  lines << sourceTip(row) << reason;
  lines.removeAll(QString());
  return lines.join(QLatin1Char('\n'));
}

void TFMain::showFocusedReason(int row) {
  if (!reasonPanel_) return;
  const QString reason = row >= 0 ? qs(engine_->list().failureReason(row)) : QString();
  reasonPanel_->setText(reason);
  reasonPanel_->setToolTip(reason);
}

void TFMain::reloadListView() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  LVBook->lvdClearAll();
  const int count = engine_->list().entries().count();
  LVBook->lvdSetCount(count);
  if (count > 0) LVBook->lvdRedraw(count);
  QApplication::restoreOverrideCursor();
}

void TFMain::repaintRow(int row) {
  LVBook->lvdUpdate(row);
  // The focused row may have got its log or its result.
  if (row == focusedRow()) updateCommandStates();
}

void TFMain::repaintAllRows() {
  LVBook->viewport()->update();
}

void TFMain::removeRow(int row) {
  LVBook->lvdRemove(row);
}

void TFMain::goToRow(int row) {
  LVBook->setFocus();
  LVBook->lvdGoto(row);
}

int TFMain::focusedRow() {
  return LVBook->lvdIndexFocused();
}

void TFMain::setStatusText(const std::string& text) {
  statusPanels_[1]->setText(qs(text));
  if (!countPanel_) return;
  const bool batch = engine_ && engine_->batch().conversionMode();
  if (batch) {
    const BatchCounts counts = engine_->batch().batchCounts();
    countPanel_->setText(qs(batchCountText(counts.converted, counts.total)));
  }
  countPanel_->setVisible(batch);
}

QString TFMain::statusPanelText(int panel) const {
  if (panel == 2) return reasonPanel_->text();
  if (panel == 3)
    return countPanel_->isVisibleTo(countPanel_->window()) ? countPanel_->text() : QString();
  return panel >= 0 && panel < 2 ? statusPanels_[panel]->text() : QString();
}

void TFMain::setProgressBar(int position) {
  progressBar_->setValue(std::clamp(position, 0, 100));
}

bool TFMain::progressBarVisible() const {
  return progressBar_->isVisibleTo(progressBar_->window());
}

bool TFMain::animationRunning() const {
  return busyIndicator_->isAnimating();
}

void TFMain::setBatchControls(bool batchRunning) {
  if (batchRunning) {
    fullBarTimer_->stop();
    progressBar_->setValue(0);
    progressBar_->show();
  }
  BSelectDir->setEnabled(!batchRunning);
  CBVideoFor->setEnabled(!batchRunning);
  command("Settings1")->setEnabled(!batchRunning);
}

void TFMain::enterConversionDisplay() {
  refreshTimer_->start();
  Image1->hide();
  busyIndicator_->show();
  busyIndicator_->start();
}

void TFMain::leaveConversionDisplay(bool showFullBar) {
  refreshTimer_->stop();
  countPanel_->hide();
  busyIndicator_->stop();
  busyIndicator_->hide();
  Image1->show();
  // The full bar stays a moment after a batch that ended by itself, without holding the thread.
  if (showFullBar && !shuttingDown_) {
    progressBar_->setValue(100);
    fullBarTimer_->start();
  } else {
    progressBar_->hide();
  }
}

void TFMain::exitRequested() {
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TFMain::showMessage(const std::string& text) {
  dialogs_->notice(this, qs(text));
}

bool TFMain::askOkCancel(const std::string& question) {
  return dialogs_->question(this, qs(question));
}

// ---------------------------------------------------------------- lifecycle

bool TFMain::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    if (shuttingDown_) {
      QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    } else if (firstActivationPending_) {
      QMetaObject::invokeMethod(this, &TFMain::firstActivation, Qt::QueuedConnection);
    }
  }
  return QMainWindow::event(event);
}

void TFMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Without a window manager the window may never be activated; showing it is enough.
  if (firstActivationPending_)
    QMetaObject::invokeMethod(this, &TFMain::firstActivation, Qt::QueuedConnection);
}

void TFMain::firstActivation() {
  if (!firstActivationPending_ || shuttingDown_) return;
  firstActivationPending_ = false;
  reloadListView();
  LVBook->setFocus();
  const int count = engine_->list().entries().count();
  if (count > 0) LVBook->lvdGoto(count - 1);
  engine_->list().showListCount();
  TSettings& s = engine_->settings();
  if (s.TipAtStartup) s.TipAtStartup = dialogs_->tipOfTheDay(this, true) ? 1 : 0;
  if (!options_.commandLine.empty()) addDroppedPaths(options_.commandLine);
  updateCommandStates();
}

void TFMain::closeEvent(QCloseEvent* event) {
  if (!shuttingDown_) {
    const int active = engine_->batch().activeCount();
    if (active > 0 && !askOkCancel(texts::fillText(texts::CloseQuestion, active))) {
      event->ignore();
      return;
    }
  }
  event->accept();
  formDestroy();
}

void TFMain::formDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  shuttingDown_ = true;
  saveSettingsFile();
  saveColumnWidths();
  // A rename still moving its file ends first, so the history names the file where it is.
  if (rename_) finishRename(rename_);
  adds_.clear();
  // Stops every conversion, waits for the workers within a bound, drops what is not Done and
  // saves the history.
  engine_->exitTidyUp();
  shutdownPending_ = engine_->batch().shutdownPending();
  fullBarTimer_->stop();
  progressBar_->hide();
  setAcceptDrops(false);
}

}  // namespace vidmora
