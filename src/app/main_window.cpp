#include "app/main_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "app/batch_display.h"
#include "app/batch_estimate.h"
#include "app/thumbnail_column.h"
#include "app/window_commands.h"
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
  engine_ = std::make_unique<Engine>(static_cast<UiPort&>(*this), queue_, config);
  // A sample that starts or ends changes its row's tooltip and the batch's total.
  estimate_ = std::make_unique<BatchEstimate>(*engine_, queue_, encoderPath_, [this] {
    if (shuttingDown_) return;
    allRowsChanged();
    scheduleEstimate();
    if (commands_ != nullptr) commands_->refreshPropertiesEstimates();
  });

  initPresets();
  const int width = clampedWidth(DesignWidth);
  resize(width, width * 3 / 4);
  buildWindow();
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
  commands_->updateStates();
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

QAction* TFMain::command(const char* name) const {
  return commands_ ? commands_->command(name) : nullptr;
}

bool TFMain::addDroppedPaths(const std::vector<std::string>& paths) {
  return commands_->addDroppedPaths(paths);
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
  commands_->command("ViewToolbar1")->setChecked(s.ShowToolbar != 0);
  commands_->command("ViewSettings1")->setChecked(s.ShowSettingsPanel != 0);
  commands_->command("ShowStatusBar1")->setChecked(s.ShowStatusBar != 0);
}

void TFMain::toggleView(const char* name, uint8_t TSettings::*field) {
  engine_->settings().*field = commands_->command(name)->isChecked() ? 1 : 0;
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
  if (!batchDisplay_) return;
  batchDisplay_->showReason(row >= 0 ? qs(engine_->list().failureReason(row)) : QString());
}

// ---------------------------------------------------------------- the engine's events

void TFMain::rowsChanged(int count) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  LVBook->lvdClearAll();
  LVBook->lvdSetCount(count);
  if (count > 0) LVBook->lvdRedraw(count);
  QApplication::restoreOverrideCursor();
  if (!shuttingDown_) batchDisplay_->rowsCounted(count);
}

void TFMain::rowChanged(int row) {
  LVBook->lvdUpdate(row);
  // The focused row may have got its log or its result.
  if (row == focusedRow()) commands_->updateStates();
}

void TFMain::allRowsChanged() {
  LVBook->viewport()->update();
}

void TFMain::rowRemoved(int row, int count) {
  LVBook->lvdRemove(row);
  if (!shuttingDown_) batchDisplay_->rowsCounted(count);
}

void TFMain::currentRowChanged(int row) {
  LVBook->setFocus();
  LVBook->lvdGoto(row);
}

int TFMain::focusedRow() {
  return LVBook->lvdIndexFocused();
}

void TFMain::batchStarted(const BatchCounts& counts) {
  setBatchControls(true);
  batchDisplay_->batchStarted(counts);
}

void TFMain::batchProgressed(const BatchCounts& counts) {
  batchDisplay_->batchProgressed(counts);
}

void TFMain::batchEnded(const BatchResult& result, int rowCount) {
  batchDisplay_->batchEnded(result, rowCount, shuttingDown_);
  setBatchControls(false);
}

void TFMain::setBatchControls(bool batchRunning) {
  BSelectDir->setEnabled(!batchRunning);
  CBVideoFor->setEnabled(!batchRunning);
  commands_->command("Settings1")->setEnabled(!batchRunning);
}

void TFMain::commandStatesChanged() {
  commands_->updateStates();
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
      this, [this, paths = std::move(paths)] { commands_->addDroppedPaths(paths); },
      Qt::QueuedConnection);
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
  engine_->list().showListCount();
  LVBook->setFocus();
  const int count = engine_->list().entries().count();
  if (count > 0) LVBook->lvdGoto(count - 1);
  TSettings& s = engine_->settings();
  if (s.TipAtStartup) s.TipAtStartup = dialogs_->tipOfTheDay(this, true) ? 1 : 0;
  if (!options_.commandLine.empty()) commands_->addDroppedPaths(options_.commandLine);
  commands_->updateStates();
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
  commands_->windowClosing();
  estimate_->stopSamples();
  // Stops every conversion, waits for the workers within a bound, drops what is not Done and
  // saves the history.
  engine_->exitTidyUp();
  shutdownPending_ = engine_->batch().shutdownPending();
  batchDisplay_->shutDown();
  setAcceptDrops(false);
}

}  // namespace vidmora
