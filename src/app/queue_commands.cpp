// The queue's commands of the main window: Convert With… on Ready rows, pause and resume of
// running conversions, and moving rows up and down.
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <functional>

#include "app/main_window.h"
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

void TFMain::buildQueueCommands(QMenu* before) {
  QMenu* queue = new QMenu(tr("&Queue"), this);
  queue->setObjectName(QStringLiteral("Queue1"));
  menuBar()->insertMenu(before->menuAction(), queue);
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
  connect(queue, &QMenu::aboutToShow, this, &TFMain::updateCommandStates);

  // The pop-up's twins show their key only (one binding per key).
  PopupMenu1->addSeparator();
  add(PopupMenu1, "ConvertWith2", tr("Convert &With..."), [this] { convertWithCommand(); });
  add(PopupMenu1, "Pause2", tr("Pause") + QStringLiteral("\tCtrl+P"),
      [this] { pauseCommand(true); });
  add(PopupMenu1, "Resume2", tr("Resume") + QStringLiteral("\tCtrl+R"),
      [this] { pauseCommand(false); });
  add(PopupMenu1, "PauseAll2", tr("Pause All"), [this] { pauseAllCommand(true); });
  add(PopupMenu1, "ResumeAll2", tr("Resume All"), [this] { pauseAllCommand(false); });
  add(PopupMenu1, "MoveUp2", tr("Move Up") + QStringLiteral("\tCtrl+Up"),
      [this] { moveRowsCommand(-1); });
  add(PopupMenu1, "MoveDown2", tr("Move Down") + QStringLiteral("\tCtrl+Down"),
      [this] { moveRowsCommand(1); });
}

void TFMain::updateQueueCommandStates(const std::vector<int>& rows) {
  if (!command("ConvertWith1")) return;
  bool anyReady = false;
  bool anyRunning = false;
  bool anyPaused = false;
  const bool converting = engine_->batch().conversionMode();
  for (const int r : rows) {
    const int state = engine_->list().entries().at(r).stateValue();
    anyReady = anyReady || state == Ready;
    if (!converting || !isUnfinished(state) || state == Pending) continue;
    const bool paused = engine_->batch().isPaused(r);
    anyPaused = anyPaused || paused;
    anyRunning = anyRunning || !paused;
  }
  const bool batchPaused = converting && engine_->batch().batchPaused();
  setEnabled({"ConvertWith1", "ConvertWith2"}, anyReady);
  setEnabled({"Pause1", "Pause2"}, anyRunning);
  setEnabled({"Resume1", "Resume2"}, anyPaused);
  setEnabled({"PauseAll1", "PauseAll2"}, converting && !batchPaused);
  setEnabled({"ResumeAll1", "ResumeAll2"}, batchPaused);
  setEnabled({"MoveUp1", "MoveUp2", "MoveDown1", "MoveDown2"}, !rows.empty() && !renaming());
}

void TFMain::convertWithCommand() {
  if (shuttingDown_) return;
  std::vector<int> rows;
  for (const int r : commandRows())
    if (engine_->list().entries().at(r).stateValue() == Ready) rows.push_back(r);
  if (rows.empty()) return;
  // The dialog starts from the first row's values; its general tab is not the rows' business.
  TSettings s = engine_->settings();
  if (const auto own = engine_->list().rowSettings(rows.front())) takeSnapshot(s, *own);
  if (!dialogs_->settingsDialog(this, s, QString::fromLatin1(ConvertWithCaption))) return;
  auto snapshot = std::make_shared<ConversionSnapshot>();
  takeSnapshot(*snapshot, s);
  engine_->list().setRowSettings(rows, std::move(snapshot));
  updateCommandStates();
}

QString TFMain::rowSettingsToolTip(int row) {
  const auto settings = engine_->list().rowSettings(row);
  return settings ? qs(settingsText(*settings)) : QString();
}

void TFMain::pauseCommand(bool paused) {
  if (shuttingDown_) return;
  for (const int r : commandRows()) engine_->batch().pauseConversion(r, paused);
  updateCommandStates();
}

void TFMain::pauseAllCommand(bool paused) {
  if (shuttingDown_) return;
  engine_->batch().pauseAll(paused);
  updateCommandStates();
}

void TFMain::moveRowsCommand(int delta) {
  if (shuttingDown_ || renaming()) return;
  const std::vector<int> rows = commandRows();
  if (rows.empty()) return;
  const std::vector<int> moved = engine_->list().moveRows(rows, delta);
  // The same entries stay selected in their new places, the focus with them.
  reloadListView();
  QItemSelectionModel* selection = LVBook->selectionModel();
  selection->clearSelection();
  for (const int r : moved)
    selection->select(LVBook->model()->index(r, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
  if (!moved.empty()) {
    const int focus = delta < 0 ? *std::min_element(moved.begin(), moved.end())
                                : *std::max_element(moved.begin(), moved.end());
    selection->setCurrentIndex(LVBook->model()->index(focus, 0), QItemSelectionModel::NoUpdate);
    LVBook->scrollTo(LVBook->model()->index(focus, 0));
  }
  updateCommandStates();
}

}  // namespace vidmora
