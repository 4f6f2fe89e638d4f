// The window's side of the queue: the "Add to the running batch" choice and its file, Convert
// With… on selected rows, pause and resume of running encoders, and moving rows.
#include <signal.h>
#include <sys/types.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTest>
#include <fstream>
#include <sstream>

#include "engine/list_texts.h"
#include "gui_support.h"
#include "lvdata/lvdata.h"
#include "settings/presets.h"
#include "settings/profiles.h"
#include "settings/qt/options_dialog_window.h"
#include "settings/settings_file.h"

using namespace vidmora;
using namespace vidmora::test;

namespace {

// A source the stand-in encoder converts; `extra` adds its own lines.
std::string fakeSource(const TempFolder& home, const std::string& name, const std::string& extra) {
  const std::string path = home / name;
  writeFile(path, "duration=5\n" + extra + "\n");
  return path;
}

// The process state letter of /proc/<pid>/stat ('T' stopped), 0 when it is gone.
char processState(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  const std::size_t paren = line.rfind(')');
  return paren == std::string::npos || paren + 2 >= line.size() ? 0 : line[paren + 2];
}

// Settings dialog answers that give the rows another profile and record the caption.
class ProfileDialogs : public ScriptedDialogs {
 public:
  int16_t profileId = 0;
  TSettings shown;
  QString caption;
  bool settingsDialog(QWidget* owner, TSettings& s, const QString& text) override {
    shown = s;
    caption = text;
    if (profileId != 0) s.ProfileId = profileId;
    return ScriptedDialogs::settingsDialog(owner, s, text);
  }
  std::string presetFile;  // empty: the file chooser is cancelled
  bool choosePresetFile(QWidget*, const QString&, bool, std::string& path) override {
    path = presetFile;
    return !path.empty();
  }
};

void selectRows(TFMain& w, std::initializer_list<int> rows) {
  QItemSelectionModel* selection = w.listView()->selectionModel();
  selection->clearSelection();
  for (const int r : rows)
    selection->select(w.listView()->model()->index(r, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

std::vector<std::string> sourceNames(TFMain& w) {
  std::vector<std::string> names;
  VideoList& list = w.engine().list().entries();
  for (int i = 0; i < list.count(); ++i) names.push_back(list.at(i).outputName);
  return names;
}

QString cellToolTipOf(TFMain& w, int row, int column) {
  auto* model = w.listView()->model();
  return model->data(model->index(row, column), Qt::ToolTipRole).toString();
}

}  // namespace

class QueueWindowTest : public QObject {
  Q_OBJECT

 private:
  TempFolder home_;
  std::shared_ptr<ProfileDialogs> dialogs_;
  std::unique_ptr<TFMain> window_;

  TFMain& open(const std::string& encoder = {}, std::shared_ptr<DesktopSession> desktop = {}) {
    dialogs_ = std::make_shared<ProfileDialogs>();
    window_ = makeWindow(home_, dialogs_, encoder, {}, {}, std::move(desktop));
    window_->show();
    window_->activateWindow();
    [&] { QVERIFY(QTest::qWaitForWindowActive(window_.get())); }();
    QCoreApplication::sendPostedEvents();
    return *window_;
  }

  // Converts one source with an encoder that burns CPU in itself and a child until stopped.
  void startSpinning(TFMain& w, pid_t& encoder, pid_t& child) {
    const std::string pids = home_ / "pids";
    std::filesystem::remove(pids);
    QVERIFY(w.engine().scanner().addVideo(fakeSource(home_, "spin.avi", "spin=1\npids=" + pids)) ==
            AddOutcome::Added);
    w.convertCommand();
    QVERIFY(waitFor([&] { return !readFile(pids).empty(); }));
    std::istringstream(readFile(pids)) >> encoder >> child;
    QVERIFY(encoder > 0 && child > 0);
  }

 private slots:
  void initTestCase() { isolateHome(home_); }
  void cleanup() {
    window_.reset();
    std::error_code ec;
    std::filesystem::remove_all(home_ / "config", ec);
  }

  // The choice lives in a side file: the settings file stays byte for byte what it was, a
  // restart keeps the choice, and a damaged side file falls back to the default.
  void addToRunningBatchKept() {
    {
      OptionsDialog dialog(nullptr, TSettings{});
      auto* box = dialog.findChild<QCheckBox*>(QStringLiteral("CBAddToBatch"));
      QVERIFY(box);
      QCOMPARE(box->text(), QStringLiteral("Add to the running batch"));
      QVERIFY(box->isChecked());
      box->setChecked(false);
      auto* only = dialog.findChild<QCheckBox*>(QStringLiteral("CBOnlyLanguages"));
      auto* languages = dialog.findChild<QLineEdit*>(QStringLiteral("EdLanguages"));
      auto* bars = dialog.findChild<QCheckBox*>(QStringLiteral("CBRemoveBlackBars"));
      QVERIFY(only && languages && bars);
      QVERIFY(!only->isChecked() && !languages->isEnabled() && !bars->isChecked());
      only->setChecked(true);
      QVERIFY(languages->isEnabled());
      languages->setText(QStringLiteral(" deu, eng "));
      bars->setChecked(true);
      TSettings read;
      dialog.readBack(read);
      QCOMPARE(read.AddToRunningBatch, uint8_t{0});
      QCOMPARE(read.OnlyPreferredLanguages, uint8_t{1});
      QCOMPARE(read.PreferredLanguages, std::string("deu, eng"));
      QCOMPARE(read.RemoveBlackBars, uint8_t{1});
    }

    TFMain& w = open();
    w.settingsCommand();  // OK: the settings are saved
    const std::string settingsPath = w.settingsPath();
    const std::string before = readFile(settingsPath);
    w.settings().AddToRunningBatch = 0;
    // The track and picture rules live there too.
    w.settings().OnlyPreferredLanguages = 1;
    w.settings().PreferredLanguages = "jpn, en";
    w.settings().DropCommentary = 1;
    w.settings().RemoveBlackBars = 1;
    w.settingsCommand();
    QCOMPARE(readFile(settingsPath), before);
    window_.reset();
    const std::string choices = choicesFilePath(home_ / "config/vidmora");
    QVERIFY(readFile(choices).rfind("add-to-running-batch=0\n", 0) == 0);
    {
      const TSettings& back = open().settings();
      QCOMPARE(back.AddToRunningBatch, uint8_t{0});
      QCOMPARE(back.OnlyPreferredLanguages, uint8_t{1});
      QCOMPARE(back.PreferredLanguages, std::string("jpn, en"));
      QCOMPARE(back.KeepOriginalLanguage, uint8_t{1});
      QCOMPARE(back.DropCommentary, uint8_t{1});
      QCOMPARE(back.RemoveBlackBars, uint8_t{1});
    }
    window_.reset();

    const struct {
      const char* text;
      uint8_t expected;
    } cases[] = {{"add-to-running-batch=1\n", 1},
                 {"other=5\nadd-to-running-batch=0", 0},
                 {"add-to-running-batch=2\n", 1},
                 {"add-to-running-batch\n\xff\xfe=0\n", 1},
                 {"remove-black-bars=1\npreferred-languages=en$(rm -rf ~)\n", 1}};
    for (const auto& c : cases) {
      writeFile(choices, c.text);
      TSettings s;
      startupSettings(s, home_ / "config/vidmora", home_ / "Videos");
      QCOMPARE(s.AddToRunningBatch, c.expected);
      QCOMPARE(s.PreferredLanguages, std::string());  // only codes and separators are taken
    }
  }

  // Off: a row added during a batch waits as Ready instead of joining it.
  void addedRowWaitsWhenChoiceIsOff() {
    if (!fileExists(FAKE_ENCODER)) QSKIP("stand-in encoder not built");
    TFMain& w = open(FAKE_ENCODER);
    w.settings().AddToRunningBatch = 0;
    QVERIFY(w.engine().scanner().addVideo(fakeSource(home_, "a.avi", "run_ms=60000")) ==
            AddOutcome::Added);
    w.convertCommand();
    QVERIFY(waitFor([&] { return w.engine().batch().runningCount() == 1; }));
    QVERIFY(w.engine().scanner().addVideo(fakeSource(home_, "b.avi", "run_ms=10")) ==
            AddOutcome::Added);
    QCOMPARE(w.engine().list().entries().at(1).stateValue(), int16_t{Ready});
    dialogs_->answers = {true};
    w.stopAllCommand();
    QVERIFY(waitFor([&] { return !w.engine().batch().conversionMode(); }));
    QCOMPARE(w.engine().list().entries().at(1).stateValue(), int16_t{Ready});
  }

  // Convert With… gives the selected Ready rows (only those) their own profile; the main
  // settings stay; the Name cell shows the row's extension and its tooltip the profile.
  void convertWithSetsSelectedReadyRows() {
    TFMain& w = open();
    const int16_t mainProfile = w.settings().ProfileId;
    const char* mainExt = profileById(mainProfile).Extension;
    int other = 0;
    while (OutputProfiles[other].Id != -1 &&
           std::string(OutputProfiles[other].Extension) == mainExt)
      ++other;
    QVERIFY(OutputProfiles[other].Id != -1);
    const TOutputProfile& chosen = OutputProfiles[other];

    placeEntry(w, home_ / "a.avi", Ready, "a");
    placeEntry(w, home_ / "b.avi", Ready, "b");
    placeEntry(w, home_ / "c.avi", Done, "c", home_ / "c.mp4");
    selectRows(w, {0, 2});
    w.updateCommandStates();
    QVERIFY(w.command("ConvertWith1")->isEnabled());
    QVERIFY(w.command("ConvertWith2")->isEnabled());
    dialogs_->profileId = chosen.Id;
    w.command("ConvertWith1")->trigger();
    QCOMPARE(dialogs_->settingsCalls, 1);
    QCOMPARE(dialogs_->caption, QStringLiteral("Convert With"));

    VideoList& list = w.engine().list().entries();
    QVERIFY(list.at(0).ownSettings);
    QCOMPARE(list.at(0).ownSettings->ProfileId, chosen.Id);
    QVERIFY(!list.at(1).ownSettings);
    QVERIFY(!list.at(2).ownSettings);
    QCOMPARE(w.settings().ProfileId, mainProfile);
    QCOMPARE(w.engine().list().cellText(0, ColumnName),
             std::string("a (.") + chosen.Extension + ")");
    QCOMPARE(w.engine().list().cellText(1, ColumnName), std::string("b (.") + mainExt + ")");
    QVERIFY(cellToolTipOf(w, 0, ColumnName).startsWith(QString::fromUtf8(chosen.Name)));
    QVERIFY(cellToolTipOf(w, 0, ColumnName).contains(QStringLiteral("Quality: ")));
    QVERIFY(cellToolTipOf(w, 1, ColumnName)
                .startsWith(QString::fromUtf8(profileById(mainProfile).Name)));

    // Again on the row: the dialog opens with the row's own values; cancel changes nothing.
    selectRows(w, {0});
    dialogs_->profileId = 0;
    dialogs_->settingsOk = false;
    w.convertWithCommand();
    QCOMPARE(dialogs_->shown.ProfileId, chosen.Id);
    QCOMPARE(list.at(0).ownSettings->ProfileId, chosen.Id);

    // Nothing Ready selected: the command is off.
    selectRows(w, {2});
    w.updateCommandStates();
    QVERIFY(!w.command("ConvertWith1")->isEnabled());
  }

  // Pause stops the encoder's process group and shows it on the row; Resume continues it.
  // Pause All releases the sleep inhibitor; Stop All ends paused conversions.
  void pauseAndResume() {
    if (!fileExists(FAKE_ENCODER)) QSKIP("stand-in encoder not built");
    auto desktop = std::make_shared<RecordingDesktop>();
    TFMain& w = open(FAKE_ENCODER, desktop);
    pid_t encoder = 0, child = 0;
    startSpinning(w, encoder, child);
    if (QTest::currentTestFailed()) return;
    const auto both = [&](bool stopped) {
      return [=] {
        return (processState(encoder) == 'T') == stopped && (processState(child) == 'T') == stopped;
      };
    };

    QVERIFY(waitFor([&] { return w.statusPanelText(3) == QStringLiteral("0 of 1 converted"); }));
    selectRows(w, {0});
    w.updateCommandStates();
    QVERIFY(w.command("Pause1")->isEnabled());
    QVERIFY(!w.command("Resume1")->isEnabled());
    QTest::keyClick(&w, Qt::Key_P, Qt::ControlModifier);
    QVERIFY(waitFor(both(true)));
    QVERIFY(QString::fromStdString(w.engine().list().cellText(0, ColumnStatus))
                .endsWith(QStringLiteral("Paused")));
    QVERIFY(!w.command("Pause1")->isEnabled());
    QVERIFY(w.command("Resume1")->isEnabled());
    QTest::keyClick(&w, Qt::Key_R, Qt::ControlModifier);
    QVERIFY(waitFor(both(false)));

    desktop->calls.clear();
    w.command("PauseAll2")->trigger();
    QVERIFY(waitFor(both(true)));
    QCOMPARE(desktop->calls, std::vector<std::string>{"released"});
    QVERIFY(!w.command("PauseAll1")->isEnabled());
    QVERIFY(w.command("ResumeAll1")->isEnabled());

    dialogs_->answers = {true};
    w.stopAllCommand();
    QVERIFY(waitFor([&] { return !w.engine().batch().conversionMode(); }));
    QVERIFY(waitFor([&] { return processState(encoder) == 0 && processState(child) == 0; }));
    QCOMPARE(w.statusPanelText(3), QString());
  }

  // Exit with a paused conversion ends its encoder rather than waiting for it.
  void exitWithPausedConversion() {
    if (!fileExists(FAKE_ENCODER)) QSKIP("stand-in encoder not built");
    TFMain& w = open(FAKE_ENCODER);
    pid_t encoder = 0, child = 0;
    startSpinning(w, encoder, child);
    if (QTest::currentTestFailed()) return;
    w.pauseAllCommand(true);
    QVERIFY(waitFor([&] { return processState(encoder) == 'T'; }));
    dialogs_->answers = {true, true, true};
    window_->close();
    window_.reset();
    QVERIFY(waitFor([&] { return processState(encoder) == 0 && processState(child) == 0; }));
  }

  // Ctrl+Up / Ctrl+Down move the selected rows as a block; they stay selected; at the edge
  // nothing moves.
  void moveRowsUpAndDown() {
    TFMain& w = open();
    for (const char* name : {"a", "b", "c", "d"})
      placeEntry(w, home_ / (std::string(name) + ".avi"), Ready, name);
    selectRows(w, {1, 2});
    const struct {
      Qt::Key key;
      std::vector<std::string> order;
      QList<int> selected;
    } steps[] = {
        {Qt::Key_Up, {"b", "c", "a", "d"}, {0, 1}},   {Qt::Key_Up, {"b", "c", "a", "d"}, {0, 1}},
        {Qt::Key_Down, {"a", "b", "c", "d"}, {1, 2}}, {Qt::Key_Down, {"a", "d", "b", "c"}, {2, 3}},
        {Qt::Key_Down, {"a", "d", "b", "c"}, {2, 3}},
    };
    for (const auto& step : steps) {
      QTest::keyClick(&w, step.key, Qt::ControlModifier);
      QCOMPARE(sourceNames(w), step.order);
      QCOMPARE(w.listView()->lvdSelectedRows(), step.selected);
    }
  }

  // The dialog lists presets after the profiles; picking one selects its profile and values;
  // "Save as Preset..." adds the dialog's values and refuses a taken name.
  void presetsInTheDialog() {
    PresetStore store(home_ / "dialog-presets.json");
    TSettings start;
    setDefaults(start);
    OptionsDialog dialog(nullptr, start);
    dialog.setPresets(&store);
    auto* chooser = dialog.findChild<QComboBox*>(QStringLiteral("CBVideoFor"));
    QVERIFY(chooser);
    QStringList notices;
    dialog.setNoticeHandler([&](const QString& text) { notices << text; });
    dialog.setNamePrompt([](QString& name) { return name = QStringLiteral("Film"), true; });

    const int modern = profileIndexById(OutputProfiles[ProfileCount - 1].Id);
    chooser->setCurrentIndex(modern);
    TSettings wanted;
    dialog.readBack(wanted);
    QVERIFY(dialog.savePreset());
    QCOMPARE(chooser->count(), ProfileCount + 1);
    QCOMPARE(chooser->itemText(ProfileCount), QStringLiteral("Film"));
    QVERIFY(!dialog.savePreset());
    QCOMPARE(notices.size(), 1);
    QCOMPARE(store.presets().size(), std::size_t{1});

    // Another dialog over other settings: the preset line brings its values back.
    OptionsDialog again(nullptr, start);
    again.setPresets(&store);
    auto* chooser2 = again.findChild<QComboBox*>(QStringLiteral("CBVideoFor"));
    chooser2->setCurrentIndex(ProfileCount);
    QCOMPARE(chooser2->currentIndex(), modern);
    TSettings read;
    again.readBack(read);
    ConversionSnapshot a, b;
    takeSnapshot(a, read);
    takeSnapshot(b, wanted);
    a.DestDir = b.DestDir = {};
    QVERIFY(a == b);
  }

  // The window's chooser lists the presets and applies them (the folders stay); rename,
  // delete, export and import go through the Options menu's commands.
  void presetsInTheWindow() {
    TFMain& w = open();
    const std::string dest = w.settings().DestDir;
    ConversionSnapshot values;
    setDefaults(values);
    values.ProfileId = OutputProfiles[ProfileCount - 1].Id;
    QCOMPARE(w.presets().add("Phone", values), PresetError::None);
    w.applyMainSettings();
    auto* chooser = w.findChild<QComboBox*>(QStringLiteral("CBVideoFor"));
    QCOMPARE(chooser->itemText(ProfileCount), QStringLiteral("Phone"));
    chooser->setCurrentIndex(ProfileCount);
    emit chooser->activated(ProfileCount);
    QCOMPARE(w.settings().ProfileId, values.ProfileId);
    QCOMPARE(w.settings().DestDir, dest);

    dialogs_->names = {"phone", "Tiny"};
    w.renamePresetCommand();
    QCOMPARE(chooser->itemText(ProfileCount), QStringLiteral("Tiny"));

    dialogs_->presetFile = home_ / "exported presets.json";
    w.exportPresetsCommand();
    QVERIFY(fileExists(dialogs_->presetFile));

    dialogs_->names = {"Tiny"};
    dialogs_->answers = {true};
    w.deletePresetCommand();
    QVERIFY(w.presets().presets().empty());
    QCOMPARE(chooser->count(), ProfileCount);

    w.importPresetsCommand();
    QCOMPARE(chooser->count(), ProfileCount + 1);
    QCOMPARE(w.presets().presets().at(0).values.ProfileId, values.ProfileId);
    QCOMPARE(dialogs_->notices.back(), QStringLiteral("1 preset(s) imported."));

    // A second window reads them from its file.
    window_.reset();
    QCOMPARE(open().presets().presets().size(), std::size_t{1});
  }
};

QTEST_MAIN(QueueWindowTest)
#include "queue_window_qtest.moc"
