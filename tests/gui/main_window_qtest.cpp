// The main window with scripted dialogs: command states, list display, list commands, batches
// driven by a stand-in encoder, the close query, drops, the size reset and the open filter.
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <algorithm>

#include "app/open_filter.h"
#include "gui_support.h"
#include "lvdata/lvdata.h"
#include "platform/job_log.h"
#include "platform/paths.h"
#include "platform/qt/shell_dialogs.h"
#include "platform/texts.h"
#include "settings/profiles.h"
#include "windows/log_window.h"

using namespace vidmora;
using namespace vidmora::test;

namespace {

const QStringList AllItems = {"AddVideos1",      "DeleteEntry1", "ConvertLocalVideo1",
                              "StopConversion1", "StopAll1",     "DeleteUnExistingVideoEntries1",
                              "RenameVideo1",    "DeleteVideo1", "PlayVideo1",
                              "AddVideos2",      "DeleteEntry2", "ConvertVideos2",
                              "StopConversion2", "StopAll2",     "RenameVideo2",
                              "DeleteVideo2",    "PlayVideo2",   "TBAdd",
                              "TBRemove",        "TBConvert"};

QStringList enabledItems(TFMain& window) {
  QStringList on;
  for (const QString& name : AllItems)
    if (window.command(name.toLatin1().constData())->isEnabled()) on.push_back(name);
  on.sort();
  return on;
}

QStringList sorted(QStringList list) {
  list.sort();
  return list;
}

QString cell(TFMain& window, int row, int column) {
  auto* model = window.listView()->model();
  return model->data(model->index(row, column), Qt::DisplayRole).toString();
}

int image(TFMain& window, int row) {
  auto* model = window.listView()->model();
  const QIcon icon = qvariant_cast<QIcon>(model->data(model->index(row, 0), Qt::DecorationRole));
  const auto& images = window.listView()->imageList();
  for (int i = 0; i < images.size(); ++i)
    if (images[i].cacheKey() == icon.cacheKey()) return i;
  return -1;
}

std::string extension(TFMain& window) {
  return profileById(window.settings().ProfileId).Extension;
}

// A source the stand-in encoder converts for `runMs` (stopping when asked).
std::string fakeSource(const TempFolder& home, const std::string& name, int runMs) {
  const std::string path = home / name;
  writeFile(path, "duration=5\nrun_ms=" + std::to_string(runMs) + "\n");
  return path;
}

QString toolTip(TFMain& window, int row, int column) {
  auto* model = window.listView()->model();
  return model->data(model->index(row, column), Qt::ToolTipRole).toString();
}

LogWindow* openLogWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* log = qobject_cast<LogWindow*>(w); log && log->isVisible()) return log;
  return nullptr;
}

void dropPaths(QWidget* target, const std::vector<std::string>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const std::string& p : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
  data.setUrls(urls);
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  // The drop's add is posted so that the drag can end first.
  QCoreApplication::sendPostedEvents();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  TempFolder home_;
  std::shared_ptr<ScriptedDialogs> dialogs_;
  std::unique_ptr<TFMain> window_;

  TFMain& open(const std::string& encoder = {}, std::vector<std::string> commandLine = {}) {
    dialogs_ = std::make_shared<ScriptedDialogs>();
    window_ = makeWindow(home_, dialogs_, encoder, std::move(commandLine));
    return *window_;
  }
  TFMain& openShown(const std::string& encoder = {}, std::vector<std::string> commandLine = {}) {
    TFMain& w = open(encoder, std::move(commandLine));
    w.show();
    w.activateWindow();
    [&] { QVERIFY(QTest::qWaitForWindowActive(&w)); }();
    QCoreApplication::sendPostedEvents();  // the first activation, posted when shown
    return w;
  }

 private slots:
  void initTestCase() { isolateHome(home_); }
  void cleanup() {
    window_.reset();
    std::error_code ec;
    std::filesystem::remove_all(home_ / "config", ec);
  }

  void commandStates_data() {
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<QStringList>("enabled");
    const QStringList addConvert = {"AddVideos1",     "AddVideos2", "ConvertLocalVideo1",
                                    "ConvertVideos2", "TBAdd",      "TBRemove",
                                    "TBConvert"};
    QTest::newRow("empty list") << QList<int>{} << addConvert;
    QTest::newRow("Done outside a batch")
        << QList<int>{Done}
        << addConvert +
               QStringList{"PlayVideo1",   "PlayVideo2",   "RenameVideo1",
                           "RenameVideo2", "DeleteEntry1", "DeleteEntry2",
                           "DeleteVideo1", "DeleteVideo2", "DeleteUnExistingVideoEntries1"};
    QTest::newRow("NotFound outside a batch") << QList<int>{NotFound} << addConvert;
    QTest::newRow("Ready outside a batch")
        << QList<int>{Ready}
        << addConvert +
               QStringList{"PlayVideo1",   "PlayVideo2",   "RenameVideo1",
                           "RenameVideo2", "DeleteEntry1", "DeleteEntry2",
                           "DeleteVideo1", "DeleteVideo2", "DeleteUnExistingVideoEntries1"};
  }
  void commandStates() {
    QFETCH(QList<int>, states);
    QFETCH(QStringList, enabled);
    TFMain& w = open();
    for (int state : states) placeEntry(w, home_ / "v.avi", static_cast<int16_t>(state));
    if (!states.isEmpty()) goToRow(w, 0);
    w.commands().updateStates();
    QCOMPARE(enabledItems(w), sorted(enabled));
  }

  void cellAndStatusTexts() {
    TFMain& w = open();
    VideoEntry& ready = placeEntry(w, "/videos/100% sure %s.avi", Ready, "holiday");
    ready.durationSeconds = 3725;
    ready.sourceSizeBytes = 2048;
    VideoEntry& odd = placeEntry(w, home_ / "b.avi", 10, "");
    odd.durationSeconds = 0;
    placeEntry(w, home_ / "c.avi", Done, "c").sizeBytes = 1536 * 1024;
    w.engine().list().showListCount();

    QCOMPARE(cell(w, 0, 0), QString("/videos/100% sure %s.avi"));
    QCOMPARE(cell(w, 0, 1), QString("01:02:05"));
    QCOMPARE(cell(w, 0, 2), QString::fromStdString("holiday (." + extension(w) + ")"));
    QCOMPARE(cell(w, 0, 3), QString("Ready  (2.00 KB)"));
    QCOMPARE(image(w, 0), 0);
    QCOMPARE(cell(w, 1, 1), QString("00:00:00"));
    QCOMPARE(cell(w, 1, 2), QString("NoName"));
    QCOMPARE(cell(w, 1, 3), QString(""));
    QCOMPARE(image(w, 1), 1);
    QCOMPARE(cell(w, 2, 3), QString("OK     (1.50 MB)"));
    QCOMPARE(image(w, 2), 2);
    QCOMPARE(w.batchDisplay().panelText(0), QString(texts::StatusHelpHint));
    QCOMPARE(w.batchDisplay().panelText(1), QString("3 video(s)"));
  }

  void removeAndDeleteVideo() {
    TFMain& w = open();
    const std::string done = home_ / "done.out";
    const std::string stopped = home_ / "stopped.out";
    writeFile(done, "x");
    writeFile(stopped, "x");
    placeEntry(w, home_ / "a.avi", Done, "a");
    placeEntry(w, home_ / "b.avi", NotFound, "b");
    placeEntry(w, home_ / "c.avi", Done, "c", done);
    placeEntry(w, home_ / "d.avi", Cancelled, "d", stopped);

    // Not removable in its state: a notice, no question.
    goToRow(w, 1);
    w.commands().removeCommand();
    QCOMPARE(dialogs_->notices.size(), size_t(1));
    QCOMPARE(dialogs_->notices[0], QString(texts::RemoveRefused));
    QVERIFY(dialogs_->questions.empty());
    w.commands().deleteVideoCommand();  // does nothing at all in that state
    QVERIFY(dialogs_->questions.empty());

    // Declined, then confirmed: the focus moves to the entry that took its place.
    goToRow(w, 0);
    w.commands().removeCommand();
    QCOMPARE(w.engine().list().entries().count(), 4);
    dialogs_->answers = {true};
    w.commands().removeCommand();
    QCOMPARE(w.engine().list().entries().count(), 3);
    QCOMPARE(w.listView()->lvdIndexFocused(), 0);
    QCOMPARE(w.listView()->lvdGetCount(), 3);

    // Delete Video on a Done entry deletes its file; on a Cancelled one it keeps the file.
    goToRow(w, 1);
    dialogs_->answers = {true};
    w.commands().deleteVideoCommand();
    QVERIFY(!fileExists(done));
    QCOMPARE(w.engine().list().entries().count(), 2);
    QCOMPARE(w.listView()->lvdIndexFocused(), 1);  // the new last row
    dialogs_->answers = {true};
    w.commands().deleteVideoCommand();
    QVERIFY(fileExists(stopped));
    QCOMPARE(w.engine().list().entries().count(), 1);
    QCOMPARE(QString::fromStdString(w.engine().list().entries().at(0).outputName), QString("b"));
    QVERIFY(w.engine().list().listModified());
  }

  void renameAndPlay() {
    TFMain& w = open();
    const std::string dest = w.settings().DestDir;
    const std::string ext = extension(w);
    const std::string file = joinPath(dest, "clip", ext);
    writeFile(file, "video");
    VideoEntry& entry = placeEntry(w, home_ / "clip.avi", Done, "clip", file);
    placeEntry(w, home_ / "ready.avi", Ready, "ready");

    // A name taken by another file is refused and asked again; its own name changes nothing;
    // a free one moves the file, off the window's thread, and the row names it.
    writeFile(joinPath(dest, "taken", ext), "another video");
    goToRow(w, 0);
    dialogs_->names = {"taken", "clip", "holiday"};
    w.commands().renameCommand();
    QCOMPARE(dialogs_->promptCalls, 2);
    QCOMPARE(dialogs_->notices, (std::vector<QString>{QString::fromStdString(
                                    texts::fillText(texts::RenameTaken, "taken"))}));
    QVERIFY(fileExists(file));
    QCOMPARE(QString::fromStdString(readFile(joinPath(dest, "taken", ext))),
             QString("another video"));
    dialogs_->notices.clear();
    w.commands().renameCommand();
    const std::string renamed = joinPath(dest, "holiday", ext);
    QVERIFY(waitFor([&] { return entry.outputPath == renamed; }));
    QVERIFY(fileExists(renamed) && !fileExists(file));
    QCOMPARE(cell(w, 0, 2), QString::fromStdString("holiday." + ext));

    // A move that fails keeps the name on disk in the row, and says so.
    std::filesystem::remove(renamed);
    dialogs_->names = {"later"};
    w.commands().renameCommand();
    QVERIFY(waitFor([&] { return dialogs_->notices.size() == 1; }));
    QVERIFY(dialogs_->notices[0].startsWith("The video could not be renamed"));
    QCOMPARE(QString::fromStdString(entry.outputPath), QString::fromStdString(renamed));
    QCOMPARE(QString::fromStdString(entry.outputName), QString("holiday"));
    dialogs_->notices.clear();
    writeFile(renamed, "video");

    // Cancel changes nothing; a Ready entry is not renamed at all.
    w.commands().renameCommand();
    QCOMPARE(QString::fromStdString(entry.outputPath), QString::fromStdString(renamed));
    goToRow(w, 1);
    const int prompts = dialogs_->promptCalls;
    w.commands().renameCommand();
    QCOMPARE(dialogs_->promptCalls, prompts);

    // Play: the internal player gets the converted file, or the source of a Ready entry; a
    // missing file is reported.
    w.settings().InternalPlayer = 1;
    goToRow(w, 0);
    w.commands().playCommand();
    QCOMPARE(dialogs_->played.size(), size_t(1));
    QCOMPARE(QString::fromStdString(dialogs_->played[0]), QString::fromStdString(renamed));
    goToRow(w, 1);
    w.commands().playCommand();
    QCOMPARE(dialogs_->notices.size(), size_t(1));
    QVERIFY(dialogs_->notices[0].startsWith("The video file does not exist"));
    w.settings().InternalPlayer = 0;
    goToRow(w, 0);
    w.commands().playCommand();
    QCOMPARE(dialogs_->opened.size(), size_t(1));
  }

  void removeMissing() {
    TFMain& w = open();
    const std::string kept = home_ / "kept.out";
    writeFile(kept, "x");
    placeEntry(w, home_ / "a.avi", Ready, "a");
    placeEntry(w, home_ / "b.avi", Done, "b", kept);
    placeEntry(w, home_ / "c.avi", Done, "c", home_ / "gone.out");
    w.commands().removeMissingCommand();  // declined
    QCOMPARE(w.engine().list().entries().count(), 3);
    dialogs_->answers = {true};
    w.commands().removeMissingCommand();
    QCOMPARE(dialogs_->questions.back(), QString("Remove all entries with unexisting videos ?"));
    QCOMPARE(w.engine().list().entries().count(), 1);
    QCOMPARE(QString::fromStdString(w.engine().list().entries().at(0).outputPath),
             QString::fromStdString(kept));
    QCOMPARE(w.listView()->lvdGetCount(), 1);
  }

  void keysInTheList() {
    TFMain& w = openShown();
    QCOMPARE(w.size(), QSize(649, 486));
    const std::string source = home_ / "ready.avi";
    writeFile(source, "x");
    placeEntry(w, source, Ready, "ready");
    goToRow(w, 0);
    TListViewData* list = w.listView();

    // Ctrl+Alt+Shift+Home restores the size: width clamped to 400..1600, height 3/4 of it.
    w.resize(649, 300);
    const auto all = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
    QTest::keyClick(list, Qt::Key_Home, all);
    QCOMPARE(w.size(), QSize(649, 486));
    w.resize(300, 500);
    QTest::keyClick(list, Qt::Key_Home, all);
    QCOMPARE(w.size(), QSize(400, 300));

    // Enter plays (the pop-up's key), Del asks to remove (the main menu's key).
    w.settings().InternalPlayer = 1;
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(dialogs_->played.size(), size_t(1));
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(dialogs_->questions.size(), size_t(1));
    QCOMPARE(dialogs_->questions[0], QString(texts::RemoveConfirm));
  }

  void commandLineAndDrops() {
    QVERIFY2(fileExists(FAKE_ENCODER), "the stand-in encoder is not built");
    const std::string file = fakeSource(home_, "one.avi", 0);
    std::filesystem::create_directories(home_ / "folder/sub");
    fakeSource(home_, "folder/sub/two.MKV", 0);
    writeFile(home_ / "folder/notes.txt", "not a video");
    TFMain& w = open(FAKE_ENCODER, {file, home_ / "folder"});
    dialogs_->settingsOk = false;  // look at the batch's dialog, start nothing
    w.show();
    QVERIFY(waitFor([&] { return dialogs_->settingsCalls == 1; }));
    QCOMPARE(w.engine().list().entries().count(), 2);
    QCOMPARE(countReady(w.engine().list().entries()), 2);

    // A drop of a file and a folder: local files only, folders walked, then a batch is offered.
    std::filesystem::create_directories(home_ / "dropped");
    fakeSource(home_, "dropped/three.mp4", 0);
    const std::string four = fakeSource(home_, "four.mov", 0);
    dropPaths(&w, {four, home_ / "dropped"});
    QVERIFY(waitFor([&] { return dialogs_->settingsCalls == 2; }));
    QCOMPARE(w.engine().list().entries().count(), 4);
    QCOMPARE(QString::fromStdString(w.settings().LastSourceDir),
             QString::fromStdString(folderOf(home_ / "dropped")));
  }

  void duringBatch() {
    QVERIFY2(fileExists(FAKE_ENCODER), "the stand-in encoder is not built");
    TFMain& w = openShown(FAKE_ENCODER);
    w.settings().MaxConversions = 1;
    w.engine().settingsChanged();
    for (const char* name : {"a.avi", "b.avi"})
      QVERIFY(w.engine().scanner().addVideo(fakeSource(home_, name, 60000)) == AddOutcome::Added);
    QCOMPARE(w.engine().list().entries().count(), 2);

    // Idle: Esc belongs to the disabled Stop All and does nothing.
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(dialogs_->questions.empty());

    w.commands().convertCommand();
    QCOMPARE(dialogs_->settingsCalls, 1);
    VideoList& list = w.engine().list().entries();
    QVERIFY(waitFor([&] {
      return w.engine().batch().activeCount() == 2 && list.at(0).stateValue() == Converting &&
             list.at(1).stateValue() == Pending;
    }));
    QVERIFY(w.engine().batch().conversionMode());
    QVERIFY(w.batchDisplay().animationRunning());
    QVERIFY(w.batchDisplay().progressBarVisible());
    QVERIFY(!w.command("Settings1")->isEnabled());

    // A Pending entry during a batch: both stop items, both stop-all items and the adds (new
    // files join the batch); no remove or convert.
    goToRow(w, 1);
    QCOMPARE(enabledItems(w), sorted({"StopConversion1", "StopConversion2", "StopAll1", "StopAll2",
                                      "AddVideos1", "AddVideos2", "TBAdd"}));

    // The disabled Delete key does nothing; a drop joins the running batch (its default) as a
    // Pending row, without asking for settings again.
    QTest::keyClick(w.listView(), Qt::Key_Delete);
    QVERIFY(dialogs_->questions.empty() && dialogs_->notices.empty());
    dropPaths(&w, {fakeSource(home_, "late.avi", 0)});
    QVERIFY(waitFor([&] { return list.count() == 3 && !w.engine().scanner().scanning(); }));
    QCOMPARE(int(list.at(2).stateValue()), int(Pending));
    QCOMPARE(dialogs_->settingsCalls, 1);
    QCOMPARE(w.engine().batch().activeCount(), 3);

    // Closing asks once, with the number of active conversions; Cancel keeps everything running.
    QVERIFY(!w.close());
    QCOMPARE(dialogs_->questions.size(), size_t(1));
    QCOMPARE(dialogs_->questions[0],
             QString::fromStdString(texts::fillText(texts::CloseQuestion, 3)));
    QVERIFY(w.isVisible());
    QCOMPARE(w.engine().batch().activeCount(), 3);

    // Esc runs Stop All from the main menu (the pop-up's Stop All is on Ctrl+L instead).
    QCOMPARE(w.command("StopAll1")->shortcut(), QKeySequence(Qt::Key_Escape));
    QCOMPARE(w.command("StopAll2")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    dialogs_->answers = {true};
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(dialogs_->questions.size(), size_t(2));
    QCOMPARE(dialogs_->questions[1], QString(texts::StopAllQuestion));
    QVERIFY(waitFor([&] { return !w.engine().batch().conversionMode(); }));
    for (int i = 0; i < 3; ++i) QCOMPARE(int(list.at(i).stateValue()), int(Cancelled));
    QVERIFY(!w.batchDisplay().animationRunning());
    QVERIFY(!w.batchDisplay().progressBarVisible());
    QVERIFY(w.command("Settings1")->isEnabled());
    QCOMPARE(w.batchDisplay().panelText(1), QString("3 video(s)"));
  }

  void shutdownAfterBatchPowersOffAtTheEnd() {
    QVERIFY2(fileExists(FAKE_ENCODER), "the stand-in encoder is not built");
    auto power = std::make_shared<NoPower>();
    dialogs_ = std::make_shared<ScriptedDialogs>();
    window_ = makeWindow(home_, dialogs_, FAKE_ENCODER, {}, power);
    TFMain& w = *window_;
    w.show();
    w.settings().ShutdownAfter = 1;
    QVERIFY(w.engine().scanner().addVideo(fakeSource(home_, "a.avi", 0)) == AddOutcome::Added);
    dialogs_->answers = {true};  // the power-off warning
    w.commands().convertCommand();
    QCOMPARE(dialogs_->questions.size(), size_t(1));
    QCOMPARE(dialogs_->questions[0], QString(texts::ShutdownQuestion));
    // The batch ends, the window closes by itself without a question, and only its
    // destruction asks for the power-off.
    QVERIFY(waitFor([&] { return !w.isVisible(); }));
    QCOMPARE(dialogs_->questions.size(), size_t(1));
    QCOMPARE(power->requests, 0);
    window_.reset();
    QCOMPARE(power->requests, 1);
  }

  void historyKeepsOnlyConverted() {
    {
      TFMain& w = open();
      placeEntry(w, home_ / "a.avi", Done, "a", home_ / "a.out");
      placeEntry(w, home_ / "b.avi", Cancelled, "b");
      w.engine().list().setListModified(true);
      window_.reset();
    }
    TFMain& again = open();
    QCOMPARE(again.engine().list().entries().count(), 1);
    QCOMPARE(QString::fromStdString(again.engine().list().entries().at(0).outputName),
             QString("a"));
  }

  void showLogAndReason() {
    TFMain& w = open();
    const std::string log = home_ / "logs/failed.log";
    std::filesystem::create_directories(home_ / "logs");
    const std::string reason = "No space left on the destination";
    writeFile(log, std::string(LogRunMarker) + "1 ==\nffmpeg: write error\n" + LogReasonPrefix +
                       reason + "\n");
    placeEntry(w, home_ / "done.avi", Done, "done");
    placeEntry(w, home_ / "long/folder/failed.avi", ConversionError, "failed").logPath = log;

    // A row without a log: nothing to show, no reason.
    goToRow(w, 0);
    QVERIFY(!w.command("ShowLog1")->isEnabled());
    QVERIFY(!w.command("ShowLog2")->isEnabled());
    QCOMPARE(w.batchDisplay().panelText(2), QString());
    QCOMPARE(toolTip(w, 0, 3), QString());
    QCOMPARE(toolTip(w, 0, 0), QString::fromStdString(home_ / "done.avi"));

    // The failed row keeps its status text; its reason is the tooltip and in the status bar.
    goToRow(w, 1);
    QVERIFY(w.command("ShowLog1")->isEnabled());
    QVERIFY(w.command("ShowLog2")->isEnabled());
    QCOMPARE(cell(w, 1, 3), QString("Conversion Error"));
    QCOMPARE(toolTip(w, 1, 3), QString::fromStdString(reason));
    QCOMPARE(toolTip(w, 1, 0), QString::fromStdString(home_ / "long/folder/failed.avi") + "\n" +
                                   QString::fromStdString(reason));
    QCOMPARE(w.batchDisplay().panelText(2), QString::fromStdString(reason));
    // Read once: the repaints do not go back to the file.
    const std::string logText = readFile(log);
    std::filesystem::remove(log);
    QCOMPARE(toolTip(w, 1, 3), QString::fromStdString(reason));
    writeFile(log, logText);

    // Show Log opens the row's log; its key is bound to nothing else in the window.
    const QKeySequence key(Qt::CTRL | Qt::SHIFT | Qt::Key_L);
    QCOMPARE(w.command("ShowLog1")->shortcut(), key);
    int bound = 0;
    for (QAction* action : w.findChildren<QAction*>()) bound += action->shortcuts().contains(key);
    QCOMPARE(bound, 1);
    w.command("ShowLog1")->trigger();
    LogWindow* shown = openLogWindow();
    QVERIFY(shown);
    QCOMPARE(shown->reasonLabel()->text(), QString::fromStdString(reason));
    QVERIFY(shown->textView()->toPlainText().contains("ffmpeg: write error"));
    shown->close();
    QTRY_VERIFY(!openLogWindow());

    // Back on the row without a log: the reason leaves the status bar.
    goToRow(w, 0);
    QCOMPARE(w.batchDisplay().panelText(2), QString());
  }

  void batchTellsTheDesktop() {
    if (!fileExists(FAKE_ENCODER)) QSKIP("stand-in encoder not built");
    auto desktop = std::make_shared<RecordingDesktop>();
    dialogs_ = std::make_shared<ScriptedDialogs>();
    window_ = makeWindow(home_, dialogs_, FAKE_ENCODER, {}, {}, desktop);
    TFMain& w = *window_;
    w.show();
    const std::string failing = home_ / "failing.avi";
    writeFile(failing, "duration=5\nexit=1\n");
    for (const std::string& source :
         {fakeSource(home_, "a.avi", 300), fakeSource(home_, "b.avi", 300), failing})
      QVERIFY(w.engine().scanner().addVideo(source) == AddOutcome::Added);

    // One batch: started, progress, one end with the counts and the destination folder.
    w.commands().convertCommand();
    QVERIFY(waitFor([&] { return !w.engine().batch().conversionMode(); }));
    const std::string dest = w.settings().DestDir;
    QCOMPARE(desktop->calls,
             (std::vector<std::string>{"started", "progress", "ended 2 1 " + dest}));
    QVERIFY(std::is_sorted(desktop->fractions.begin(), desktop->fractions.end()));
    QVERIFY(desktop->fractions.front() >= 0.0 && desktop->fractions.back() <= 1.0);
    QVERIFY(desktop->fractions.back() > 0.0);

    // Every conversion got a log of its own in the log folder.
    for (int row = 0; row < 3; ++row) {
      const std::string log = w.engine().list().logPathOf(w.engine().list().entries().at(row));
      QVERIFY(fileExists(log));
      QCOMPARE(QString::fromStdString(folderOf(log)), QString::fromStdString(home_ / "logs/"));
    }

    // Stop All gives everything back without a notification ...
    w.engine().list().requeueCancelled();
    w.engine().list().entries().at(0).setState(Ready);
    w.engine().list().entries().at(0).sourcePath = fakeSource(home_, "long.avi", 60000);
    desktop->calls.clear();
    w.commands().convertCommand();
    QVERIFY(waitFor([&] { return w.engine().batch().runningCount() == 1; }));
    dialogs_->answers = {true};
    w.commands().stopAllCommand();
    QVERIFY(waitFor([&] { return !w.engine().batch().conversionMode(); }));
    QCOMPARE(desktop->calls.front(), std::string("started"));
    QCOMPARE(desktop->calls.back(), std::string("released"));
    QCOMPARE(std::count(desktop->calls.begin(), desktop->calls.end(), "released"), 1);

    // ... and so does closing the window in the middle of a batch.
    w.engine().list().entries().at(0).setState(Ready);
    desktop->calls.clear();
    w.commands().convertCommand();
    QVERIFY(waitFor([&] { return w.engine().batch().runningCount() == 1; }));
    window_.reset();
    QCOMPARE(desktop->calls.front(), std::string("started"));
    QCOMPARE(desktop->calls.back(), std::string("released"));
  }

  void launchFailuresAreReported() {
    TFMain& w = open();
    const std::string video = home_ / "ready.avi";
    writeFile(video, "x");
    placeEntry(w, video, Ready, "ready");
    goToRow(w, 0);
    const QString problem = "The folder could not be opened:\n/x\n\nInstall a file manager.";
    dialogs_->launchResult = {false, problem};
    w.commands().openDestinationCommand();
    w.settings().InternalPlayer = 1;
    w.commands().playCommand();
    w.settings().InternalPlayer = 0;
    w.commands().playCommand();
    QCOMPARE(dialogs_->notices, (std::vector<QString>{problem, problem, problem}));

    // A player that told the user itself, and launches that worked: no message.
    dialogs_->notices.clear();
    dialogs_->launchResult = {false, {}};
    w.settings().InternalPlayer = 1;
    w.commands().playCommand();
    dialogs_->launchResult = {true, {}};
    w.commands().openDestinationCommand();
    QVERIFY(dialogs_->notices.empty());
  }

  void severalSelectedRows() {
    TFMain& w = openShown();
    const std::string first = home_ / "first.out";
    const std::string second = home_ / "second.out";
    writeFile(first, "x");
    writeFile(second, "x");
    placeEntry(w, home_ / "a.avi", Done, "a", first);
    placeEntry(w, home_ / "b.avi", Ready, "b");
    placeEntry(w, home_ / "c.avi", NotFound, "c");
    placeEntry(w, home_ / "d.avi", Done, "d", second);
    TListViewData* list = w.listView();
    goToRow(w, 0);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(list->lvdSelectedRows(), (QList<int>{0, 1, 2, 3}));

    // One question counting and naming the rows it applies to (NotFound cannot go); declined:
    // nothing.
    w.commands().removeCommand();
    QCOMPARE(dialogs_->questions,
             (std::vector<QString>{QString::fromStdString(
                 texts::fillText(texts::RemoveManyConfirm, 3) + "\n\n" + (home_ / "a.avi") + "\n" +
                 (home_ / "b.avi") + "\n" + (home_ / "d.avi"))}));
    QCOMPARE(w.engine().list().entries().count(), 4);

    // Delete Video over all of them: the question names the files it deletes; the converted
    // files go, the NotFound row stays.
    dialogs_->answers = {true};
    w.commands().deleteVideoCommand();
    QCOMPARE(dialogs_->questions.size(), size_t(2));
    QCOMPARE(dialogs_->questions[1],
             QString::fromStdString(texts::fillText(texts::DeleteManyConfirm, 3) + "\n\n" + first +
                                    "\n" + (home_ / "b.avi") + "\n" + second));
    QVERIFY(!fileExists(first) && !fileExists(second));
    QCOMPARE(w.engine().list().entries().count(), 1);
    QCOMPARE(QString::fromStdString(w.engine().list().entries().at(0).outputName), QString("c"));
    QVERIFY(dialogs_->notices.empty());

    // Shift+Up adds the row above; going to a row selects it alone again.
    placeEntry(w, home_ / "e.avi", Ready, "e");
    goToRow(w, 1);
    QTest::keyClick(list, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(list->lvdSelectedRows(), (QList<int>{0, 1}));
    goToRow(w, 1);
    QCOMPARE(list->lvdSelectedRows(), (QList<int>{1}));
  }

  void stopSeveralAndOne() {
    if (!fileExists(FAKE_ENCODER)) QSKIP("stand-in encoder not built");
    TFMain& w = openShown(FAKE_ENCODER);
    w.settings().MaxConversions = 1;
    w.engine().settingsChanged();
    for (const char* name : {"a.avi", "b.avi", "c.avi"})
      QVERIFY(w.engine().scanner().addVideo(fakeSource(home_, name, 60000)) == AddOutcome::Added);
    w.commands().convertCommand();
    VideoList& list = w.engine().list().entries();
    QVERIFY(waitFor([&] { return list.at(0).stateValue() == Converting; }));

    // One selected row: the question of old, for that row alone.
    goToRow(w, 2);
    dialogs_->answers = {true};
    w.commands().stopConversionCommand();
    QCOMPARE(dialogs_->questions.back(), QString(texts::StopOneQuestion));
    QCOMPARE(int(list.at(2).stateValue()), int(Cancelled));

    // Every row selected: one question counting the two still running or waiting.
    goToRow(w, 0);
    QTest::keyClick(w.listView(), Qt::Key_A, Qt::ControlModifier);
    dialogs_->answers = {true};
    w.commands().stopConversionCommand();
    QCOMPARE(dialogs_->questions.size(), size_t(2));
    QVERIFY(dialogs_->questions.back().startsWith(
        QString::fromStdString(texts::fillText(texts::StopManyQuestion, 2) + "\n\n")));
    QVERIFY(waitFor([&] { return !w.engine().batch().conversionMode(); }));
    for (int i = 0; i < 3; ++i) QCOMPARE(int(list.at(i).stateValue()), int(Cancelled));
  }

  void actOnTheSelectedRowsOnly() {
    TFMain& w = openShown();
    TListViewData* list = w.listView();
    std::vector<std::string> outputs;
    for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
      outputs.push_back(home_ / (std::string(name) + ".out"));
      writeFile(outputs.back(), "x");
      placeEntry(w, home_ / (std::string(name) + ".avi"), Done, name, outputs.back());
    }
    const auto ctrlClick = [&](int row) {
      const QRect rect = list->visualRect(list->model()->index(row, 1));
      QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, rect.center());
    };
    const auto name = [&](int row) {
      return QString::fromStdString(w.engine().list().entries().at(row).outputName);
    };

    // Row a selected; row b clicked twice with Ctrl: b has the focus but not the selection.
    // Del removes a, the highlighted row, with the one-row question.
    goToRow(w, 0);
    ctrlClick(1);
    ctrlClick(1);
    QCOMPARE(w.listView()->lvdIndexFocused(), 1);
    QCOMPARE(list->lvdSelectedRows(), QList<int>{0});
    dialogs_->answers = {true};
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(dialogs_->questions, std::vector<QString>{QString(texts::RemoveConfirm)});
    QCOMPARE(w.engine().list().entries().count(), 5);
    QCOMPARE(name(0), QString("b"));

    // End selects f; Ctrl+Home moves the focus to b alone. F8 deletes f's video, not b's.
    QTest::keyClick(list, Qt::Key_End);
    QTest::keyClick(list, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(w.listView()->lvdIndexFocused(), 0);
    QCOMPARE(list->lvdSelectedRows(), QList<int>{4});
    dialogs_->answers = {true};
    QTest::keyClick(list, Qt::Key_F8);
    QCOMPARE(dialogs_->questions.back(), QString(texts::DeleteConfirm));
    QVERIFY(fileExists(outputs[1]));
    QVERIFY(!fileExists(outputs[5]));
    QCOMPARE(w.engine().list().entries().count(), 4);

    // Nothing selected: the row commands act on nothing and ask nothing.
    goToRow(w, 0);
    ctrlClick(0);
    QVERIFY(list->lvdSelectedRows().isEmpty());
    const std::size_t asked = dialogs_->questions.size();
    dialogs_->names = {"renamed"};
    w.settings().InternalPlayer = 1;
    w.commands().removeCommand();
    w.commands().deleteVideoCommand();
    w.commands().renameCommand();
    w.commands().playCommand();
    QCOMPARE(dialogs_->questions.size(), asked);
    QCOMPARE(dialogs_->promptCalls, 0);
    QVERIFY(dialogs_->played.empty());
    QVERIFY(!w.command("DeleteEntry1")->isEnabled());
    QVERIFY(!w.command("PlayVideo1")->isEnabled());
    QCOMPARE(w.engine().list().entries().count(), 4);
  }

  void addsAreNeverDropped() {
    QVERIFY2(fileExists(FAKE_ENCODER), "the stand-in encoder is not built");
    TFMain& w = open(FAKE_ENCODER);
    dialogs_->settingsOk = false;
    VideoList& list = w.engine().list().entries();

    // A second add while the first is still being probed waits behind it; one batch is offered
    // once both have ended.
    const std::string one = fakeSource(home_, "one.avi", 0);
    const std::string two = fakeSource(home_, "two.avi", 0);
    QVERIFY(w.addDroppedPaths({one}));
    QVERIFY(w.engine().scanner().scanning());
    QVERIFY(w.addDroppedPaths({two}));
    QVERIFY(waitFor([&] { return list.count() == 2 && !w.engine().scanner().scanning(); }));
    QCOMPARE(QString::fromStdString(list.at(0).sourcePath), QString::fromStdString(one));
    QCOMPARE(QString::fromStdString(list.at(1).sourcePath), QString::fromStdString(two));
    QVERIFY(waitFor([&] { return dialogs_->settingsCalls == 1; }));

    // Add Videos probes on the scanner's threads: a probe that hangs leaves the window free,
    // and a file of any extension picked in the dialog is offered.
    const std::string hanging = home_ / "hanging.avi";
    writeFile(hanging, "probe_hang=1\n");
    dialogs_->openPaths = {hanging};
    QVERIFY(w.commands().runAddCommand());
    QVERIFY(w.engine().scanner().scanning());
    w.engine().scanner().cancelScan();
    QVERIFY(waitFor([&] { return !w.engine().scanner().scanning(); }));
    dialogs_->openPaths = {fakeSource(home_, "odd.name", 0)};
    QVERIFY(w.commands().runAddCommand());
    QVERIFY(waitFor([&] { return list.count() == 3; }));

    // One box for the files of one add that the encoder refused, a line each.
    std::filesystem::create_directories(home_ / "mixed");
    const std::string bad1 = home_ / "mixed/bad1.avi";
    const std::string bad2 = home_ / "mixed/bad2.avi";
    writeFile(bad1, "probe_exit=1\n");
    writeFile(bad2, "probe_exit=1\n");
    fakeSource(home_, "mixed/good.avi", 0);
    dialogs_->notices.clear();
    QVERIFY(w.addDroppedPaths({home_ / "mixed"}));
    QVERIFY(waitFor([&] { return !w.engine().scanner().scanning() && list.count() == 4; }));
    QCOMPARE(dialogs_->notices, (std::vector<QString>{QString::fromStdString(
                                    texts::fillText(texts::InvalidVideo, bad1.c_str()) + "\n" +
                                    texts::fillText(texts::InvalidVideo, bad2.c_str()))}));
  }

  void addingStartsInVideosAndTakesFolders() {
    if (!fileExists(FAKE_ENCODER)) QSKIP("stand-in encoder not built");
    TFMain& w = open(FAKE_ENCODER);
    // The first open dialog starts in the videos folder, not beside the program.
    w.settings().LastSourceDir.clear();
    w.commands().runAddCommand();
    QCOMPARE(QString::fromStdString(dialogs_->openFolder),
             QString::fromStdString(home_ / "Videos"));

    // Add Folder walks the chosen folder; nothing starts by itself.
    std::filesystem::create_directories(home_ / "picked/sub");
    fakeSource(home_, "picked/one.avi", 0);
    fakeSource(home_, "picked/sub/two.mkv", 0);
    dialogs_->folderChoice = home_ / "picked";
    w.command("AddFolder1")->trigger();
    QVERIFY(waitFor([&] { return !w.engine().scanner().scanning(); }));
    QCOMPARE(w.engine().list().entries().count(), 2);
    QCOMPARE(dialogs_->settingsCalls, 0);

    // Ready rows show the extension of the profile chosen now.
    auto* formats = w.findChild<QComboBox*>("CBVideoFor");
    const std::string before = extension(w);
    int other = 0;
    while (profileById(OutputProfiles[other].Id).Extension == before) ++other;
    formats->setCurrentIndex(other);
    w.takeMainSettings(2);
    const std::string after = extension(w);
    QVERIFY(after != before);
    QVERIFY(cell(w, 0, 2).endsWith(QString::fromStdString("(." + after + ")")));
  }

  void columnWidthsRemembered() {
    const std::string file = home_ / "config/vidmora/columns";
    const std::string settings = home_ / "config/vidmora/settings.bin";
    // Nobody dragged a column: no file, and the settings file is what it always was.
    openShown();
    window_.reset();
    QVERIFY(!fileExists(file));
    const auto settingsSize = std::filesystem::file_size(settings);

    // Every column can be dragged; a dragged width comes back with the next window.
    TFMain& w = openShown();
    QHeaderView* header = w.listView()->header();
    for (int column = 0; column < 4; ++column)
      QCOMPARE(header->sectionResizeMode(column), QHeaderView::Interactive);
    header->resizeSection(0, 321);  // what a drag of the edge does
    window_.reset();
    QVERIFY(fileExists(file));
    QCOMPARE(std::filesystem::file_size(settings), settingsSize);
    QCOMPARE(openShown().listView()->header()->sectionSize(0), 321);
    window_.reset();

    // A damaged file gives the usual layout.
    writeFile(file, "321 -5 x\n");
    QCOMPARE(openShown().listView()->header()->sectionSize(1), 75);
    window_.reset();

    // A FIFO in its place neither hangs the start nor counts; a link in its place is replaced
    // by the saved file, its target left as it was.
    std::filesystem::remove(file);
    QCOMPARE(::mkfifo(file.c_str(), 0600), 0);
    openShown().listView()->header()->resizeSection(0, 222);
    window_.reset();
    QVERIFY(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
    const std::string target = home_ / "not-the-columns";
    writeFile(target, "keep me");
    std::filesystem::remove(file);
    std::filesystem::create_symlink(target, file);
    openShown().listView()->header()->resizeSection(0, 333);
    window_.reset();
    QCOMPARE(QString::fromStdString(readFile(target)), QString("keep me"));
    QVERIFY(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
    QCOMPARE(openShown().listView()->header()->sectionSize(0), 333);
  }

  void openFilter() {
    const std::string filter = buildOpenFilter();
    QVERIFY(filter.rfind("All supported files|*.AVI;*.MPG;*.MPEG;", 0) == 0);
    QVERIFY(filter.find("|Video Files (*.avi;*.mpg;") != std::string::npos);
    QVERIFY(filter.find("|Real Media Files (*.rm;*.rmvb)|*.RM;*.RMVB|") != std::string::npos);
    QVERIFY(filter.ends_with("All Files (*)|*|"));
    QCOMPARE(std::count(filter.begin(), filter.end(), '|'), 14);
    // A small capacity cuts the text; it never grows past capacity - 1.
    QCOMPARE(buildOpenFilter(40).size(), size_t(39));

    // Qt's form: one filter per pair, each pattern in both cases, labels without their list.
    const QStringList qt = toQtNameFilters(filter);
    QCOMPARE(qt.size(), 7);
    QVERIFY(qt[0].startsWith("All supported files (*.avi *.AVI *.mpg *.MPG "));
    QCOMPARE(qt[5], QString("Real Media Files (*.rm *.RM *.rmvb *.RMVB)"));
    QCOMPARE(qt[6], QString("All Files (*)"));
    // "All Files" shows names without a dot too.
    const QString all = qt[6].section(QLatin1Char('('), 1).chopped(1);
    QVERIFY(QDir::match(all.split(QLatin1Char(' ')), QStringLiteral("clip")));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_qtest.moc"
