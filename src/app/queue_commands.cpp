// The queue's commands of the main window: Convert With… on Ready rows, pause and resume of
// running conversions, and moving rows up and down.
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <functional>

#include "app/main_window.h"
#include "app/window_commands.h"
#include "engine/list_texts.h"
#include "lvdata/lvdata.h"
#include "platform/texts.h"
#include "settings/profiles.h"
#include "settings/quality.h"

namespace vidmora {

namespace {

constexpr const char* ConvertWithCaption = "Convert With";

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

// "H.265 (*.mp4)\nQuality: High" for the Name cell's tooltip.
std::string settingsText(const ConversionSnapshot& s) {
  const TOutputProfile& profile = profileById(s.ProfileId);
  std::string text = profile.Name ? profile.Name : "";
  std::string quality;
  switch (profileKind(s.ProfileId)) {
    case ProfileKind::Remux:
      quality = "streams copied as they are";
      break;
    case ProfileKind::QualityVideo:
      quality = static_cast<QualityLevel>(s.Quality) == QualityLevel::FixedBitrate
                    ? texts::fillText("%d kbps", s.VideoBitrate)
                    : qualityLabel(static_cast<QualityLevel>(s.Quality));
      break;
    case ProfileKind::Sound:
      quality = texts::fillText("%d kbps", s.AudioBitrate);
      break;
    case ProfileKind::Classic:
      quality = s.DisableVideo
                    ? texts::fillText("audio %d kbps", s.AudioBitrate)
                    : texts::fillText("%dx%d, video %d kbps, audio %d kbps", s.FrameWidth,
                                      s.FrameHeight, s.VideoBitrate, s.AudioBitrate);
      break;
  }
  return text + "\nQuality: " + quality;
}

}  // namespace

void WindowCommands::buildQueueCommands(QMenu* before, QMenuBar* bar) {
  QMenu* queue = new QMenu(tr("&Queue"), &window_);
  queue->setObjectName(QStringLiteral("Queue1"));
  bar->insertMenu(before->menuAction(), queue);
  auto add = [this](QMenu* menu, const char* name, const QString& text,
                    const std::function<void()>& run, const QKeySequence& key = {}) {
    QAction* action = makeCommand(name, text, nullptr);
    connect(action, &QAction::triggered, this, run);
    if (!key.isEmpty()) {
      action->setShortcut(key);
      action->setShortcutContext(Qt::WindowShortcut);
    }
    menu->addAction(action);
    return action;
  };
  add(queue, "ConvertWith1", tr("Convert &With..."), [this] { convertWithCommand(); });
  queue->addSeparator();
  add(
      queue, "Pause1", tr("&Pause"), [this] { pauseCommand(true); },
      QKeySequence(Qt::CTRL | Qt::Key_P));
  add(
      queue, "Resume1", tr("&Resume"), [this] { pauseCommand(false); },
      QKeySequence(Qt::CTRL | Qt::Key_R));
  add(queue, "PauseAll1", tr("Pause &All"), [this] { pauseAllCommand(true); });
  add(queue, "ResumeAll1", tr("Resume A&ll"), [this] { pauseAllCommand(false); });
  queue->addSeparator();
  add(
      queue, "MoveUp1", tr("Move &Up"), [this] { moveRowsCommand(-1); },
      QKeySequence(Qt::CTRL | Qt::Key_Up));
  add(
      queue, "MoveDown1", tr("Move &Down"), [this] { moveRowsCommand(1); },
      QKeySequence(Qt::CTRL | Qt::Key_Down));
  connect(queue, &QMenu::aboutToShow, this, &WindowCommands::updateStates);

  // The pop-up's twins show their key only (one binding per key).
  popup_->addSeparator();
  add(popup_, "ConvertWith2", tr("Convert &With..."), [this] { convertWithCommand(); });
  add(popup_, "Pause2", tr("Pause") + QStringLiteral("\tCtrl+P"), [this] { pauseCommand(true); });
  add(popup_, "Resume2", tr("Resume") + QStringLiteral("\tCtrl+R"),
      [this] { pauseCommand(false); });
  add(popup_, "PauseAll2", tr("Pause All"), [this] { pauseAllCommand(true); });
  add(popup_, "ResumeAll2", tr("Resume All"), [this] { pauseAllCommand(false); });
  add(popup_, "MoveUp2", tr("Move Up") + QStringLiteral("\tCtrl+Up"),
      [this] { moveRowsCommand(-1); });
  add(popup_, "MoveDown2", tr("Move Down") + QStringLiteral("\tCtrl+Down"),
      [this] { moveRowsCommand(1); });
}

void WindowCommands::updateQueueCommandStates(const std::vector<int>& rows) {
  if (!command("ConvertWith1")) return;
  bool anyReady = false;
  bool anyRunning = false;
  bool anyPaused = false;
  const bool converting = engine().batch().conversionMode();
  for (const int r : rows) {
    const int state = engine().list().entries().at(r).stateValue();
    anyReady = anyReady || state == Ready;
    if (!converting || !isUnfinished(state) || state == Pending) continue;
    const bool paused = engine().batch().isPaused(r);
    anyPaused = anyPaused || paused;
    anyRunning = anyRunning || !paused;
  }
  const bool batchPaused = converting && engine().batch().batchPaused();
  setEnabled({"ConvertWith1", "ConvertWith2"}, anyReady);
  setEnabled({"Pause1", "Pause2"}, anyRunning);
  setEnabled({"Resume1", "Resume2"}, anyPaused);
  setEnabled({"PauseAll1", "PauseAll2"}, converting && !batchPaused);
  setEnabled({"ResumeAll1", "ResumeAll2"}, batchPaused);
  setEnabled({"MoveUp1", "MoveUp2", "MoveDown1", "MoveDown2"}, !rows.empty() && !renaming());
}

void WindowCommands::convertWithCommand() {
  if (closing()) return;
  std::vector<int> rows;
  for (const int r : commandRows())
    if (engine().list().entries().at(r).stateValue() == Ready) rows.push_back(r);
  if (rows.empty()) return;
  // The dialog starts from the first row's values; its general tab is not the rows' business.
  TSettings s = engine().settings();
  if (const auto own = engine().list().rowSettings(rows.front())) takeSnapshot(s, *own);
  if (!window_.dialogs_->settingsDialog(&window_, s, QString::fromLatin1(ConvertWithCaption)))
    return;
  auto snapshot = std::make_shared<ConversionSnapshot>();
  takeSnapshot(*snapshot, s);
  engine().list().setRowSettings(rows, std::move(snapshot));
  updateStates();
}

QString TFMain::rowSettingsToolTip(int row) {
  const auto settings = engine_->list().rowSettings(row);
  return settings ? qs(settingsText(*settings)) : QString();
}

void WindowCommands::pauseCommand(bool paused) {
  if (closing()) return;
  for (const int r : commandRows()) engine().batch().pauseConversion(r, paused);
  updateStates();
}

void WindowCommands::pauseAllCommand(bool paused) {
  if (closing()) return;
  engine().batch().pauseAll(paused);
  updateStates();
}

void WindowCommands::moveRowsCommand(int delta) {
  if (closing() || renaming()) return;
  const std::vector<int> rows = commandRows();
  if (rows.empty()) return;
  const std::vector<int> moved = engine().list().moveRows(rows, delta);
  if (moved.empty()) return;
  showMovedRows(moved, delta < 0 ? *std::min_element(moved.begin(), moved.end())
                                 : *std::max_element(moved.begin(), moved.end()));
}

void WindowCommands::dropRowsCommand(const std::vector<int>& dropped, int before) {
  if (closing() || renaming()) return;
  // The drop was posted: rows gone meanwhile are left out.
  std::vector<int> rows;
  for (const int r : dropped)
    if (r >= 0 && r < engine().list().entries().count()) rows.push_back(r);
  if (rows.empty()) return;
  const std::vector<int> moved = engine().list().moveRowsTo(rows, before);
  showMovedRows(moved, *std::min_element(moved.begin(), moved.end()));
}

void WindowCommands::showMovedRows(const std::vector<int>& moved, int focus) {
  // The same entries stay selected in their new places, the focus with them.
  TListViewData* view = window_.LVBook;
  engine().list().showListCount();
  QItemSelectionModel* selection = view->selectionModel();
  selection->clearSelection();
  for (const int r : moved)
    selection->select(view->model()->index(r, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
  selection->setCurrentIndex(view->model()->index(focus, 0), QItemSelectionModel::NoUpdate);
  view->scrollTo(view->model()->index(focus, 0));
  updateStates();
}

}  // namespace vidmora
