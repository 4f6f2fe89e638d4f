// The batch scheduler and the worker with the stand-in encoder: limits, order, stops, the end of
// a batch, failures the real encoder cannot produce on demand.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/output_path.h"
#include "engine_fixture.h"
#include "platform/texts.h"
#include "videolist/history_file.h"
#include "videolist/list_texts.h"

namespace vidmora {
namespace {

using test::EngineRig;
using test::TempDir;

// A source file for the stand-in encoder; its lines say what the encoder does.
std::string fakeSource(const TempDir& dir, const std::string& name, const std::string& script) {
  const std::string path = dir / name;
  test::writeFile(path, script);
  return path;
}

struct LogEvent {
  std::string what, output;
  long long us;
};

std::vector<LogEvent> readLog(const std::string& path) {
  std::vector<LogEvent> out;
  for (const std::string& line : test::readLines(path)) {
    const auto a = line.find(' ');
    const auto b = line.rfind(' ');
    out.push_back(
        {line.substr(0, a), line.substr(a + 1, b - a - 1), std::stoll(line.substr(b + 1))});
  }
  return out;
}

TEST(Scheduler, AtMostMaxConversionsRunAndTheyStartInListOrder) {
  TempDir dir;
  const std::string log = dir / "log.txt";
  EngineRig rig(FAKE_ENCODER, dir.path());
  for (int i = 0; i < 5; ++i) {
    rig.addReady(fakeSource(dir, "v" + std::to_string(i) + ".avi",
                            "run_ms=" + std::to_string(100 + 60 * i) +
                                "\nbytes=" + std::to_string(100 + i) + "\nlog=" + log + "\n"));
  }
  int maxPast = 0;
  rig.ui.onRepaint = [&](int) {
    int past = 0;
    bool pendingSeen = false;
    for (int i = 0; i < rig.engine.list().count(); ++i) {
      const int16_t s = rig.engine.list().at(i).stateValue();
      past += s == Starting || s == Converting;
      // Entries leave Pending in list order: nothing behind a Pending entry has started.
      if (s == Pending)
        pendingSeen = true;
      else
        EXPECT_FALSE(pendingSeen) << "entry " << i << " started before an earlier one";
    }
    maxPast = std::max(maxPast, past);
    EXPECT_LE(rig.engine.runningCount(), 2);
  };
  ASSERT_TRUE(rig.engine.startBatch());
  EXPECT_TRUE(rig.engine.conversionMode());
  EXPECT_EQ(rig.engine.activeCount(), 5);
  EXPECT_EQ(rig.ui.settingsCaptions,
            (std::vector<std::string>{texts::fillText(texts::BatchCaption, 5)}));
  ASSERT_TRUE(rig.waitBatch());
  EXPECT_LE(maxPast, 2);
  EXPECT_EQ(maxPast, 2);

  // The encoder's own log: start order and overlap.
  const std::vector<LogEvent> events = readLog(log);
  std::vector<std::string> starts;
  int running = 0, maxRunning = 0;
  for (const LogEvent& e : events) {
    if (e.what == "start")
      starts.push_back(e.output), maxRunning = std::max(maxRunning, ++running);
    else
      --running;
  }
  ASSERT_EQ(starts.size(), 5u);
  // Two encoders start side by side; the later ones start as places free up, staggered by the
  // different run times.
  std::sort(starts.begin(), starts.begin() + 2);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(starts[i], dir / ("v" + std::to_string(i) + ".3gp"));
  EXPECT_LE(maxRunning, 2);

  for (int i = 0; i < 5; ++i) {
    const VideoEntry& e = rig.engine.list().at(i);
    EXPECT_EQ(e.stateValue(), Done);
    EXPECT_EQ(e.sizeBytes, 100u + i);
    EXPECT_EQ(rig.engine.cellText(i, ColumnStatus),
              "OK     (" + std::to_string(100 + i) + " Bytes)");
  }
  EXPECT_EQ(rig.engine.batchFinished(), 5);
  EXPECT_EQ(rig.ui.leaveDisplays, 1);
  EXPECT_TRUE(rig.ui.lastLeaveFullBar);
  EXPECT_FALSE(rig.ui.batchControls);
  EXPECT_EQ(rig.ui.status, texts::fillText(texts::EntryCount, 5));
  EXPECT_EQ(rig.ui.closeRequests, 0);
  EXPECT_TRUE(rig.engine.listModified());
}

TEST(Scheduler, DecliningTheDialogOrTheShutdownQuestionStartsNothing) {
  TempDir dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.addReady(fakeSource(dir, "a.avi", ""));
  rig.ui.settingsAnswer = false;
  EXPECT_TRUE(rig.engine.startBatch());
  EXPECT_FALSE(rig.engine.conversionMode());
  EXPECT_EQ(rig.engine.list().at(0).stateValue(), Ready);

  rig.engine.settings().ShutdownAfter = 1;
  rig.ui.answers = {false};
  EXPECT_FALSE(rig.engine.startBatch());
  EXPECT_EQ(rig.ui.questions.back(), texts::ShutdownQuestion);
  EXPECT_EQ(rig.ui.settingsCaptions.size(), 1u);  // the dialog was not opened again
  EXPECT_EQ(rig.engine.list().at(0).stateValue(), Ready);
}

TEST(Scheduler, StopOnAPendingEntryCancelsItWithoutAnEncoderRun) {
  TempDir dir;
  const std::string log = dir / "log.txt";
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.engine.settings().MaxConversions = 1;
  for (int i = 0; i < 3; ++i)
    rig.addReady(fakeSource(dir, "v" + std::to_string(i) + ".avi", "run_ms=300\nlog=" + log));
  ASSERT_TRUE(rig.engine.startBatch());
  rig.ui.focused = 1;
  ASSERT_EQ(rig.engine.list().at(1).stateValue(), Pending);
  rig.engine.stopConversion();
  EXPECT_EQ(rig.ui.questions.back(), texts::StopOneQuestion);
  EXPECT_EQ(rig.engine.list().at(1).stateValue(), Cancelled);  // at once
  EXPECT_EQ(rig.engine.activeCount(), 2);
  ASSERT_TRUE(rig.waitBatch());
  EXPECT_EQ(rig.engine.list().at(0).stateValue(), Done);
  EXPECT_EQ(rig.engine.list().at(1).stateValue(), Cancelled);
  EXPECT_EQ(rig.engine.list().at(2).stateValue(), Done);
  for (const LogEvent& e : readLog(log)) EXPECT_NE(e.output, dir / "v1.3gp");
  EXPECT_TRUE(rig.engine.list().at(1).outputPath.empty());
}

TEST(Scheduler, StopOnARunningEntryCancelsItAndKeepsThePartialFile) {
  TempDir dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.addReady(fakeSource(dir, "long.avi", "run_ms=20000\nbytes=77"));
  ASSERT_TRUE(rig.engine.startBatch());
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] { return rig.engine.list().at(0).stateValue() == Converting; }, 10000));
  rig.ui.focused = 0;
  rig.engine.stopConversion();
  EXPECT_EQ(rig.engine.list().at(0).stateValue(), Cancelled);
  ASSERT_TRUE(rig.waitBatch(10000));  // the encoder saw its stop byte
  const VideoEntry& e = rig.engine.list().at(0);
  EXPECT_EQ(e.stateValue(), Cancelled);
  EXPECT_EQ(e.outputPath, dir / "long.3gp");
  EXPECT_EQ(test::readFile(e.outputPath).size(), 77u);
}

TEST(Scheduler, StopAllAnsweredCancelChangesNothingButSuppressesTheExit) {
  TempDir dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.engine.settings().ExitAfter = 1;
  rig.addReady(fakeSource(dir, "a.avi", "run_ms=300"));
  rig.addReady(fakeSource(dir, "b.avi", "run_ms=300"));
  ASSERT_TRUE(rig.engine.startBatch());
  rig.ui.answers = {false};
  rig.engine.stopAll();
  EXPECT_EQ(rig.ui.questions.back(), texts::StopAllQuestion);
  EXPECT_TRUE(rig.engine.stopAllMark());
  ASSERT_TRUE(rig.waitBatch());
  EXPECT_EQ(rig.engine.list().at(0).stateValue(), Done);
  EXPECT_EQ(rig.engine.list().at(1).stateValue(), Done);
  EXPECT_EQ(rig.ui.closeRequests, 0);
  EXPECT_FALSE(rig.ui.lastLeaveFullBar);
  EXPECT_FALSE(rig.engine.shutdownPending());
}

TEST(Scheduler, StopAllAnsweredOkCancelsEverything) {
  TempDir dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.engine.settings().ShutdownAfter = 1;
  for (int i = 0; i < 4; ++i)
    rig.addReady(fakeSource(dir, "v" + std::to_string(i) + ".avi", "run_ms=20000"));
  ASSERT_TRUE(rig.engine.startBatch());
  ASSERT_TRUE(rig.queue.serveUntil([&] { return rig.engine.runningCount() == 2; }, 10000));
  rig.engine.stopAll();
  ASSERT_TRUE(rig.waitBatch(10000));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.engine.list().at(i).stateValue(), Cancelled) << i;
  EXPECT_FALSE(rig.engine.shutdownPending());
  EXPECT_EQ(rig.ui.closeRequests, 0);
}

TEST(Scheduler, TheEndOfABatchClosesTheWindowOrAsksForTheShutdown) {
  for (const bool shutdown : {false, true}) {
    TempDir dir;
    EngineRig rig(FAKE_ENCODER, dir.path());
    (shutdown ? rig.engine.settings().ShutdownAfter : rig.engine.settings().ExitAfter) = 1;
    rig.addReady(fakeSource(dir, "a.avi", "run_ms=50"));
    rig.addReady(fakeSource(dir, "b.avi", "run_ms=200"));
    ASSERT_TRUE(rig.engine.startBatch());
    ASSERT_TRUE(
        rig.queue.serveUntil([&] { return rig.engine.list().at(0).stateValue() == Done; }, 10000));
    EXPECT_EQ(rig.ui.closeRequests, 0);  // not before the last worker
    ASSERT_TRUE(rig.waitBatch());
    EXPECT_EQ(rig.ui.closeRequests, 1);
    EXPECT_EQ(rig.engine.shutdownPending(), shutdown);
  }
}

TEST(Scheduler, FinalStatesOfTheEncodersResults) {
  TempDir dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  const std::string log = dir / "log.txt";
  struct Case {
    const char* name;
    std::string script;
    int16_t state;
    bool fileKept;
  } cases[] = {
      {"ok.avi", "bytes=10", Done, true},
      {"empty.avi", "bytes=0", ConversionError, false},
      {"failed.avi", "exit=1\nbytes=10", ConversionError, false},
      {"audio.avi", "audio_reject=1\nbytes=10\nlog=" + log, Done, true},
  };
  for (const Case& c : cases) rig.addReady(fakeSource(dir, c.name, c.script));
  ASSERT_TRUE(rig.engine.startBatch());
  ASSERT_TRUE(rig.waitBatch());
  for (int i = 0; i < 4; ++i) {
    const VideoEntry& e = rig.engine.list().at(i);
    EXPECT_EQ(e.stateValue(), cases[i].state) << cases[i].name;
    EXPECT_EQ(test::exists(e.outputPath), cases[i].fileKept) << cases[i].name;
  }
  // The refused audio options cost one more run; the second one succeeded.
  int starts = 0;
  for (const LogEvent& e : readLog(log)) starts += e.what == "start";
  EXPECT_EQ(starts, 2);
}

TEST(Scheduler, MissingEncoderFailsAtOnceAndTouchesNoFile) {
  TempDir dir;
  EngineRig rig(dir / "no-such-encoder", dir.path());
  test::writeFile(dir / "clip.3gp", "precious");
  rig.addReady(dir / "clip.avi");
  ASSERT_TRUE(rig.engine.startBatch());
  ASSERT_TRUE(rig.waitBatch(5000));
  const VideoEntry& e = rig.engine.list().at(0);
  EXPECT_EQ(e.stateValue(), ConversionError);
  EXPECT_EQ(e.outputPath, dir / "clip(1).3gp");
  EXPECT_EQ(test::readFile(dir / "clip.3gp"), "precious");
  EXPECT_FALSE(test::exists(dir / "clip(1).3gp"));
}

TEST(Scheduler, AnEncoderThatIgnoresTheStopIsKilled) {
  TempDir dir;
  EngineConfig config;
  config.tickPeriodMs = 50;
  config.stopGraceMs = 300;
  EngineRig rig(FAKE_ENCODER, dir.path(), config);
  rig.addReady(fakeSource(dir, "hung.avi", "hang=1\nbytes=5"));
  ASSERT_TRUE(rig.engine.startBatch());
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] { return rig.engine.list().at(0).stateValue() == Converting; }, 10000));
  rig.ui.focused = 0;
  rig.engine.stopConversion();
  ASSERT_TRUE(rig.waitBatch(10000));
  const VideoEntry& e = rig.engine.list().at(0);
  EXPECT_EQ(e.stateValue(), ConversionError);  // killed: a failed run, its file removed
  EXPECT_FALSE(test::exists(e.outputPath));
}

TEST(Scheduler, NoWorkerThreadMeansConversionErrorNotPending) {
  TempDir dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.engine.setThreadStartHook([] { return false; });
  rig.addReady(fakeSource(dir, "a.avi", ""));
  rig.addReady(fakeSource(dir, "b.avi", ""));
  ASSERT_TRUE(rig.engine.startBatch());
  EXPECT_FALSE(rig.engine.conversionMode());
  EXPECT_EQ(rig.engine.activeCount(), 0);
  EXPECT_EQ(rig.engine.list().at(0).stateValue(), ConversionError);
  EXPECT_EQ(rig.engine.list().at(1).stateValue(), ConversionError);
}

TEST(Scheduler, RequeueOfferedWhenOnlyCancelledEntriesRemain) {
  TempDir dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.addReady(fakeSource(dir, "a.avi", "")).setState(Cancelled);
  rig.addReady(fakeSource(dir, "b.avi", "")).setState(Done);
  rig.ui.answers = {false};
  bool addRan = false;
  rig.ui.addCommand = [&] { return addRan = true; };
  rig.engine.convertCommand();
  EXPECT_EQ(rig.ui.questions.back(), texts::RequeueQuestion);
  EXPECT_TRUE(addRan);
  EXPECT_FALSE(rig.engine.conversionMode());
  rig.engine.convertCommand();  // now OK
  ASSERT_TRUE(rig.waitBatch());
  EXPECT_EQ(rig.engine.list().at(0).stateValue(), Done);
}

TEST(Scheduler, OutputNamesAreUniqueAcrossTheListAndTheDisk) {
  TempDir dir;
  VideoList list;
  EXPECT_EQ(makeOutputPath(dir.path(), "clip", 600, list).path, dir / "clip.3gp");
  auto converting = std::make_unique<VideoEntry>("/v/clip.avi");
  converting->setState(Converting);
  converting->outputPath = dir / "CLIP.3gp";  // claims regardless of case
  list.append(std::move(converting));
  auto failed = std::make_unique<VideoEntry>("/v/clip.avi");
  failed->setState(ConversionError);
  failed->outputPath = dir / "clip(1).3gp";  // failed entries claim nothing
  list.append(std::move(failed));
  const OutputPath p = makeOutputPath(dir.path() + "/", "clip", 600, list);
  EXPECT_EQ(p.path, dir / "clip(1).3gp");
  EXPECT_EQ(p.counter, 1);
  test::writeFile(dir / "clip(1).3gp", "x");
  EXPECT_EQ(makeOutputPath(dir.path(), "clip", 600, list).path, dir / "clip(2).3gp");
}

TEST(Scheduler, ExitTidyUpKeepsOnlyDoneEntriesAndTheirFiles) {
  TempDir dir;
  EngineConfig config;
  config.historyPath = dir / "history.bin";
  config.tickPeriodMs = 50;
  {
    EngineRig rig(FAKE_ENCODER, dir.path(), config);
    rig.addReady(fakeSource(dir, "ok.avi", "bytes=10"));
    rig.addReady(fakeSource(dir, "bad.avi", "exit=2"));
    rig.addReady(fakeSource(dir, "long.avi", "run_ms=20000\nbytes=3"));
    // From an earlier run: a cancelled entry with its partial file, and a failed one that
    // names the file the successful conversion is about to write.
    VideoEntry& old = rig.addReady(dir / "old.avi");
    old.setState(Cancelled);
    old.outputPath = dir / "old.3gp";
    test::writeFile(old.outputPath, "partial");
    VideoEntry& failed = rig.addReady(dir / "ok.avi");
    failed.setState(ConversionError);
    failed.outputPath = dir / "ok.3gp";
    ASSERT_TRUE(rig.engine.startBatch());
    ASSERT_TRUE(rig.queue.serveUntil(
        [&] {
          return rig.engine.list().at(2).stateValue() == Converting &&
                 rig.engine.list().at(0).stateValue() == Done;
        },
        10000));
    ASSERT_EQ(rig.engine.list().at(0).outputPath, dir / "ok.3gp");
    rig.engine.exitTidyUp();  // stops "long", waits for it, removes everything but "ok"
    EXPECT_EQ(rig.engine.list().count(), 0);
    EXPECT_TRUE(rig.engine.shuttingDown());
    EXPECT_EQ(test::readFile(dir / "ok.3gp"), std::string(10, 'x'));
    EXPECT_FALSE(test::exists(dir / "long.3gp"));  // partial output of a stopped run
    EXPECT_FALSE(test::exists(dir / "old.3gp"));
  }
  VideoList saved;
  ASSERT_TRUE(loadHistory(saved, dir / "history.bin"));
  ASSERT_EQ(saved.count(), 1);
  EXPECT_EQ(saved.at(0).sourcePath, dir / "ok.avi");
  EXPECT_EQ(saved.at(0).stateValue(), Done);
}

}  // namespace
}  // namespace vidmora
