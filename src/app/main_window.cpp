#include "app/main_window.h"

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
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/open_filter.h"
#include "app/window_images.h"
#include "lvdata/lvdata.h"
#include "platform/paths.h"
#include "platform/qt/logind_power.h"
#include "platform/texts.h"
#include "platform/version.h"
#include "settings/profiles.h"
#include "settings/qt/update_prompt.h"
#include "settings/settings_file.h"
#include "windows/about_window.h"
#include "windows/help_pages.h"
#include "windows/wait_window.h"

namespace vidmora {
namespace {

constexpr int DesignWidth = 649;
constexpr std::size_t RenameCapacity = 250;
constexpr std::size_t MaxOpenPaths = 1000;

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

int clampedWidth(int width) {
  return std::clamp(width, 400, 1600);
}

// States in which an entry may be removed or its video deleted.
bool isRemovable(int state) {
  return state == Done || state == Cancelled || state == CancelledNotFound ||
         state == ConversionError || state == Ready;
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

  EngineConfig config;
  config.encoderPath = encoderPath_;
  config.historyPath = appendComponent(configFolder_, texts::HistoryFileName);
  config.saveSettings = [this](const TSettings& s) {
    return vidmora::saveSettings(s, settingsPath_);
  };
  config.tickPeriodMs = options_.tickPeriodMs;
  engine_ = std::make_unique<Engine>(*this, queue_, config);

  const int width = clampedWidth(DesignWidth);
  resize(width, width * 3 / 4);
  buildWindow();
  refreshTimer_ = new QTimer(this);
  refreshTimer_->setInterval(static_cast<int>(options_.tickPeriodMs));
  connect(refreshTimer_, &QTimer::timeout, this, [this] {
    if (engine_ && !shuttingDown_) engine_->refreshRunning();
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

  engine_->setListModified(false);
  if (s.SaveHistory) engine_->loadHistory();
  setAcceptDrops(true);
  updateCommandStates();
}

TFMain::~TFMain() {
  formDestroy();
  // The engine waits for its last workers here; their late calls find shuttingDown_ set.
  engine_.reset();
  queue_.shutdown();
  alive_->store(false);
  // Last of all: power off when the batch asked for it.
  if (shutdownPending_ && power_) shutdownAtExit(true, *power_);
}

// ---------------------------------------------------------------- layout

void TFMain::buildWindow() {
  buildMenus();
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  buildToolbar();
  buildSettingsPanel();
  buildListView();
  layout->addWidget(PanelTop);
  layout->addWidget(PanelSettings);
  layout->addWidget(LVBook, 1);
  setCentralWidget(central);
  buildStatusBar();
}

QAction* TFMain::makeCommand(const char* name, const QString& text, void (TFMain::*slot)()) {
  auto* action = new QAction(text, this);
  action->setObjectName(QString::fromLatin1(name));
  if (slot) connect(action, &QAction::triggered, this, slot);
  commands_[name] = action;
  return action;
}

QAction* TFMain::command(const char* name) const {
  const auto it = commands_.find(name);
  return it == commands_.end() ? nullptr : it->second;
}

void TFMain::buildMenus() {
  auto bind = [this](const char* name, const QString& text, void (TFMain::*slot)(),
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

  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->setObjectName(QStringLiteral("File1"));
  file->addAction(
      bind("AddVideos1", tr("&Add Video Entry"), nullptr, QKeySequence(Qt::Key_Insert)));
  file->addAction(bind("DeleteEntry1", tr("&Remove Video Entry"), &TFMain::removeCommand,
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
                       &TFMain::removeMissingCommand));
  file->addSeparator();
  file->addAction(
      bind("RenameVideo1", tr("&Rename Video"), &TFMain::renameCommand, QKeySequence(Qt::Key_F6)));
  file->addAction(bind("DeleteVideo1", tr("Delete &Video"), &TFMain::deleteVideoCommand,
                       QKeySequence(Qt::Key_F8)));
  file->addSeparator();
  file->addAction(
      bind("OpenOutputFolder1", tr("&Open Destination Folder"), &TFMain::openDestinationCommand));
  file->addAction(bind("PlayVideo1", tr("&Play Video"), &TFMain::playCommand));
  file->addSeparator();
  file->addAction(bind("Exit1", tr("&Exit"), nullptr, QKeySequence(Qt::ALT | Qt::Key_F4)));

  connect(command("AddVideos1"), &QAction::triggered, this, [this] { runAddCommand(); });
  connect(command("ConvertLocalVideo1"), &QAction::triggered, this, convert);
  connect(command("StopConversion1"), &QAction::triggered, this, stopOne);
  connect(command("StopAll1"), &QAction::triggered, this, stopAll);
  connect(command("Exit1"), &QAction::triggered, this, &QWidget::close);

  QMenu* options = menuBar()->addMenu(tr("&Options"));
  options->setObjectName(QStringLiteral("Options1"));
  options->addAction(bind("Settings1", tr("&Settings"), &TFMain::settingsCommand,
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
    connect(action, &QAction::triggered, this, [this, name, field] { toggleView(name, field); });
    options->addAction(action);
  }

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  help->addAction(bind("Index1", tr("&Index"), nullptr, QKeySequence(Qt::Key_F1)));
  help->addAction(bind("TipoftheDay1", tr("&Tip of the Day"), nullptr));
  help->addSeparator();
  help->addAction(bind("ProgramHomePage1", tr("&Program Home Page"), nullptr));
  help->addAction(bind("About1", tr("&About"), nullptr));
  connect(command("Index1"), &QAction::triggered, this, [this] { openHelpContents(this); });
  connect(command("TipoftheDay1"), &QAction::triggered, this, [this] {
    TSettings& s = engine_->settings();
    s.TipAtStartup = dialogs_->tipOfTheDay(this, s.TipAtStartup != 0) ? 1 : 0;
  });
  connect(command("ProgramHomePage1"), &QAction::triggered, this,
          [this] { openWebAddress(this, QString::fromLatin1(texts::HomePageUrl)); });
  connect(command("About1"), &QAction::triggered, this, [this] {
    showAbout(QString::fromLatin1(texts::AboutTitle),
              qs(texts::fillText(texts::AboutText, programVersion())), 50, this);
  });

  // A change of either menu recomputes the states.
  for (QMenu* menu : {file, options, help})
    connect(menu, &QMenu::aboutToShow, this, &TFMain::updateCommandStates);

  // The list's pop-up menu. Items whose key equals their main-menu twin's only show the key:
  // both are enabled by the same rule, and one binding per key keeps Qt from seeing the key as
  // ambiguous. Ctrl+L and Enter belong to the pop-up alone and work while the list has focus.
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  auto popup = [this](const char* name, const QString& text, const QString& keyText,
                      const std::function<void()>& run) {
    QAction* action =
        makeCommand(name, keyText.isEmpty() ? text : text + QLatin1Char('\t') + keyText, nullptr);
    connect(action, &QAction::triggered, this, run);
    PopupMenu1->addAction(action);
    return action;
  };
  popup("AddVideos2", tr("&Add Video(s)"), QStringLiteral("Ins"), [this] { runAddCommand(); });
  popup("DeleteEntry2", tr("&Remove Video(s)"), QStringLiteral("Del"), [this] { removeCommand(); });
  popup("ConvertVideos2", tr("&Convert Video(s)"), QStringLiteral("F2"), convert);
  PopupMenu1->addSeparator();
  popup("StopConversion2", tr("Stop Conversion"), QStringLiteral("Ctrl+T"), stopOne);
  QAction* stopAll2 = popup("StopAll2", tr("Stop All"), {}, stopAll);
  stopAll2->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  stopAll2->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  PopupMenu1->addSeparator();
  popup("RenameVideo2", tr("Rename Video"), QStringLiteral("F6"), [this] { renameCommand(); });
  popup("DeleteVideo2", tr("Delete Video"), QStringLiteral("F8"), [this] { deleteVideoCommand(); });
  PopupMenu1->addSeparator();
  popup("OpenOutputFolder2", tr("&Open Destination Folder"), {},
        [this] { openDestinationCommand(); });
  QAction* play2 = popup("PlayVideo2", tr("&Play Video"), {}, [this] { playCommand(); });
  play2->setShortcuts({QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
  play2->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TFMain::updateCommandStates);
}

void TFMain::buildToolbar() {
  chooseIconTheme();
  PanelTop = new QWidget(this);
  PanelTop->setObjectName(QStringLiteral("PanelTop"));
  auto* layout = new QHBoxLayout(PanelTop);
  layout->setContentsMargins(2, 2, 8, 2);
  ToolBar1 = new QToolBar(PanelTop);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  ToolBar1->setIconSize(QSize(24, 24));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
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
       [this] { openHelpContents(this); }},
  };
  bool first = true;
  for (const Button& b : buttons) {
    if (!first) {
      auto* gap = new QWidget(ToolBar1);
      gap->setFixedWidth(8);
      ToolBar1->addWidget(gap);
    }
    first = false;
    QAction* action = makeCommand(b.name, b.text, nullptr);
    action->setIcon(themedIcon(b.icon, b.fallback, style()));
    action->setToolTip(b.hint);
    connect(action, &QAction::triggered, this, b.run);
    ToolBar1->addAction(action);
    if (QWidget* button = ToolBar1->widgetForAction(action)) button->setMinimumSize(47, 36);
  }
  // The toolbar takes the free width and folds its last buttons away in a narrow window.
  ToolBar1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  ToolBar1->setFixedHeight(ToolBar1->sizeHint().height());
  layout->addWidget(ToolBar1, 1);
  Image1 = new QLabel(PanelTop);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setPixmap(programIcon().pixmap(32, 32));
  Image1->setFixedSize(32, 32);
  busyIndicator_ = new BusyIndicator(PanelTop);
  busyIndicator_->setObjectName(QStringLiteral("RxGIFAnimator1"));
  layout->addWidget(Image1);
  layout->addWidget(busyIndicator_);
}

void TFMain::buildSettingsPanel() {
  PanelSettings = new QWidget(this);
  PanelSettings->setObjectName(QStringLiteral("PanelSettings"));
  auto* grid = new QGridLayout(PanelSettings);
  grid->setContentsMargins(8, 4, 8, 6);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(4);
  auto* destLabel = new QLabel(tr("Destination Folder:"), PanelSettings);
  EdDir = new QLineEdit(PanelSettings);
  EdDir->setObjectName(QStringLiteral("EdDir"));
  EdDir->setReadOnly(true);
  QFont bold = EdDir->font();
  bold.setBold(true);
  EdDir->setFont(bold);
  BSelectDir = new QPushButton(QStringLiteral("..."), PanelSettings);
  BSelectDir->setObjectName(QStringLiteral("BSelectDir"));
  BSelectDir->setFixedWidth(32);
  auto* formatLabel = new QLabel(tr("Video Format:"), PanelSettings);
  CBVideoFor = new QComboBox(PanelSettings);
  CBVideoFor->setObjectName(QStringLiteral("CBVideoFor"));
  CBVideoFor->setMaxVisibleItems(30);
  CBVideoFor->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  CBVideoFor->setMinimumContentsLength(16);
  for (int i = 0; i < ProfileCount; ++i)
    CBVideoFor->addItem(QString::fromLatin1(OutputProfiles[i].Name));
  BVideoOptions = new QPushButton(QStringLiteral(">>"), PanelSettings);
  BVideoOptions->setObjectName(QStringLiteral("BVideoOptions"));
  BVideoOptions->setFixedWidth(32);
  grid->addWidget(destLabel, 0, 0);
  grid->addWidget(EdDir, 0, 1);
  grid->addWidget(BSelectDir, 0, 2);
  grid->addWidget(formatLabel, 1, 0);
  grid->addWidget(CBVideoFor, 1, 1);
  grid->addWidget(BVideoOptions, 1, 2);
  grid->setColumnStretch(1, 1);
  connect(BSelectDir, &QPushButton::clicked, this, &TFMain::selectDestinationFolder);
  connect(CBVideoFor, &QComboBox::activated, this, [this](int) { takeMainSettings(2); });
  connect(BVideoOptions, &QPushButton::clicked, this, &TFMain::settingsCommand);
}

void TFMain::buildListView() {
  LVBook = new TListViewData(this);
  LVBook->setObjectName(QStringLiteral("LVBook"));
  LVBook->addColumn(tr("Source"), -1);
  LVBook->addColumn(tr("Duration"), 75);
  LVBook->addColumn(tr("Name"), -1);
  LVBook->addColumn(tr("Status"), 193, true);
  LVBook->setImageList(makeRowImages());
  LVBook->lvdSetFullRow();
  LVBook->OnLVFastDisplayShort = [this](TListViewData*, LVDisplayItem& item) { displayCell(item); };
  LVBook->OnLVDChange = [this](TListViewData*, const LVChange&) { updateCommandStates(); };
  LVBook->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(LVBook, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    updateCommandStates();
    PopupMenu1->popup(LVBook->viewport()->mapToGlobal(at));
  });
  connect(LVBook, &TListViewData::listDoubleClicked, this, &TFMain::playCommand);
  connect(LVBook, &TListViewData::keyDown, this, [this](int key, Qt::KeyboardModifiers mods) {
    const auto reset = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
    if (key == Qt::Key_Home && (mods & reset) == reset)
      resetWindowSize();
    else
      updateCommandStates();
  });
  // The pop-up's own keys work while the list has the focus.
  LVBook->addAction(command("StopAll2"));
  LVBook->addAction(command("PlayVideo2"));
}

void TFMain::buildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar1"));
  // No grip: the three panels alone must fit the narrowest window (400 pixels).
  bar->setSizeGripEnabled(false);
  const int widths[2] = {70, 120};
  for (int i = 0; i < 2; ++i) {
    statusPanels_[i] = new QLabel(bar);
    statusPanels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    statusPanels_[i]->setAlignment(Qt::AlignCenter);
    statusPanels_[i]->setFixedWidth(widths[i]);
    bar->addWidget(statusPanels_[i]);
  }
  statusPanels_[0]->setText(QString::fromLatin1(texts::StatusHelpHint));
  // Panel 2 hosts the batch progress bar, 12 pixels narrower than the panel.
  auto* panel = new QWidget(bar);
  panel->setFixedWidth(170);
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(6, 0, 6, 0);
  progressBar_ = new QProgressBar(panel);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  progressBar_->setFixedWidth(158);
  progressBar_->setMaximumHeight(14);
  progressBar_->hide();
  layout->addWidget(progressBar_);
  bar->addWidget(panel);
  bar->addWidget(new QWidget(bar), 1);
}

// ---------------------------------------------------------------- settings panel and view

void TFMain::applyMainSettings() {
  const TSettings& s = engine_->settings();
  EdDir->setText(qs(s.DestDir));
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

void TFMain::saveSettingsFile() {
  vidmora::saveSettings(engine_->settings(), settingsPath_);
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
  const int count = engine_->list().count();
  int row = count > 0 ? LVBook->lvdIndexFocused() : -1;
  if (row >= count) row = count - 1;
  if (row < 0) {
    setEnabled({"PlayVideo1", "PlayVideo2", "RenameVideo1", "RenameVideo2", "DeleteEntry1",
                "DeleteEntry2", "DeleteVideo1", "DeleteVideo2", "DeleteUnExistingVideoEntries1",
                "StopConversion1", "StopAll1", "StopConversion2", "StopAll2"},
               false);
  } else {
    const int state = engine_->list().at(row).stateValue();
    const bool converting = engine_->conversionMode();
    setEnabled({"PlayVideo1", "PlayVideo2", "RenameVideo1", "RenameVideo2"},
               state == Done || state == Ready);
    setEnabled({"StopConversion1", "StopConversion2"}, converting && isUnfinished(state));
    setEnabled(
        {"AddVideos1", "DeleteEntry1", "ConvertLocalVideo1", "AddVideos2", "DeleteEntry2",
         "ConvertVideos2", "TBAdd", "TBRemove", "TBConvert", "DeleteUnExistingVideoEntries1"},
        !converting);
    setEnabled({"StopAll1", "StopAll2"}, converting);
    setEnabled({"DeleteEntry1", "DeleteEntry2", "DeleteVideo1", "DeleteVideo2",
                "DeleteUnExistingVideoEntries1"},
               !converting && isRemovable(state));
  }
  updatingStates_ = false;
}

// ---------------------------------------------------------------- list display

void TFMain::displayCell(LVDisplayItem& item) {
  if (shuttingDown_ || !engine_) return;
  if (item.mask & LvifText) item.text = qs(engine_->cellText(item.item, item.subItem));
  if (item.subItem == 0 && (item.mask & LvifImage)) item.image = engine_->rowImage(item.item);
}

void TFMain::reloadListView() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  LVBook->lvdClearAll();
  const int count = engine_->list().count();
  LVBook->lvdSetCount(count);
  if (count > 0) LVBook->lvdRedraw(count);
  QApplication::restoreOverrideCursor();
}

void TFMain::repaintRow(int row) {
  LVBook->lvdUpdate(row);
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
}

QString TFMain::statusPanelText(int panel) const {
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
  busyIndicator_->stop();
  busyIndicator_->hide();
  Image1->show();
  if (showFullBar && !shuttingDown_) {
    progressBar_->setValue(100);
    progressBar_->repaint();
    QThread::msleep(300);
  }
  progressBar_->hide();
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

// ---------------------------------------------------------------- list commands

bool TFMain::runAddCommand() {
  TSettings& s = engine_->settings();
  if (s.LastSourceDir.empty()) s.LastSourceDir = programFolder();
  std::vector<std::string> paths;
  if (!dialogs_->openFiles(this, QString::fromLatin1(texts::AddTitle), s.LastSourceDir,
                           buildOpenFilter(), paths, MaxOpenPaths))
    return false;
  // The probe decides: a file picked under "All Files" is offered as well.
  for (const std::string& path : paths) {
    if (engine_->addVideo(path) == AddOutcome::Invalid)
      showMessage(texts::fillText(texts::InvalidVideo, path.c_str()));
  }
  if (!paths.empty() && !paths.back().empty()) s.LastSourceDir = folderOf(paths.back());
  updateCommandStates();
  return true;
}

void TFMain::convertCommand() {
  if (shuttingDown_ || engine_->conversionMode()) return;
  if (engine_->offersRequeue() && askOkCancel(texts::RequeueQuestion)) engine_->requeueCancelled();
  if (engine_->planBatch().ready == 0) runAddCommand();
  startBatchCommand();
}

bool TFMain::startBatchCommand() {
  const BatchPlan plan = engine_->planBatch();
  if (plan.ready == 0) return true;
  if (plan.asksShutdown && !askOkCancel(texts::ShutdownQuestion)) return false;
  TSettings& s = engine_->settings();
  if (!dialogs_->settingsDialog(this, s, qs(texts::fillText(texts::BatchCaption, plan.ready))))
    return true;
  saveSettingsFile();
  applyMainSettings();
  // The dialog ran a loop of its own: the engine counts the Ready entries again.
  engine_->startBatch();
  return true;
}

void TFMain::stopConversionCommand() {
  const int row = focusedRow();
  if (engine_->stopConversion(row) != StopOutcome::NeedsConfirmation) return;
  engine_->stopConversion(row, askOkCancel(texts::StopOneQuestion) ? Answer::Yes : Answer::No);
}

void TFMain::stopAllCommand() {
  if (engine_->stopAll() != StopOutcome::NeedsConfirmation) return;
  engine_->stopAll(askOkCancel(texts::StopAllQuestion) ? Answer::Yes : Answer::No);
}

void TFMain::removeCommand() {
  if (engine_->conversionMode()) return;
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().count()) return;
  if (!isRemovable(engine_->list().at(i).stateValue())) {
    showMessage(texts::RemoveRefused);
    return;
  }
  if (!askOkCancel(texts::RemoveConfirm)) return;
  engine_->removeEntry(i);
  updateCommandStates();
}

void TFMain::renameCommand() {
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().count()) return;
  VideoEntry& entry = engine_->list().at(i);
  if (entry.stateValue() != Done) return;
  QString current = qs(entry.outputName);
  if (current.size() > static_cast<qsizetype>(RenameCapacity - 1))
    current.truncate(RenameCapacity - 1);
  std::string name = current.toStdString();
  if (!dialogs_->askNonEmptyText(this, QString::fromLatin1(texts::RenameCaption),
                                 QString::fromLatin1(texts::RenamePrompt), name, RenameCapacity))
    return;
  engine_->renameOutput(i, name);
  repaintRow(i);
}

void TFMain::deleteVideoCommand() {
  if (engine_->conversionMode()) return;
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().count()) return;
  const VideoEntry& entry = engine_->list().at(i);
  if (!isRemovable(entry.stateValue())) return;
  if (!askOkCancel(texts::DeleteConfirm)) return;
  const std::string outputPath = entry.outputPath;
  if (engine_->removeEntry(i, true) == RemoveResult::DeleteFailed)
    showMessage(texts::fillText(texts::DeleteFailed, outputPath.c_str()));
  updateCommandStates();
}

void TFMain::removeMissingCommand() {
  if (engine_->conversionMode()) return;
  if (!askOkCancel(texts::MissingConfirm)) return;
  engine_->removeMissing();
  updateCommandStates();
}

void TFMain::playCommand() {
  const int i = focusedRow();
  if (i < 0 || i >= engine_->list().count()) return;
  const VideoEntry& entry = engine_->list().at(i);
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
    // The player gets the path as its one argument; a failed start is not reported.
    dialogs_->launchPlayer(playerPath_, path);
    return;
  }
  if (!dialogs_->openWithDesktop(this, path))
    showMessage(texts::fillText(texts::PlayFailed, path.c_str()));
}

void TFMain::openDestinationCommand() {
  dialogs_->openWithDesktop(this, engine_->settings().DestDir);
}

void TFMain::addDroppedPaths(const std::vector<std::string>& paths) {
  if (shuttingDown_ || engine_->conversionMode() || paths.empty()) return;
  for (const std::string& path : engine_->addPaths(paths))
    showMessage(texts::fillText(texts::InvalidVideo, path.c_str()));
  startBatchCommand();
  updateCommandStates();
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
  const int count = engine_->list().count();
  if (count > 0) LVBook->lvdGoto(count - 1);
  engine_->showListCount();
  TSettings& s = engine_->settings();
  if (s.TipAtStartup) s.TipAtStartup = dialogs_->tipOfTheDay(this, true) ? 1 : 0;
  if (!options_.commandLine.empty()) addDroppedPaths(options_.commandLine);
  updateCommandStates();
}

void TFMain::closeEvent(QCloseEvent* event) {
  if (!shuttingDown_) {
    const int active = engine_->activeCount();
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
  // Stops every conversion, waits for the workers within a bound, drops what is not Done and
  // saves the history.
  engine_->exitTidyUp();
  shutdownPending_ = engine_->shutdownPending();
  progressBar_->hide();
  setAcceptDrops(false);
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
  if (shuttingDown_ || engine_->conversionMode()) return;
  // Finish the drag first: adding probes every file and may open the batch's settings dialog.
  QMetaObject::invokeMethod(
      this, [this, paths = std::move(paths)] { addDroppedPaths(paths); }, Qt::QueuedConnection);
}

}  // namespace vidmora
