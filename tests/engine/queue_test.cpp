// The list as a queue the user owns: rows joining a running batch, rows with their own profile,
// pause and resume, moving rows, the batch's progress by duration, and the kept queue file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine/command_line.h"
#include "engine/list_texts.h"
#include "engine_fixture.h"
#include "platform/stale_files.h"
#include "platform/texts.h"
#include "settings/profiles.h"
#include "videolist/queue_file.h"

namespace vidmora {
namespace {

using test::EngineRig;
using test::TempFolder;

using test::fakeSource;

int16_t stateOf(EngineRig& rig, int row) {
  return rig.engine.list().entries().at(row).stateValue();
}

// The conversion values of a profile, as the settings dialog leaves them after choosing it.
std::shared_ptr<const ConversionSnapshot> profileValues(int16_t id) {
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(id));
  auto values = std::make_shared<ConversionSnapshot>();
  takeSnapshot(*values, s);
  return values;
}

TEST(QueueBatch, RowsAddedDuringABatchJoinItAndItsEndWaitsForThem) {
  TempFolder dir;
  EngineConfig config;
  config.tickPeriodMs = 20;
  EngineRig rig(FAKE_ENCODER, dir.path(), config);
  rig.engine.settings().MaxConversions = 1;
  rig.engine.settings().ExitAfter = 1;
  rig.engine.settingsChanged();
  rig.addReady(fakeSource(dir, "a.avi", "run_ms=400"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.queue.serveUntil([&] { return stateOf(rig, 0) == Converting; }, 10000));

  // "Add to the running batch" (the default): the new row joins with the batch's profile.
  EXPECT_EQ(rig.engine.scanner().addVideo(fakeSource(dir, "b.avi", "run_ms=50")),
            AddOutcome::Added);
  EXPECT_EQ(stateOf(rig, 1), Pending);
  EXPECT_EQ(rig.engine.batch().batchCounts().total, 2);
  // Without it the row waits for the next batch.
  rig.engine.settings().AddToRunningBatch = 0;
  EXPECT_EQ(rig.engine.scanner().addVideo(fakeSource(dir, "c.avi", "")), AddOutcome::Added);
  EXPECT_EQ(stateOf(rig, 2), Ready);

  ASSERT_TRUE(rig.waitBatch(20000));
  EXPECT_EQ(stateOf(rig, 0), Done);
  EXPECT_EQ(stateOf(rig, 1), Done);  // the batch ended after the row that joined it
  EXPECT_EQ(stateOf(rig, 2), Ready);
  EXPECT_EQ(rig.ui.batchEnds, 1);  // one batch, not two
  EXPECT_EQ(rig.ui.exitRequests, 1);
}

// The arguments a conversion got: the lines the stand-in wrote, without the program name.
std::vector<std::string> loggedArgs(const std::string& path) {
  std::vector<std::string> args = test::readLines(path);
  if (!args.empty() && args.back().empty()) args.pop_back();
  return args;
}

std::string argAfter(const std::vector<std::string>& args, const std::string& option) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == option) return args[i + 1];
  return {};
}

// The line run again without audio options (the encoder refused them) keeps the row's shape; a
// target size goes only to the profiles with quality levels.
TEST(QueueBatch, TheRowsShapeGoesOnEveryLineAndATargetSizeOnlyWhereItCanBeMade) {
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.addReady(fakeSource(dir, "film.avi", "audio_reject=1\nargs=" + (dir / "film.args")));
  rig.addReady(fakeSource(dir, "song.avi", "args=" + (dir / "song.args")));
  ASSERT_EQ(rig.engine.list().setRowSettings({1}, profileValues(9110)), 1);
  applyProfile(rig.engine.settings(), profileIndexById(9000));
  rig.engine.settingsChanged();
  auto shape = std::make_shared<RowShape>();
  shape->trimStart = 1.5;
  shape->targetSizeBytes = 25'000'000;
  ASSERT_EQ(rig.engine.list().setRowShape({0, 1}, shape), 2);
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch());

  std::vector<std::vector<std::string>> runs(1);
  for (const std::string& line : loggedArgs(dir / "film.args")) {
    if (line.empty())
      runs.emplace_back();
    else
      runs.back().push_back(line);
  }
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_NE(std::find(runs[0].begin(), runs[0].end(), "-ab"), runs[0].end());
  for (const auto& run : runs) {
    ASSERT_GE(run.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(run.end() - 5, run.end() - 1),
              (std::vector<std::string>{"-ss", "1.500", "-targetsize", "25000000"}));
  }
  EXPECT_EQ(std::find(runs[1].begin(), runs[1].end(), "-ab"), runs[1].end());
  const std::vector<std::string> song = loggedArgs(dir / "song.args");
  EXPECT_NE(std::find(song.begin(), song.end(), "-ss"), song.end());
  EXPECT_EQ(std::find(song.begin(), song.end(), "-targetsize"), song.end());
}

TEST(QueueBatch, RowsWithTheirOwnProfileGetItsCommandLineAndTheOthersTheBatchs) {
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  const std::string batchSource = fakeSource(dir, "film.avi", "args=" + (dir / "film.args"));
  const std::string ownSource = fakeSource(dir, "song.avi", "args=" + (dir / "song.args"));
  rig.addReady(batchSource);
  rig.addReady(ownSource);
  auto flac = profileValues(9110);
  ASSERT_EQ(rig.engine.list().setRowSettings({1}, flac), 1);
  EXPECT_EQ(rig.engine.list().cellText(1, ColumnName), "song (.flac)");
  EXPECT_EQ(rig.engine.list().rowSettings(1), flac);
  // A change of the main profile reaches only the rows without their own.
  rig.engine.settings().ProfileId = 9010;
  rig.engine.settingsChanged();
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnName), "film (.mp4)");
  EXPECT_EQ(rig.engine.list().cellText(1, ColumnName), "song (.flac)");
  applyProfile(rig.engine.settings(), profileIndexById(9010));
  ConversionSnapshot batchValues;
  takeSnapshot(batchValues, rig.engine.settings());
  // The film's shape goes on its line; black bars are looked for and none found (no picture).
  auto shape = std::make_shared<RowShape>();
  shape->trimStart = 1.5;
  shape->trimEnd = 3;
  shape->audioTracks = std::vector<int>{1};
  shape->cropAuto = true;
  ASSERT_EQ(rig.engine.list().setRowShape({0}, shape), 1);

  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch());
  const struct {
    std::string args;
    ConversionSnapshot values;
    const char* extension;
    std::vector<std::string> shapeArgs;
  } cases[] = {
      {dir / "film.args", batchValues, ".mp4", {"-ss", "1.500", "-to", "3.000", "-atracks", "1"}},
      {dir / "song.args", *flac, ".flac", {}}};
  for (int row = 0; row < 2; ++row) {
    const auto& c = cases[row];
    const std::vector<std::string> got = loggedArgs(c.args);
    ASSERT_FALSE(got.empty()) << c.args;
    const std::string output = got.back();
    EXPECT_EQ(output.substr(output.size() - std::strlen(c.extension)), c.extension);
    ConversionSnapshot values = c.values;
    EncoderCommand expected = buildConversionLine(
        FAKE_ENCODER, rig.engine.list().entries().at(row).sourcePath, output,
        std::stoi(argAfter(got, "-qxind")), argAfter(got, "-qxmap"), values, false);
    expected.argv.erase(expected.argv.begin());
    expected.argv.insert(expected.argv.end() - 1, c.shapeArgs.begin(), c.shapeArgs.end());
    EXPECT_EQ(got, expected.argv) << c.args;
  }
}

// The settings' track rules choose the sound of a row that chose none; a row's own choice and
// a source whose tracks are not known stay as they are.
TEST(QueueBatch, TheSettingsRulesChooseTheTracksOfRowsThatChoseNone) {
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  for (const char* name : {"ruled", "own", "unknown"})
    rig.addReady(fakeSource(dir, std::string(name) + ".avi", "args=" + (dir / name) + ".args"));
  auto details = std::make_shared<SourceDetails>();
  for (const char* language : {"jpn", "eng", "deu"}) {
    AudioStreamDetails a;
    a.index = static_cast<int>(details->audio.size()) + 1;
    a.language = language;
    a.isDefault = details->audio.empty();
    details->audio.push_back(a);
  }
  {
    std::lock_guard<std::mutex> lock(rig.engine.list().lock());
    rig.engine.list().entries().at(0).details = details;
    rig.engine.list().entries().at(1).details = details;
  }
  auto own = std::make_shared<RowShape>();
  own->audioTracks = std::vector<int>{2};
  ASSERT_EQ(rig.engine.list().setRowShape({1}, own), 1);
  TSettings& s = rig.engine.settings();
  s.OnlyPreferredLanguages = 1;
  s.PreferredLanguages = "de, en";
  s.KeepOriginalLanguage = 0;

  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch());
  const std::vector<std::string> ruled = loggedArgs(dir / "ruled.args");
  EXPECT_EQ(argAfter(ruled, "-atracks"), "2,1");
  EXPECT_EQ(argAfter(loggedArgs(dir / "own.args"), "-atracks"), "2");
  const std::vector<std::string> unknown = loggedArgs(dir / "unknown.args");
  ASSERT_FALSE(unknown.empty());
  EXPECT_EQ(std::count(unknown.begin(), unknown.end(), "-atracks"), 0);
}

// CPU time (user + system, in clock ticks) and run state of a process.
struct ProcStat {
  char state = '?';
  long long cpu = -1;
};
ProcStat procStat(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  ProcStat st;
  if (!std::getline(in, line)) return st;
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string f;
  std::vector<std::string> v;
  while (fields >> f) v.push_back(f);
  if (v.size() < 13) return st;
  st.state = v[0][0];
  st.cpu = std::stoll(v[11]) + std::stoll(v[12]);  // fields 14 and 15
  return st;
}

// Serves the main thread until a condition outside the engine (a process's state) holds; it is
// looked at every few milliseconds, since nothing announces it.
bool eventually(EngineRig& rig, const std::function<bool()>& done, int64_t timeoutMs = 20000) {
  for (int64_t waited = 0; waited < timeoutMs; waited += 10)
    if (rig.queue.serveUntil(done, 10)) return true;
  return false;
}

class CountingDesktop : public DesktopSession {
 public:
  void batchStarted() override { ++started; }
  void batchProgress(double) override {}
  void batchEnded(int, int, const std::string&) override { ++ended; }
  void released() override { ++releases; }
  int started = 0, ended = 0, releases = 0;
};

TEST(QueueBatch, PauseStopsTheEncodersProcessGroupAndResumeContinuesIt) {
  TempFolder dir;
  CountingDesktop desktop;
  EngineConfig config;
  config.tickPeriodMs = 20;
  config.desktopSession = &desktop;
  EngineRig rig(FAKE_ENCODER, dir.path(), config);
  BatchRunner& batch = rig.engine.batch();
  rig.addReady(fakeSource(dir, "spin.avi", "spin=1\npids=" + (dir / "pids")));
  ASSERT_TRUE(batch.startBatch());
  ASSERT_TRUE(eventually(rig, [&] { return test::exists(dir / "pids"); }));
  pid_t encoder = 0, child = 0;
  std::istringstream(test::readFile(dir / "pids")) >> encoder >> child;
  ASSERT_GT(encoder, 0);
  ASSERT_GT(child, 0);
  const auto cpu = [&] { return procStat(encoder).cpu + procStat(child).cpu; };
  const auto bothStopped = [&] {
    return procStat(encoder).state == 'T' && procStat(child).state == 'T';
  };

  // Pause All: the encoder and its child stop, the row says so, the computer may sleep, and a
  // row added meanwhile waits although a place is free.
  EXPECT_FALSE(batch.pauseConversion(5, true));
  ASSERT_TRUE(batch.pauseAll(true));
  EXPECT_TRUE(batch.batchPaused());
  ASSERT_TRUE(eventually(rig, bothStopped));
  EXPECT_NE(rig.engine.list().cellText(0, ColumnStatus).find("Paused"), std::string::npos);
  EXPECT_EQ(desktop.releases, 1);
  EXPECT_EQ(rig.engine.scanner().addVideo(fakeSource(dir, "b.avi", "run_ms=50")),
            AddOutcome::Added);
  EXPECT_EQ(stateOf(rig, 1), Pending);

  // Resume All: the waiting row runs, the encoder burns CPU again.
  ASSERT_TRUE(batch.pauseAll(false));
  EXPECT_EQ(desktop.started, 2);  // taken again
  const long long resumedAt = cpu();
  ASSERT_TRUE(eventually(rig, [&] { return stateOf(rig, 1) == Done && cpu() > resumedAt; }));

  // One conversion paused: its CPU time does not grow while another conversion runs through.
  ASSERT_TRUE(batch.pauseConversion(0, true));
  EXPECT_TRUE(batch.isPaused(0));
  EXPECT_FALSE(batch.pauseConversion(0, true));  // already paused
  ASSERT_TRUE(eventually(rig, bothStopped));
  const long long pausedAt = cpu();
  EXPECT_EQ(rig.engine.scanner().addVideo(fakeSource(dir, "c.avi", "run_ms=300")),
            AddOutcome::Added);
  ASSERT_TRUE(rig.queue.serveUntil([&] { return stateOf(rig, 2) == Done; }, 20000));
  EXPECT_EQ(cpu(), pausedAt);
  EXPECT_TRUE(bothStopped());

  // Stop works on a paused conversion: the batch ends and both processes are gone.
  EXPECT_EQ(batch.stopConversion(0, Answer::Yes), StopOutcome::Done);
  ASSERT_TRUE(rig.waitBatch(20000));
  EXPECT_EQ(procStat(encoder).cpu, -1);
  ASSERT_TRUE(eventually(rig, [&] { return procStat(child).cpu == -1; }));
  EXPECT_FALSE(batch.isPaused(0));
}

// The order of rows a..e after the move, each row's listIndex checked.
std::string orderAfter(const std::function<void(VideoListStore&)>& move) {
  TempFolder dir;
  EngineRig rig(dir / "no-encoder", dir.path());
  for (const char* n : {"a", "b", "c", "d", "e"}) rig.addReady(dir / (std::string(n) + ".avi"));
  move(rig.engine.list());
  std::string order;
  for (int i = 0; i < 5; ++i) {
    const VideoEntry& e = rig.engine.list().entries().at(i);
    order += baseNameOf(e.sourcePath);
    EXPECT_EQ(e.listIndex, i);
  }
  return order;
}

TEST(QueueOrder, SelectedRowsMoveAsABlockAndTheBatchStartsThemInTheNewOrder) {
  const struct {
    std::vector<int> rows;
    int delta;
    const char* order;
    std::vector<int> moved;
  } cases[] = {
      {{1, 2}, -1, "bcade", {0, 1}},    // a block moves past its neighbour
      {{0, 2}, -1, "acbde", {0, 1}},    // the first row stays, the other moves
      {{0, 1}, -1, "abcde", {0, 1}},    // blocked at the top
      {{3, 4}, +1, "abcde", {3, 4}},    // blocked at the bottom
      {{1, 3}, +1, "acbed", {2, 4}},    // two rows, each past one
      {{4, 2}, -1, "acbed", {3, 1}},    // new places in the order the rows were given
      {{9, -1}, +1, "abcde", {9, -1}},  // rows outside the list change nothing
  };
  for (const auto& c : cases) {
    std::vector<int> moved;
    EXPECT_EQ(orderAfter([&](VideoListStore& list) { moved = list.moveRows(c.rows, c.delta); }),
              c.order);
    EXPECT_EQ(moved, c.moved) << c.order;
  }

  // A drag drops the rows, in list order, together before a row.
  const struct {
    std::vector<int> rows;
    int before;
    const char* order;
    std::vector<int> moved;
  } drops[] = {
      {{3, 4}, 1, "adebc", {1, 2}},   // a block up
      {{0, 2}, 5, "bdeac", {3, 4}},   // two rows apart to the end
      {{4, 1}, 3, "acbed", {3, 2}},   // around the drop place, in the order given
      {{1, 2}, 2, "abcde", {1, 2}},   // onto itself: nothing moves
      {{2}, 0, "cabde", {0}},         // to the top
      {{9, 1}, 99, "acdeb", {9, 4}},  // a place past the end is the end; a bad row is skipped
  };
  for (const auto& c : drops) {
    std::vector<int> moved;
    EXPECT_EQ(orderAfter([&](VideoListStore& list) { moved = list.moveRowsTo(c.rows, c.before); }),
              c.order);
    EXPECT_EQ(moved, c.moved) << c.order;
  }

  // During a batch the queued rows start in the list's new order.
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.engine.settings().MaxConversions = 1;
  rig.engine.settingsChanged();
  const std::string log = dir / "log";
  rig.addReady(fakeSource(dir, "a.avi", "run_ms=300\nlog=" + log));
  for (const char* n : {"b", "c", "d"})
    rig.addReady(fakeSource(dir, std::string(n) + ".avi", "log=" + log));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.queue.serveUntil([&] { return stateOf(rig, 0) == Converting; }, 10000));
  EXPECT_EQ(rig.engine.list().moveRows({3}, -1), std::vector<int>{2});
  EXPECT_EQ(rig.engine.list().moveRows({2}, -1), std::vector<int>{1});
  EXPECT_EQ(rig.engine.list().moveRowsTo({3}, 2), std::vector<int>{2});
  ASSERT_TRUE(rig.waitBatch());
  std::string started;
  for (const std::string& line : test::readLines(log))
    if (line.rfind("start ", 0) == 0) started += baseNameOf(line.substr(6, line.rfind(' ') - 6));
  EXPECT_EQ(started, "adcb");
}

// Only Ready rows take a shape; an empty one clears it; the Duration cell shows the trimmed length.
TEST(QueueShape, ReadyRowsTakeTheShapeAndShowTheTrimmedLength) {
  TempFolder dir;
  EngineRig rig(dir / "no-encoder", dir.path());
  for (const char* n : {"a", "b", "c"})
    rig.addReady(dir / (std::string(n) + ".avi")).durationSeconds = 3725;
  rig.engine.list().entries().at(2).setState(Done);
  auto trim = std::make_shared<RowShape>();
  trim->trimStart = 65.4;
  trim->trimEnd = 125.6;
  EXPECT_EQ(rig.engine.list().setRowShape({0, 2, 7}, trim), 1);
  EXPECT_EQ(rig.engine.list().rowShape(0), trim);
  EXPECT_FALSE(rig.engine.list().rowShape(2));
  const auto duration = [&](int r) {
    return cellText(rig.engine.list().entries().at(r), ColumnDuration, nullptr);
  };
  EXPECT_EQ(duration(0), durationText(60));
  EXPECT_EQ(duration(1), durationText(3725));

  // A start alone runs to the source's end; an end past it stops there.
  const struct {
    double start, end;
    uint32_t shown;
  } cases[] = {{3600, -1, 125}, {-1, 9999, 3725}, {-1, 10, 10}, {4000, -1, 0}};
  for (const auto& c : cases) {
    auto s = std::make_shared<RowShape>();
    s->trimStart = c.start;
    s->trimEnd = c.end;
    ASSERT_EQ(rig.engine.list().setRowShape({1}, s), 1);
    EXPECT_EQ(duration(1), durationText(c.shown)) << c.start << " " << c.end;
  }
  EXPECT_EQ(rig.engine.list().setRowShape({0, 1}, std::make_shared<RowShape>()), 2);
  EXPECT_FALSE(rig.engine.list().rowShape(0));
  EXPECT_EQ(duration(0), durationText(3725));
}

TEST(BatchProgress, RowsWeighByTheirDurationAndTheCountHasAWord) {
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.addReady(fakeSource(dir, "short.avi", "")).durationSeconds = 10;
  rig.addReady(fakeSource(dir, "long.avi", "run_ms=30000\npercent=50")).durationSeconds = 90;
  ASSERT_TRUE(rig.engine.batch().startBatch());
  // (10 s done + 90 s at 50 %) of 100 s; counting rows alone would say 75 %.
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] {
        rig.engine.batch().refreshRunning();
        return rig.ui.status == "1 / 1  55%" && rig.ui.progressBar == 55;
      },
      10000))
      << rig.ui.status;
  const BatchCounts counts = rig.engine.batch().batchCounts();
  EXPECT_EQ(counts.total, 2);
  EXPECT_EQ(counts.ended, 1);
  EXPECT_EQ(counts.converted, 1);
  EXPECT_EQ(batchCountText(counts.converted, counts.total), "1 of 2 converted");
  rig.engine.batch().stopAll(Answer::Yes);
  ASSERT_TRUE(rig.waitBatch(10000));
}

// --- the kept queue file

QueueRow row(const std::string& source, int16_t state) {
  QueueRow r;
  r.owner = currentQueueOwner();
  r.kind = 1;
  r.profileId = 600;
  r.state = state;
  r.sourcePath = source;
  r.outputName = baseNameOf(source);
  return r;
}

// A process that has ended, as the owner of rows it left.
QueueOwner endedOwner() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return QueueOwner{static_cast<uint32_t>(child), 12345};
}

TEST(QueueFile, EveryStateAndRowSettingRoundTrips) {
  auto shared = profileValues(9010);
  auto tuned = std::make_shared<ConversionSnapshot>(*profileValues(9120));
  tuned->Quality = static_cast<int16_t>(QualityLevel::Small);
  tuned->FrameRate = 23.976f;
  tuned->AudioCodec = "libmp3lame";
  const int16_t states[] = {Ready,     Pending,           Starting,        Converting,
                            Cancelled, CancelledNotFound, ConversionError, NotFound};
  std::vector<QueueRow> rows;
  for (const int16_t state : states) {
    QueueRow r = row("/v/clip " + std::to_string(state) + " \"%s\" -x\xff.avi", state);
    r.outputPath = "/out/" + r.outputName + ".mp4";
    r.sizeBytes = (1ull << 40) + static_cast<uint64_t>(state);
    r.durationSeconds = 3725u + static_cast<uint32_t>(state);
    r.sourceSizeBytes = 77u + static_cast<uint64_t>(state);
    r.reservationDev = state == Converting ? 0x801u : 0;
    r.reservationIno = state == Converting ? 987654321u : 0;
    r.createdOutput = state == Cancelled;
    r.settings =
        state == Ready || state == Pending ? shared : (state == Cancelled ? tuned : nullptr);
    rows.push_back(r);
  }
  rows[1].owner = QueueOwner{4242, 99};
  const std::string bytes = queueBytes(rows);

  std::vector<QueueRow> back;
  ASSERT_EQ(parseQueue(bytes, back), QueueRead::Ok);
  ASSERT_EQ(back.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const QueueRow& a = rows[i];
    const QueueRow& b = back[i];
    EXPECT_TRUE(a.owner == b.owner) << i;
    EXPECT_EQ(std::tie(a.kind, a.profileId, a.state, a.sourcePath, a.outputName, a.outputPath,
                       a.sizeBytes, a.durationSeconds, a.sourceSizeBytes, a.reservationDev,
                       a.reservationIno, a.createdOutput),
              std::tie(b.kind, b.profileId, b.state, b.sourcePath, b.outputName, b.outputPath,
                       b.sizeBytes, b.durationSeconds, b.sourceSizeBytes, b.reservationDev,
                       b.reservationIno, b.createdOutput))
        << i;
    ASSERT_EQ(a.settings == nullptr, b.settings == nullptr) << i;
    if (a.settings) {
      EXPECT_EQ(*a.settings, *b.settings) << i;
    }
  }
  EXPECT_EQ(back[0].settings, back[1].settings);  // rows that shared values still do

  // A file cut inside a row keeps the rows before it; other files are told apart.
  back.clear();
  EXPECT_EQ(parseQueue(bytes.substr(0, bytes.size() - 5), back), QueueRead::Ok);
  EXPECT_EQ(back.size(), rows.size() - 1);
  std::string newer = bytes;
  newer[12] = static_cast<char>(QueueFileVersion + 1);  // the version after the signature
  const struct {
    std::string bytes;
    QueueRead expected;
  } others[] = {{"", QueueRead::Foreign},
                {"VidmoraQueu", QueueRead::Foreign},
                {std::string("VidmoraQueue\0\0\0\0", 16), QueueRead::Foreign},
                {newer, QueueRead::Newer}};
  for (const auto& o : others) {
    back.clear();
    EXPECT_EQ(parseQueue(o.bytes, back), o.expected) << o.bytes.size();
    EXPECT_TRUE(back.empty());
  }
}

// A save that fails while writing (EFBIG under a file size limit) keeps the old file whole and
// leaves no temporary file; a newer program's file is never replaced.
TEST(QueueFile, AFailedSaveKeepsTheOldFile) {
  TempFolder dir;
  const std::string path = dir / "queue.bin";
  ASSERT_TRUE(saveQueue(path, currentQueueOwner(), {row("/v/a.avi", Ready)}));
  const std::string before = test::readFile(path);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(before.size() + 16),
                       static_cast<rlim_t>(before.size() + 16)};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::vector<QueueRow> big;
    for (int i = 0; i < 50; ++i) big.push_back(row("/v/clip" + std::to_string(i) + ".avi", Ready));
    _exit(saveQueue(path, currentQueueOwner(), big) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save reported success";
  EXPECT_EQ(test::readFile(path), before);
  std::vector<std::string> left = dir.entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"queue.bin", "queue.bin.lock"}));

  std::string newer = before;
  newer[12] = static_cast<char>(QueueFileVersion + 1);
  test::writeFile(path, newer);
  EXPECT_FALSE(saveQueue(path, currentQueueOwner(), QueueRows{}));
  EXPECT_EQ(test::readFile(path), newer);
}

// The bytes of a file of version 1 (before rows had shapes) holding rows without settings.
std::string versionOneFile(const std::vector<QueueRow>& rows) {
  std::string file = queueBytes({});
  file[12] = 1;
  file[16] = static_cast<char>(rows.size());
  for (const QueueRow& r : rows) {
    const std::string one = queueBytes({r});
    file += one.substr(20, one.size() - 20 - 1);  // past the header, without the shape flag
  }
  return file;
}

TEST(QueueFile, RowShapesRoundTripAndVersionOneFilesStillLoad) {
  RowShape full;
  full.trimStart = 12.345;
  full.trimEnd = 3600.5;
  full.cropAuto = true;
  full.crop = CropRect{140, 138, 0, 2};
  full.audioTracks = std::vector<int>{2, 0};
  full.subtitleTracks = std::vector<int>{};  // none kept, unlike "the rules choose"
  full.burnSubtitles = true;
  full.targetSizeBytes = 25ull << 20;
  RowShape endOnly;
  endOnly.trimEnd = 0.04;
  RowShape subtitles;
  subtitles.subtitleTracks = std::vector<int>{1};
  std::vector<QueueRow> rows;
  for (const RowShape* s : {&full, &endOnly, &subtitles, static_cast<RowShape*>(nullptr)}) {
    rows.push_back(row("/v/" + std::to_string(rows.size()) + ".mkv", Ready));
    if (s) rows.back().shape = std::make_shared<const RowShape>(*s);
  }
  rows[0].settings = profileValues(9010);
  std::vector<QueueRow> back;
  ASSERT_EQ(parseQueue(queueBytes(rows), back), QueueRead::Ok);
  ASSERT_EQ(back.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].shape == nullptr, back[i].shape == nullptr) << i;
    if (rows[i].shape) {
      EXPECT_EQ(*rows[i].shape, *back[i].shape) << i;
    }
  }
  ASSERT_TRUE(back[0].settings);
  EXPECT_EQ(*back[0].settings, *rows[0].settings);

  // A file of version 1 still loads; a save over it keeps the other run's rows, in the new layout.
  TempFolder dir;
  const std::string path = dir / "queue.bin";
  QueueRow a = row("/v/old a.avi", Ready), b = row("/v/old b.avi", Cancelled);
  a.owner = b.owner = QueueOwner{4242, 99};
  test::writeFile(path, versionOneFile({a, b}));
  back.clear();
  ASSERT_EQ(readQueueFile(path, back), QueueRead::Ok);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].sourcePath, "/v/old b.avi");
  EXPECT_EQ(back[1].state, Cancelled);
  EXPECT_FALSE(back[1].shape);
  ASSERT_TRUE(saveQueue(path, currentQueueOwner(), {rows[0]}));
  back.clear();
  ASSERT_EQ(readQueueFile(path, back), QueueRead::Ok);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].sourcePath, "/v/old a.avi");
  EXPECT_EQ(back[1].sourcePath, "/v/old b.avi");
  EXPECT_TRUE(back[1].owner == a.owner);
  ASSERT_TRUE(back[2].shape);
  EXPECT_EQ(*back[2].shape, full);

  // Taking over an ended run's rows from a version 1 file leaves a file that reads back whole.
  const QueueOwner ended = endedOwner();
  a.owner = b.owner = ended;
  test::writeFile(path, versionOneFile({a, b}));
  std::vector<QueueRow> taken;
  ASSERT_EQ(takeOverQueue(path, currentQueueOwner(), taken), QueueRead::Ok);
  ASSERT_EQ(taken.size(), 2u);
  back.clear();
  ASSERT_EQ(readQueueFile(path, back), QueueRead::Ok);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].sourcePath, "/v/old b.avi");
  EXPECT_TRUE(back[1].owner == currentQueueOwner());
}

// Programs saving at the same time keep each other's rows: every writer's last rows are there.
TEST(QueueFile, ConcurrentWritersKeepEachOthersRows) {
  TempFolder dir;
  const std::string path = dir / "queue.bin";
  constexpr int Writers = 4, Saves = 25;
  std::vector<pid_t> children;
  for (int w = 0; w < Writers; ++w) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool ok = true;
      for (int n = 1; n <= Saves; ++n) {
        std::vector<QueueRow> mine;
        for (int i = 0; i < n % 3 + 1; ++i)
          mine.push_back(row("/w" + std::to_string(w) + "/save" + std::to_string(n) + "-" +
                                 std::to_string(i) + ".avi",
                             Ready));
        ok = saveQueue(path, currentQueueOwner(), mine) && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<QueueRow> rows;
  ASSERT_EQ(readQueueFile(path, rows), QueueRead::Ok);
  std::vector<std::string> sources;
  for (const QueueRow& r : rows) sources.push_back(r.sourcePath);
  std::sort(sources.begin(), sources.end());
  std::vector<std::string> expected;
  for (int w = 0; w < Writers; ++w)
    for (int i = 0; i < Saves % 3 + 1; ++i)
      expected.push_back("/w" + std::to_string(w) + "/save" + std::to_string(Saves) + "-" +
                         std::to_string(i) + ".avi");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sources, expected);
}

// A start after a crash: the rows of the ended run come back in order, waiting and converting
// ones Ready, with their own settings; the converting row's empty reservation and the encoder's
// temporary file go, another program's file of the same name stays; a living program's rows
// stay its own.
TEST(QueueKeeper, AStartTakesOverTheRowsOfAnEndedRunAndRemovesOnlyWhatItsConversionMade) {
  TempFolder dir;
  ::mkdir((dir / "out").c_str(), 0700);
  const std::string ours = dir / "out/ours.mp4";
  const std::string theirs = dir / "out/theirs.mp4";
  test::writeFile(ours, "");
  test::writeFile(theirs, "");  // empty too, but not the file the conversion reserved
  struct stat st {};
  ASSERT_EQ(::stat(ours.c_str(), &st), 0);
  const QueueOwner ended = endedOwner();
  const std::string part =
      dir / ("out/.ours.mp4." + std::to_string(ended.pid) + ".abcdef.vidmora-part");
  test::writeFile(part, "half a video");

  auto values = profileValues(9110);
  std::vector<QueueRow> rows = {
      row("/v/ready.avi", Ready),       row("/v/pending.avi", Pending),
      row("/v/ours.avi", Converting),   row("/v/theirs.avi", Starting),
      row("/v/stopped.avi", Cancelled), row("/v/failed.avi", ConversionError),
      row("/v/living.avi", Ready)};
  for (QueueRow& r : rows) r.owner = ended;
  rows[0].settings = values;
  rows[2].outputPath = ours;
  rows[2].reservationDev = st.st_dev;
  rows[2].reservationIno = st.st_ino;
  rows[3].outputPath = theirs;
  rows[3].reservationDev = st.st_dev;
  rows[3].reservationIno = st.st_ino;  // the reservation named another file
  rows[6].owner = queueOwnerOf(static_cast<uint32_t>(getppid()));  // lives
  const std::string path = dir / "queue.bin";
  test::writeFile(path, queueBytes(rows));

  EngineConfig config;
  config.queuePath = path;
  EngineRig rig(dir / "no-encoder", dir / "out", config);
  EXPECT_EQ(rig.engine.loadQueue(), 6);
  const struct {
    const char* source;
    int16_t state;
  } expected[] = {{"/v/ready.avi", Ready},       {"/v/pending.avi", Ready},
                  {"/v/ours.avi", Ready},        {"/v/theirs.avi", Ready},
                  {"/v/stopped.avi", Cancelled}, {"/v/failed.avi", ConversionError}};
  ASSERT_EQ(rig.engine.list().entries().count(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(rig.engine.list().entries().at(i).sourcePath, expected[i].source);
    EXPECT_EQ(stateOf(rig, i), expected[i].state) << expected[i].source;
  }
  ASSERT_TRUE(rig.engine.list().entries().at(0).ownSettings);
  EXPECT_EQ(*rig.engine.list().entries().at(0).ownSettings, *values);
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnName), "ready (.flac)");
  EXPECT_FALSE(test::exists(ours));
  EXPECT_FALSE(test::exists(part));
  EXPECT_TRUE(test::exists(theirs));

  // The file now names this run as the owner of what it took, the living one's row untouched.
  std::vector<QueueRow> after;
  ASSERT_EQ(readQueueFile(path, after), QueueRead::Ok);
  ASSERT_EQ(after.size(), rows.size());
  for (const QueueRow& r : after) {
    const bool living = r.sourcePath == "/v/living.avi";
    EXPECT_TRUE(r.owner == (living ? rows[6].owner : currentQueueOwner())) << r.sourcePath;
  }
}

// While a batch runs the file holds the converting row with its reservation; at exit the rows
// that were stopped by the exit are kept Ready, Done rows leave, and a later start gets them back.
TEST(QueueKeeper, TheFileFollowsTheBatchAndTheExitKeepsStoppedRowsReady) {
  TempFolder dir;
  const std::string path = dir / "state/queue.bin";
  EngineConfig config;
  config.queuePath = path;
  config.tickPeriodMs = 20;
  auto values = profileValues(9120);
  {
    EngineRig rig(FAKE_ENCODER, dir.path(), config);
    rig.engine.settings().MaxConversions = 1;
    rig.engine.settingsChanged();
    rig.addReady(fakeSource(dir, "done.avi", "")).setState(Done);
    rig.addReady(fakeSource(dir, "running.avi", "run_ms=60000"));
    rig.addReady(fakeSource(dir, "waiting.avi", ""));
    VideoEntry& stopped = rig.addReady(fakeSource(dir, "stopped.avi", ""));
    stopped.setState(Cancelled);
    ASSERT_EQ(rig.engine.list().setRowSettings({3}, values), 1);
    ASSERT_TRUE(rig.engine.batch().startBatch());
    // The conversion's reservation reaches the file before its encoder starts.
    std::vector<QueueRow> during;
    ASSERT_TRUE(rig.queue.serveUntil(
        [&] {
          during.clear();
          return readQueueFile(path, during) == QueueRead::Ok && !during.empty() &&
                 during[0].reservationIno != 0;
        },
        10000));
    ASSERT_EQ(during.size(), 3u);
    EXPECT_EQ(during[0].sourcePath, dir / "running.avi");
    EXPECT_TRUE(during[0].state == Starting || during[0].state == Converting);
    EXPECT_NE(during[0].reservationIno, 0u);
    EXPECT_EQ(during[1].state, Pending);

    rig.engine.exitTidyUp();
    std::vector<QueueRow> kept;
    ASSERT_EQ(readQueueFile(path, kept), QueueRead::Ok);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].state, Ready);
    EXPECT_EQ(kept[0].reservationIno, 0u);
    EXPECT_EQ(kept[1].state, Ready);
    EXPECT_EQ(kept[2].state, Cancelled);
    ASSERT_TRUE(kept[2].settings);
    EXPECT_EQ(*kept[2].settings, *values);
  }
  EngineRig again(FAKE_ENCODER, dir.path(), config);
  EXPECT_EQ(again.engine.loadQueue(), 3);
  EXPECT_EQ(again.engine.list().entries().at(0).sourcePath, dir / "running.avi");
  EXPECT_EQ(stateOf(again, 0), Ready);
  EXPECT_FALSE(test::exists(dir / "running.3gp"));  // no reservation left behind

  // "Save History" off: the queue is left alone.
  again.engine.settings().SaveHistory = 0;
  again.engine.settingsChanged();
  const std::string before = test::readFile(path);
  again.engine.list().removeEntry(0);
  EXPECT_FALSE(again.engine.queueKeeper().saveNow());
  EXPECT_EQ(test::readFile(path), before);
}

}  // namespace
}  // namespace vidmora
