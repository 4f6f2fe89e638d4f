// The main window's widgets: menus, toolbar, settings panel, list view and status bar, with the
// object names the window has always had.
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
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include "app/main_window.h"
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

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

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
  file->addAction(bind("AddFolder1", tr("Add &Folder..."), &TFMain::addFolderCommand));
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
  file->addAction(bind("ShowLog1", tr("Show &Log"), &TFMain::showLogCommand,
                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)));
  file->addAction(bind("Properties1", tr("P&roperties"), &TFMain::propertiesCommand));
  file->addAction(bind("Trim1", tr("&Trim…"), &TFMain::trimCommand));
  command("Properties1")
      ->setShortcuts(
          {QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)});
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
  QAction* thumbnails = bind("ShowThumbnails1", tr("Show T&humbnails"), nullptr);
  thumbnails->setCheckable(true);
  connect(thumbnails, &QAction::triggered, this, &TFMain::setThumbnailsShown);
  options->addAction(thumbnails);
  buildPresetCommands(options);

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
  popup("AddFolder2", tr("Add &Folder..."), {}, [this] { addFolderCommand(); });
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
  popup("ShowLog2", tr("Show &Log"), QStringLiteral("Ctrl+Shift+L"), [this] { showLogCommand(); });
  popup("Properties2", tr("P&roperties"), QStringLiteral("Alt+Enter"),
        [this] { propertiesCommand(); });
  popup("Trim2", tr("&Trim…"), {}, [this] { trimCommand(); });
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TFMain::updateCommandStates);
  buildQueueCommands(options);
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
  connect(CBVideoFor, &QComboBox::activated, this, [this](int index) {
    if (!choosePreset(index)) takeMainSettings(2);
  });
  connect(BVideoOptions, &QPushButton::clicked, this, &TFMain::settingsCommand);
  buildEstimateLabel();
}

void TFMain::buildListView() {
  LVBook = new TListViewData(this);
  LVBook->setObjectName(QStringLiteral("LVBook"));
  LVBook->addColumn(tr("Source"), -1);
  LVBook->addColumn(tr("Duration"), 75);
  LVBook->addColumn(tr("Name"), -1);
  LVBook->addColumn(tr("Status"), 193);
  LVBook->setImageList(makeRowImages());
  LVBook->lvdSetFullRow();
  LVBook->lvdSetMultiSelect(true);
  // A long path keeps its start and its file name; the tooltip names it whole.
  LVBook->setColumnElideMode(0, Qt::ElideMiddle);
  LVBook->OnLVFastDisplayShort = [this](TListViewData*, LVDisplayItem& item) { displayCell(item); };
  LVBook->OnLVDChange = [this](TListViewData*, const LVChange&) { updateCommandStates(); };
  LVBook->OnLVToolTip = [this](TListViewData*, int row, int column) {
    return cellToolTip(row, column);
  };
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
  buildThumbnailColumn();
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
  // During a batch: how many of its rows are converted ("2 of 13 converted").
  countPanel_ = new QLabel(bar);
  countPanel_->setObjectName(QStringLiteral("StatusCount"));
  countPanel_->hide();
  bar->addWidget(countPanel_);
  // The rest of the bar: why the focused row's conversion failed.
  reasonPanel_ = new QLabel(bar);
  reasonPanel_->setObjectName(QStringLiteral("StatusReason"));
  reasonPanel_->setMinimumWidth(0);
  reasonPanel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  bar->addWidget(reasonPanel_, 1);
}

}  // namespace vidmora
