// The scheduler and the worker where the real encoder cannot show the case: no encoder at all,
// no worker thread, an empty output, an encoder that ignores the stop byte, a conversion that
// is still running when the program exits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include <algorithm>

#include "engine/list_texts.h"
#include "engine/output_path.h"
#include "engine_fixture.h"
#include "platform/texts.h"
#include "videolist/history_file.h"

namespace vidmora {
namespace {

using test::EngineRig;
using test::TempFolder;

using test::fakeSource;

TEST(Scheduler, APlanNamesTheReadyEntriesAndTheShutdownQuestionAndChangesNothing) {
  TempFolder dir;
  EngineRig rig(dir / "no-encoder", dir.path());
  EXPECT_EQ(rig.engine.batch().planBatch().ready, 0);
  EXPECT_FALSE(rig.engine.batch().startBatch());  // nothing Ready: nothing starts
  rig.addReady(dir / "a.avi");
  rig.addReady(dir / "b.avi").setState(Cancelled);
  BatchPlan plan = rig.engine.batch().planBatch();
  EXPECT_EQ(plan.ready, 1);
  EXPECT_FALSE(plan.asksShutdown);
  rig.engine.settings().ShutdownAfter = 1;
  plan = rig.engine.batch().planBatch();
  EXPECT_TRUE(plan.asksShutdown);
  EXPECT_FALSE(rig.engine.list().offersRequeue());  // something is Ready
  EXPECT_FALSE(rig.engine.batch().conversionMode());
  EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), Ready);
}

TEST(Scheduler, StopOutcomesAskFirstAndADeclinedStopAllStillSuppressesTheExit) {
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.engine.settings().MaxConversions = 1;
  rig.engine.settings().ExitAfter = 1;
  EXPECT_EQ(rig.engine.batch().stopAll(), StopOutcome::Nothing);  // nothing runs
  rig.addReady(fakeSource(dir, "a.avi", "run_ms=30000"));
  rig.addReady(fakeSource(dir, "b.avi", "run_ms=30000"));
  EXPECT_EQ(rig.engine.batch().stopConversion(0), StopOutcome::Nothing);  // Ready: nothing to stop
  ASSERT_TRUE(rig.engine.batch().startBatch());
  EXPECT_FALSE(rig.engine.batch().startBatch());  // one batch at a time
  EXPECT_EQ(rig.engine.batch().planBatch().ready, 0);

  EXPECT_EQ(rig.engine.batch().stopConversion(1), StopOutcome::NeedsConfirmation);
  EXPECT_EQ(rig.engine.batch().stopConversion(1, Answer::No), StopOutcome::Nothing);
  EXPECT_EQ(rig.engine.batch().stopConversion(7, Answer::Yes), StopOutcome::Nothing);
  EXPECT_EQ(rig.engine.list().entries().at(1).stateValue(), Pending);
  EXPECT_EQ(rig.engine.batch().stopAll(), StopOutcome::NeedsConfirmation);
  EXPECT_FALSE(rig.engine.batch().stopAllMark());  // asking changed nothing

  EXPECT_EQ(rig.engine.batch().stopConversion(1, Answer::Yes), StopOutcome::Done);
  EXPECT_EQ(rig.engine.list().entries().at(1).stateValue(), Cancelled);
  EXPECT_EQ(rig.engine.batch().stopAll(Answer::No), StopOutcome::Done);
  EXPECT_TRUE(rig.engine.batch().stopAllMark());
  EXPECT_TRUE(
      isUnfinished(rig.engine.list().entries().at(0).stateValue()));  // declined: still running
  EXPECT_EQ(rig.engine.batch().stopConversion(0, Answer::Yes), StopOutcome::Done);
  ASSERT_TRUE(rig.waitBatch(10000));
  EXPECT_EQ(rig.ui.exitRequests, 0);

  // Nothing Ready, something cancelled: Convert offers to queue it again.
  EXPECT_TRUE(rig.engine.list().offersRequeue());
  rig.engine.list().requeueCancelled();
  EXPECT_EQ(rig.engine.list().entries().at(1).stateValue(), Ready);
  EXPECT_GE(rig.engine.batch().planBatch().ready, 1);
}

TEST(Scheduler, WorkersFinishTheirConversionsWhileTheMainThreadServesNothing) {
  TempFolder dir;
  EngineConfig config;
  config.tickPeriodMs = 20;
  EngineRig rig(FAKE_ENCODER, dir.path(), config);
  for (const char* name : {"a.avi", "b.avi", "c.avi"})
    rig.addReady(fakeSource(dir, name, "run_ms=200\nbytes=5"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  // A busy main thread (a modal dialog, a long repaint) must not hold the conversions up.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (rig.engine.batch().activeCount() > 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(rig.engine.batch().activeCount(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.engine.list().entries().at(i).stateValue(), Done);
  EXPECT_TRUE(rig.engine.batch().conversionMode());  // the end of the batch is the main thread's
  ASSERT_TRUE(rig.waitBatch(5000));
  EXPECT_EQ(rig.ui.batchEnds, 1);
}

TEST(Scheduler, AScanRunsOffTheMainThreadAndAppendsInOrderAsProbesEnd) {
  TempFolder dir;
  EngineConfig config;
  config.probeLimitMs = 5000;  // room for a slow machine; the hanging probe holds on to it
  EngineRig rig(FAKE_ENCODER, dir.path(), config);
  ::mkdir((dir / "in").c_str(), 0700);
  fakeSource(dir, "in/a.avi", "duration=1");
  fakeSource(dir, "in/b.avi", "probe_hang=1");    // killed at the probe limit: fails, not added
  fakeSource(dir, "in/c.avi", "probe_exit=-20");  // not a video
  fakeSource(dir, "in/d.avi", "duration=4");
  std::vector<Refusal> refused;
  bool ended = false;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(rig.engine.scanner().scanPaths({dir / "in"}, [&](std::vector<Refusal> r) {
    refused = std::move(r);
    ended = true;
  }));
  // scanPaths returned at once: the hanging probe holds up only the scan.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_TRUE(rig.engine.scanner().scanning());
  EXPECT_FALSE(rig.engine.scanner().scanPaths({dir / "in"}, {}));  // one scan at a time
  EXPECT_FALSE(rig.engine.batch().startBatch());                   // and no batch meanwhile
  // The first entry arrives while the scan still waits for the hanging probe.
  ASSERT_TRUE(
      rig.queue.serveUntil([&] { return rig.engine.list().entries().count() == 1; }, 10000));
  EXPECT_TRUE(rig.engine.scanner().scanning());
  ASSERT_TRUE(rig.queue.serveUntil([&] { return ended; }, 20000));
  EXPECT_FALSE(rig.engine.scanner().scanning());
  ASSERT_EQ(rig.engine.list().entries().count(), 2);
  EXPECT_EQ(rig.engine.list().entries().at(0).sourcePath, dir / "in/a.avi");
  EXPECT_EQ(rig.engine.list().entries().at(1).sourcePath, dir / "in/d.avi");
  EXPECT_EQ(rig.engine.list().entries().at(1).durationSeconds, 4u);
  // The hung probe failed with its reason, the invalid video was refused: both named, in order.
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0].path, dir / "in/b.avi");
  EXPECT_EQ(refused[0].outcome, AddOutcome::Failed);
  EXPECT_EQ(refused[1].path, dir / "in/c.avi");
  EXPECT_EQ(refused[1].outcome, AddOutcome::Invalid);
  EXPECT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch(10000));
}

TEST(Scheduler, TheEngineGoesWhileAScanWaitsForAHangingProbe) {
  TempFolder dir;
  {
    EngineRig rig(FAKE_ENCODER, dir.path());  // the probe limit is a minute
    fakeSource(dir, "stuck.avi", "probe_hang=1");
    ASSERT_TRUE(rig.engine.scanner().scanPaths({dir / "stuck.avi"}, [](std::vector<Refusal>) {
      ADD_FAILURE() << "a scan cut short reports nothing";
    }));
    const auto start = std::chrono::steady_clock::now();
    rig.engine.exitTidyUp();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

TEST(Scheduler, AnEmptyOutputIsAFailureAndIsRemoved) {
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.addReady(fakeSource(dir, "empty.avi", "bytes=0"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch());
  const VideoEntry& e = rig.engine.list().entries().at(0);
  EXPECT_EQ(e.stateValue(), ConversionError);
  EXPECT_EQ(e.outputPath, dir / "empty.3gp");
  EXPECT_FALSE(test::exists(e.outputPath));
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnStatus), "Conversion Error");
}

TEST(Scheduler, MissingEncoderFailsAtOnceAndTouchesNoFile) {
  TempFolder dir;
  EngineRig rig(dir / "no-such-encoder", dir.path());
  test::writeFile(dir / "clip.3gp", "precious");
  rig.addReady(dir / "clip.avi");
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch(5000));
  const VideoEntry& e = rig.engine.list().entries().at(0);
  EXPECT_EQ(e.stateValue(), ConversionError);
  EXPECT_EQ(e.outputPath, dir / "clip(1).3gp");
  EXPECT_EQ(test::readFile(dir / "clip.3gp"), "precious");
  EXPECT_FALSE(test::exists(dir / "clip(1).3gp"));
  EXPECT_NE(rig.engine.list().failureReason(0).find("could not be started"), std::string::npos);
}

TEST(Scheduler, AStoppedConversionStaysCancelledHoweverItsEncoderEnds) {
  // The encoder ends a stop in its own way: before anything was written (exit 0, empty output),
  // with a failure, or not at all (killed after the grace time). None of them is an error.
  const char* scripts[] = {"run_ms=30000\nbytes=0", "run_ms=30000\nexit=1", "hang=1\nbytes=5"};
  for (const char* script : scripts) {
    TempFolder dir;
    EngineConfig config;
    config.tickPeriodMs = 50;
    config.stopGraceMs = 300;
    EngineRig rig(FAKE_ENCODER, dir.path(), config);
    rig.addReady(fakeSource(dir, "clip.avi", script));
    ASSERT_TRUE(rig.engine.batch().startBatch());
    ASSERT_TRUE(rig.queue.serveUntil(
        [&] { return rig.engine.list().entries().at(0).stateValue() == Converting; }, 10000));
    rig.engine.batch().stopConversion(0, Answer::Yes);
    ASSERT_TRUE(rig.waitBatch(10000));
    const VideoEntry& e = rig.engine.list().entries().at(0);
    EXPECT_EQ(e.stateValue(), Cancelled) << script;
    EXPECT_FALSE(test::exists(e.outputPath)) << script;  // nothing written: the reservation went
    EXPECT_TRUE(rig.engine.list().offersRequeue()) << script;
  }
}

TEST(Scheduler, NoWorkerThreadMeansConversionErrorNotPending) {
  TempFolder dir;
  EngineRig rig(dir / "no-encoder", dir.path());
  rig.engine.batch().setThreadStartHook([] { return false; });
  rig.addReady(dir / "a.avi");
  rig.addReady(dir / "b.avi");
  ASSERT_TRUE(rig.engine.batch().startBatch());
  EXPECT_FALSE(rig.engine.batch().conversionMode());
  EXPECT_EQ(rig.engine.batch().activeCount(), 0);
  EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), ConversionError);
  EXPECT_EQ(rig.engine.list().entries().at(1).stateValue(), ConversionError);
}

TEST(Scheduler, OutputNamesAreUniqueAcrossTheListAndTheDisk) {
  TempFolder dir;
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

// Whether the text is whole UTF-8 (no sequence cut short).
bool wholeUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

TEST(Scheduler, LongNamesAreCutToAFileNameLinuxTakesWithRoomForTheNumber) {
  const std::string stems[] = {std::string(300, 'a'),
                               [] {
                                 std::string s;
                                 for (int i = 0; i < 130; ++i) s += "\xc3\xa9";  // é, 2 bytes
                                 return s;
                               }(),
                               [] {
                                 std::string s;
                                 for (int i = 0; i < 100; ++i) s += "\xe6\x97\xa5";  // 日, 3 bytes
                                 return s;
                               }(),
                               std::string(251, 'b')};  // fits alone, not with "(1)"
  for (const std::string& stem : stems) {
    TempFolder dir;
    VideoList list;
    for (int n = 0; n < 12; ++n) {
      const ReservedOutput out = reserveOutputPath(dir.path(), stem, 600, list);
      ASSERT_TRUE(out.reserved) << n << " " << out.path;
      const std::string name = out.path.substr(dir.path().size() + 1);
      EXPECT_LE(name.size(), 255u);
      EXPECT_TRUE(wholeUtf8(name)) << name;
      EXPECT_EQ(name.substr(name.size() - 4), ".3gp");
      EXPECT_EQ(stem.compare(0, 10, name, 0, 10), 0);
    }
  }
}

TEST(Scheduler, ANameThatCannotBeReservedFailsAtOnceWithItsReason) {
  TempFolder dir;
  test::writeFile(dir / "file", "not a folder");
  const std::string log = dir / "runs.txt";
  EngineRig rig(FAKE_ENCODER, dir / "file/out");
  rig.addReady(fakeSource(dir, "clip.avi", "log=" + log));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch());
  EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), ConversionError);
  EXPECT_FALSE(test::exists(log));  // the encoder never ran
  const std::string reason = rig.engine.list().failureReason(0);
  EXPECT_NE(reason.find("Not a directory"), std::string::npos) << reason;
}

TEST(Scheduler, ExitTidyUpKeepsOnlyDoneEntriesAndTheirFiles) {
  for (const bool removeStopped : {true, false}) {
    TempFolder dir;
    EngineConfig config;
    config.historyPath = dir / "history.bin";
    config.tickPeriodMs = 50;
    {
      EngineRig rig(FAKE_ENCODER, dir.path(), config);
      rig.engine.settings().RemoveStopped = removeStopped;
      rig.addReady(fakeSource(dir, "ok.avi", "bytes=10"));
      rig.addReady(fakeSource(dir, "bad.avi", "exit=2"));
      rig.addReady(fakeSource(dir, "long.avi", "run_ms=20000\nbytes=3"));
      // From an earlier run: a cancelled entry with its partial file, and a failed one that
      // names the file the successful conversion is about to write.
      VideoEntry& old = rig.addReady(dir / "old.avi");
      old.setState(Cancelled);
      old.outputPath = dir / "old.3gp";
      test::writeFile(old.outputPath, "partial");
      struct stat st {};
      ASSERT_EQ(::stat(old.outputPath.c_str(), &st), 0);
      old.createdOutput = true;
      old.outputIdentity = fileIdentity(st);
      VideoEntry& failed = rig.addReady(dir / "ok.avi");
      failed.setState(ConversionError);
      failed.outputPath = dir / "ok.3gp";
      ASSERT_TRUE(rig.engine.batch().startBatch());
      ASSERT_TRUE(rig.queue.serveUntil(
          [&] {
            return rig.engine.list().entries().at(2).stateValue() == Converting &&
                   rig.engine.list().entries().at(0).stateValue() == Done;
          },
          10000));
      ASSERT_EQ(rig.engine.list().entries().at(0).outputPath, dir / "ok.3gp");
      rig.engine.exitTidyUp();  // stops "long", waits for it, removes everything but "ok"
      EXPECT_EQ(rig.engine.list().entries().count(), 0);
      EXPECT_TRUE(rig.engine.list().closing());
      EXPECT_EQ(test::readFile(dir / "ok.3gp"), std::string(10, 'x'));
      // Partial outputs of stopped runs go only when "remove stopped videos" is on.
      EXPECT_EQ(test::exists(dir / "long.3gp"), !removeStopped);
      EXPECT_EQ(test::exists(dir / "old.3gp"), !removeStopped);
      EXPECT_FALSE(test::exists(dir / "bad.3gp"));  // its reservation went with the failure
    }
    VideoList saved;
    ASSERT_TRUE(loadHistory(saved, dir / "history.bin"));
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved.at(0).sourcePath, dir / "ok.avi");
    EXPECT_EQ(saved.at(0).stateValue(), Done);
  }
}

TEST(Scheduler, ExitTidyUpLeavesAFileThatReplacedAStoppedOutput) {
  TempFolder dir;
  EngineConfig config;
  config.tickPeriodMs = 50;
  EngineRig rig(FAKE_ENCODER, dir.path(), config);
  rig.engine.settings().RemoveStopped = 1;
  rig.addReady(fakeSource(dir, "clip.avi", "run_ms=30000\nbytes=3"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] { return rig.engine.list().entries().at(0).stateValue() == Converting; }, 10000));
  rig.engine.batch().stopConversion(0, Answer::Yes);
  ASSERT_TRUE(rig.waitBatch(10000));
  const std::string output = rig.engine.list().entries().at(0).outputPath;
  ASSERT_EQ(test::readFile(output), "xxx");  // the partial file stays
  // Another program saves a file of its own under that name (written aside, then renamed).
  test::writeFile(dir / "other.tmp", "someone else's");
  ASSERT_EQ(::rename((dir / "other.tmp").c_str(), output.c_str()), 0);
  rig.engine.exitTidyUp();
  EXPECT_EQ(test::readFile(output), "someone else's");
}

TEST(Scheduler, AFileThatCannotBeProbedFailsWithItsReason) {
  TempFolder dir;
  test::writeFile(dir / "not-executable", "#!/bin/sh\nexit 0\n");
  ::chmod((dir / "not-executable").c_str(), 0644);
  const struct {
    std::string encoder;
    std::string script;
    bool progressBlock;
    const char* reason;
  } cases[] = {
      {dir / "no-such-encoder", "", true, "could not be started"},
      {dir / "not-executable", "", true, "could not be started"},
      {FAKE_ENCODER, "probe_hang=1", true, "did not answer within"},
      {FAKE_ENCODER, "", false, "progress block"},
  };
  for (const auto& c : cases) {
    EngineConfig config;
    config.probeLimitMs = 300;
    config.createProgressBlock = c.progressBlock;
    EngineRig rig(c.encoder, dir.path(), config);
    const std::string source = fakeSource(dir, "v.avi", c.script);
    std::string reason;
    EXPECT_EQ(rig.engine.scanner().addVideo(source, &reason), AddOutcome::Failed) << c.reason;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(rig.engine.list().entries().count(), 0);
    // A scan names the file and the reason as well.
    const std::vector<Refusal> refused = rig.scan({source});
    ASSERT_EQ(refused.size(), 1u) << c.reason;
    EXPECT_EQ(refused[0].path, source);
    EXPECT_EQ(refused[0].outcome, AddOutcome::Failed);
    EXPECT_EQ(refused[0].reason, reason);
  }
  // A probe that answers in time adds the file.
  EngineRig rig(FAKE_ENCODER, dir.path());
  EXPECT_EQ(rig.engine.scanner().addVideo(fakeSource(dir, "fine.avi", "duration=61.9")),
            AddOutcome::Added);
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnDuration), "00:01:01");
}

TEST(Scheduler, BatchProgressWeighsRunningAndFinishedConversions) {
  // Reported percentages fixed by the stand-in: the real encoder cannot hold one still.
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.addReady(fakeSource(dir, "a.avi", "run_ms=30000\npercent=50"));
  rig.addReady(fakeSource(dir, "b.avi", "run_ms=30000\npercent=30"));
  for (const char* name : {"c.avi", "d.avi", "e.avi"}) rig.addReady(fakeSource(dir, name, ""));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  EXPECT_EQ(rig.ui.status, texts::fillText(texts::BatchStarting, 5));
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] {
        rig.engine.batch().refreshRunning();  // the front end's timer
        return rig.ui.status == "2 / 5  16%" && rig.ui.progressBar == 16;
      },
      10000))
      << rig.ui.status;  // (2 x 40 + 0 x 100) / 5 entries
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnStatus).substr(0, 14), "Convert 50.0% ");
  rig.engine.batch().stopAll(Answer::Yes);
  ASSERT_TRUE(rig.waitBatch(10000));
}

TEST(Scheduler, RaisingMaxConversionsDuringABatchStartsMoreAtOnce) {
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  rig.engine.settings().MaxConversions = 1;
  for (const char* name : {"a.avi", "b.avi", "c.avi", "d.avi"})
    rig.addReady(fakeSource(dir, name, "run_ms=30000"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.queue.serveUntil([&] { return rig.engine.batch().runningCount() == 1; }, 10000));
  rig.queue.serveUntil([] { return false; }, 200);
  EXPECT_EQ(rig.engine.batch().runningCount(), 1);
  rig.engine.settings().MaxConversions = 3;  // e.g. through the toolbar's settings button
  rig.engine.settingsChanged();
  EXPECT_TRUE(rig.queue.serveUntil([&] { return rig.engine.batch().runningCount() == 3; }, 10000));
  EXPECT_EQ(rig.engine.list().entries().at(3).stateValue(), Pending);
  rig.engine.batch().stopAll(Answer::Yes);
  ASSERT_TRUE(rig.waitBatch(10000));
}

TEST(Scheduler, OutputNameClaimsFollowTheEntryState) {
  // Entries below Cancelled keep their name; a Cancelled one's partial file keeps it on disk.
  const struct {
    int16_t state;
    bool claims;
  } cases[] = {
      {Starting, true},           {Converting, true},       {Done, true},     {Cancelled, false},
      {CancelledNotFound, false}, {ConversionError, false}, {Pending, false}, {Ready, false}};
  TempFolder dir;
  for (const auto& c : cases) {
    VideoList list;
    auto e = std::make_unique<VideoEntry>("/v/clip.avi");
    e->setState(c.state);
    e->outputPath = dir / "clip.3gp";
    list.append(std::move(e));
    EXPECT_EQ(makeOutputPath(dir.path(), "clip", 600, list).path,
              dir / (c.claims ? "clip(1).3gp" : "clip.3gp"))
        << c.state;
  }
}

TEST(Scheduler, AFailedEntryNeverDeletesTheFileALaterEntryWroteUnderItsName) {
  // One at a time: a's source goes after the batch was planned, so a fails having named
  // out/clip.3gp, which b then writes. b's row goes (file kept), then the program exits.
  TempFolder dir;
  ::mkdir((dir / "a").c_str(), 0700);
  ::mkdir((dir / "b").c_str(), 0700);
  ::mkdir((dir / "out").c_str(), 0700);
  EngineRig rig(FAKE_ENCODER, dir / "out");
  rig.engine.settings().MaxConversions = 1;
  rig.engine.settings().RemoveStopped = 1;
  rig.addReady(fakeSource(dir, "a/clip.avi", "bytes=7"));
  rig.addReady(fakeSource(dir, "b/clip.avi", "bytes=9"));
  ASSERT_EQ(rig.engine.batch().planBatch().ready, 2);
  ::unlink((dir / "a/clip.avi").c_str());
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch());
  ASSERT_EQ(rig.engine.list().entries().at(0).stateValue(), ConversionError);
  ASSERT_EQ(rig.engine.list().entries().at(0).outputPath, dir / "out/clip.3gp");
  ASSERT_EQ(rig.engine.list().entries().at(1).stateValue(), Done);
  ASSERT_EQ(rig.engine.list().entries().at(1).outputPath, dir / "out/clip.3gp");
  ASSERT_EQ(rig.engine.list().removeEntry(1), RemoveResult::Removed);
  rig.engine.exitTidyUp();
  EXPECT_EQ(test::readFile(dir / "out/clip.3gp"), std::string(9, 'x'));
}

TEST(Scheduler, ANameTakenWhileConvertingIsLeftAloneAndTheNextNameIsUsed) {
  TempFolder dir;
  ::mkdir((dir / "out").c_str(), 0700);
  EngineRig rig(FAKE_ENCODER, dir / "out");
  rig.addReady(fakeSource(dir, "clip.avi", "bytes=4\nintrude_once=" + dir / "intruded"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch());
  const VideoEntry& e = rig.engine.list().entries().at(0);
  EXPECT_EQ(e.stateValue(), Done);
  EXPECT_EQ(e.outputPath, dir / "out/clip(1).3gp");
  EXPECT_EQ(test::readFile(dir / "out/clip.3gp"), "intruder");
  EXPECT_EQ(test::readFile(dir / "out/clip(1).3gp"), "xxxx");
}

TEST(Scheduler, AChosenNameIsReservedOnDiskAndAFailedRunRemovesOnlyItsReservation) {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  TempFolder dir;
  EngineConfig config;
  config.tickPeriodMs = 50;
  EngineRig rig(FAKE_ENCODER, dir.path(), config);
  rig.addReady(fakeSource(dir, "slow.avi", "run_ms=30000\nexit=1"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  // While the encoder runs the name is taken: another program cannot create it exclusively.
  // (The row turns Converting just before the name is chosen, so wait for the file itself.)
  struct stat st {};
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] {
        return rig.engine.list().entries().at(0).stateValue() == Converting &&
               ::lstat((dir / "slow.3gp").c_str(), &st) == 0;
      },
      60000));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u & ~mask);
  rig.engine.batch().stopConversion(0, Answer::Yes);
  ASSERT_TRUE(rig.waitBatch());
  EXPECT_FALSE(test::exists(dir / "slow.3gp"));
}

TEST(Scheduler, AProbeThatFailsOrCrashesRefusesTheFile) {
  TempFolder dir;
  EngineRig rig(FAKE_ENCODER, dir.path());
  const struct {
    const char* script;
    AddOutcome outcome;
  } cases[] = {{"probe_exit=0", AddOutcome::Added},     {"probe_exit=236", AddOutcome::Invalid},
               {"probe_exit=1", AddOutcome::Invalid},   {"probe_exit=3", AddOutcome::Invalid},
               {"probe_exit=255", AddOutcome::Invalid}, {"probe_crash=1", AddOutcome::Invalid}};
  int added = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(rig.engine.scanner().addVideo(fakeSource(dir, "v.avi", c.script)), c.outcome)
        << c.script;
    added += c.outcome == AddOutcome::Added;
    EXPECT_EQ(rig.engine.list().entries().count(), added) << c.script;
  }
  // The scan reports a crashed probe among the refused files.
  const std::string crash = fakeSource(dir, "crash.avi", "probe_crash=1");
  const std::vector<Refusal> refused = rig.scan({crash});
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].path, crash);
  EXPECT_EQ(refused[0].outcome, AddOutcome::Invalid);
}

TEST(Scheduler, LoweringMaxConversionsDuringABatchHoldsAtEveryStart) {
  TempFolder dir;
  EngineConfig config;
  config.tickPeriodMs = 50;
  EngineRig rig(FAKE_ENCODER, dir.path(), config);
  rig.engine.settings().MaxConversions = 3;
  rig.engine.settingsChanged();
  for (const char* name : {"a.avi", "b.avi", "c.avi", "d.avi", "e.avi"})
    rig.addReady(fakeSource(dir, name, "run_ms=30000"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.queue.serveUntil([&] { return rig.engine.batch().runningCount() == 3; }, 10000));
  rig.engine.settings().MaxConversions = 1;
  rig.engine.settingsChanged();
  rig.engine.batch().stopConversion(0, Answer::Yes);
  rig.engine.batch().stopConversion(1, Answer::Yes);
  const VideoList& list = rig.engine.list().entries();
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] {
        return rig.engine.list().hasEnded(list.at(0)) && rig.engine.list().hasEnded(list.at(1));
      },
      10000));
  int most = 0;
  const auto watch = [&](int64_t ms) {
    rig.queue.serveUntil(
        [&] {
          most = std::max(most, rig.engine.batch().runningCount());
          return false;
        },
        ms);
  };
  watch(500);
  EXPECT_EQ(most, 1);
  EXPECT_EQ(list.at(3).stateValue(), Pending);
  // The one still running ends: exactly one more starts.
  rig.engine.batch().stopConversion(2, Answer::Yes);
  ASSERT_TRUE(rig.queue.serveUntil([&] { return list.at(3).stateValue() == Converting; }, 10000));
  watch(500);
  EXPECT_EQ(most, 1);
  EXPECT_EQ(list.at(4).stateValue(), Pending);
  rig.engine.batch().stopAll(Answer::Yes);
  ASSERT_TRUE(rig.waitBatch(10000));
}

}  // namespace
}  // namespace vidmora
