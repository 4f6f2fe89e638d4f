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
#include "app/batch_display.h"
#include "app/main_window.h"
#include "app/window_commands.h"
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
// ---------------------------------------------------------------- layout

void TFMain::buildWindow() {
  commands_ = new WindowCommands(*this);
  commands_->buildMenus(menuBar());
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
  commands_->buildToolbar(ToolBar1);
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
  connect(BVideoOptions, &QPushButton::clicked, commands_, &WindowCommands::settingsCommand);
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
  LVBook->OnLVDChange = [this](TListViewData*, const LVChange&) { commands_->updateStates(); };
  LVBook->OnLVToolTip = [this](TListViewData*, int row, int column) {
    return cellToolTip(row, column);
  };
  LVBook->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(LVBook, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    commands_->updateStates();
    commands_->popupMenu()->popup(LVBook->viewport()->mapToGlobal(at));
  });
  connect(LVBook, &TListViewData::listDoubleClicked, commands_, &WindowCommands::playCommand);
  // Rows dragged within the list move there; files dropped on it are added (by the window).
  LVBook->lvdSetRowDragging(true);
  connect(
      LVBook, &TListViewData::rowsDropped, commands_,
      [this](const QList<int>& rows, int before) {
        commands_->dropRowsCommand(std::vector<int>(rows.begin(), rows.end()), before);
      },
      Qt::QueuedConnection);
  connect(LVBook, &TListViewData::keyDown, this, [this](int key, Qt::KeyboardModifiers mods) {
    const auto reset = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
    if (key == Qt::Key_Home && (mods & reset) == reset)
      resetWindowSize();
    else
      commands_->updateStates();
  });
  // The pop-up's own keys work while the list has the focus.
  LVBook->addAction(commands_->command("StopAll2"));
  LVBook->addAction(commands_->command("PlayVideo2"));
  buildThumbnailColumn();
}

void TFMain::buildStatusBar() {
  batchDisplay_ = new BatchDisplay(
      statusBar(), Image1, busyIndicator_, static_cast<int>(options_.tickPeriodMs),
      [this] {
        if (engine_ && !shuttingDown_) engine_->batch().refreshRunning();
      },
      this);
}

}  // namespace vidmora
