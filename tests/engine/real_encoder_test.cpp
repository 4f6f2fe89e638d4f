// The engine with the real vidmora-encoder on clips generated with ffmpeg.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

#include "engine/list_texts.h"
#include "engine_fixture.h"
#include "platform/format.h"
#include "platform/texts.h"

namespace vidmora {
namespace {

using test::EngineRig;
using test::TempFolder;

// Records every encoder line into a log and hands it on to the real encoder unchanged.
std::string loggingEncoder(const TempFolder& dir, const std::string& log) {
  const std::string path = dir / "logging-encoder";
  test::writeFile(path, "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + log + "'\necho >> '" + log +
                            "'\nexec '" REAL_ENCODER "' \"$@\"\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

// The duration ffprobe reads from a media file; -1 when it reads none.
double mediaSeconds(const std::string& path) {
  const std::string cmd =
      "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "' 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char line[64] = {};
  const bool read = std::fgets(line, sizeof line, p) != nullptr;
  ::pclose(p);
  return read ? std::atof(line) : -1;
}

// Long enough that a conversion ending early can only be explained by its stop.
constexpr double LongClipSeconds = 600.0;

class RealEncoder : public ::testing::Test {
 protected:
  void SetUp() override {
    // The encoder is built with the tests: without it this suite fails rather than passes.
    ASSERT_TRUE(test::exists(REAL_ENCODER)) << "vidmora-encoder is not built";
    src_ = dir_ / "src";
    out_ = dir_ / "out";
    ::mkdir(src_.c_str(), 0700);
    ::mkdir(out_.c_str(), 0700);
  }
  std::string clip(const std::string& name, double seconds = 1.0) {
    const std::string path = src_ + "/" + name;
    EXPECT_TRUE(test::makeClip(path, seconds)) << path;
    return path;
  }
  TempFolder dir_;
  std::string src_, out_;
};

TEST_F(RealEncoder, FiveEntriesTwoAtATimeInListOrderEndDoneWithTheirSizes) {
  EngineRig rig(REAL_ENCODER, out_);
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(rig.engine.scanner().addVideo(clip("v" + std::to_string(i) + ".mp4")),
              AddOutcome::Added);
  ASSERT_EQ(rig.engine.list().entries().count(), 5);
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnDuration), "00:00:01");
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnName), "v0 (.3gp)");
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnStatus).substr(0, 7), "Ready  ");
  int maxPast = 0;
  rig.ui.onRepaint = [&](int) {
    int past = 0;
    bool pendingSeen = false;
    for (int i = 0; i < rig.engine.list().entries().count(); ++i) {
      const int16_t s = rig.engine.list().entries().at(i).stateValue();
      past += s == Starting || s == Converting;
      if (s == Pending)
        pendingSeen = true;
      else
        EXPECT_FALSE(pendingSeen) << "entry " << i << " started before an earlier one";
    }
    maxPast = std::max(maxPast, past);
  };
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch(120000));
  EXPECT_LE(maxPast, 2);
  for (int i = 0; i < 5; ++i) {
    const VideoEntry& e = rig.engine.list().entries().at(i);
    EXPECT_EQ(e.stateValue(), Done) << i;
    EXPECT_EQ(e.outputPath, out_ + "/v" + std::to_string(i) + ".3gp");
    EXPECT_GT(e.sizeBytes, 0u);
    EXPECT_EQ(e.sizeBytes, fileSize64(e.outputPath));
    EXPECT_EQ(rig.engine.list().cellText(i, ColumnStatus),
              "OK     (" + formatSize(e.sizeBytes) + ")");
  }
}

TEST_F(RealEncoder, TheSameSourceTwiceGivesANumberedSecondOutput) {
  EngineRig rig(REAL_ENCODER, out_);
  const std::string source = clip("clip.avi");
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(rig.engine.scanner().addVideo(source), AddOutcome::Added);
    ASSERT_TRUE(rig.engine.batch().startBatch());
    ASSERT_TRUE(rig.waitBatch(60000));
  }
  ASSERT_EQ(rig.engine.list().entries().count(), 2);
  EXPECT_EQ(rig.engine.list().entries().at(0).outputPath, out_ + "/clip.3gp");
  EXPECT_EQ(rig.engine.list().entries().at(1).outputPath, out_ + "/clip(1).3gp");
  EXPECT_EQ(rig.engine.list().entries().at(1).stateValue(), Done);
}

TEST_F(RealEncoder, PathsWithQuotesPercentBlanksAndDashesConvert) {
  EngineRig rig(REAL_ENCODER, out_);
  const std::string source = clip("-say \"hi\" 100% ünï.mkv");
  ASSERT_EQ(rig.engine.scanner().addVideo(source), AddOutcome::Added);
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnSource), source);
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch(60000));
  const VideoEntry& e = rig.engine.list().entries().at(0);
  EXPECT_EQ(e.stateValue(), Done);
  EXPECT_EQ(e.outputPath, out_ + "/-say \"hi\" 100% ünï.3gp");
  EXPECT_TRUE(test::exists(e.outputPath));
}

TEST_F(RealEncoder, AnInvalidVideoIsRefusedAndNamed) {
  EngineRig rig(REAL_ENCODER, out_);
  ASSERT_EQ(rig.engine.scanner().addVideo(clip("good.avi")), AddOutcome::Added);
  const std::string bad = src_ + "/not a video.avi";
  test::writeFile(bad, "this is text, not a video");
  EXPECT_EQ(rig.engine.scanner().addVideo(bad), AddOutcome::Invalid);
  EXPECT_EQ(rig.engine.list().entries().count(), 1);
  // A scan names the refused files; a path that does not exist is dropped silently.
  const std::vector<Refusal> refused = rig.scan({src_ + "/missing.avi", bad});
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].path, bad);
  EXPECT_EQ(refused[0].outcome, AddOutcome::Invalid);
  EXPECT_EQ(rig.engine.list().entries().count(), 1);
}

TEST_F(RealEncoder, RefusedAudioOptionsAreDroppedForASecondRunAndAmrRunsOnce) {
  // MP2 at 12000 Hz is refused: the options go and the second run converts. AMR has no encoder
  // here, so its line carries no audio options to refuse and the encoder runs once.
  const struct {
    const char* codec;
    int32_t sampleRate;
    std::size_t runs;
  } cases[] = {{"MP2", 12000, 2}, {"AMR", 8000, 1}};
  for (const auto& c : cases) {
    const std::string log = dir_ / (std::string(c.codec) + ".txt");
    EngineRig rig(loggingEncoder(dir_, log), out_);
    rig.engine.settings().ProfileId = c.runs == 2 ? 700 : 600;  // MP4 takes MP2 sound
    rig.engine.settings().AudioCodec = c.codec;
    rig.engine.settings().SampleRate = c.sampleRate;
    ASSERT_EQ(rig.engine.scanner().addVideo(clip("voice.mp4")), AddOutcome::Added);
    ASSERT_TRUE(rig.engine.batch().startBatch());
    ASSERT_TRUE(rig.waitBatch(60000));
    EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), Done) << c.codec;
    std::vector<std::string> lines = test::readLines(log);
    ASSERT_EQ(lines.size(), 1 + c.runs) << c.codec;  // the probe, then the runs
    if (c.runs == 2) {
      EXPECT_NE(lines[1].find("|-ar|12000|"), std::string::npos);
    }
    for (const char* option : {"|-ab|", "|-ac|", "|-ar|"})
      EXPECT_EQ(lines.back().find(option), std::string::npos) << c.codec << option;
  }
}

TEST_F(RealEncoder, TheNewestEntryPushesTheOldestOutOfAFullList) {
  EngineRig rig(REAL_ENCODER, out_);
  for (int i = 0; i < MaxEntries; ++i)
    rig.addReady("/v/" + std::to_string(i) + ".avi").setState(Done);
  const std::string source = clip("newest.avi");
  ASSERT_EQ(rig.engine.scanner().addVideo(source), AddOutcome::Added);
  VideoList& list = rig.engine.list().entries();
  ASSERT_EQ(list.count(), MaxEntries);
  EXPECT_EQ(list.at(0).sourcePath, "/v/1.avi");
  EXPECT_EQ(list.at(MaxEntries - 1).sourcePath, source);
  for (int i = 0; i < list.count(); ++i) ASSERT_EQ(list.at(i).listIndex, i);
  EXPECT_EQ(rig.ui.gotoRows.back(), MaxEntries - 1);
}

TEST_F(RealEncoder, DroppedFoldersAreWalkedForAcceptedFilesOnly) {
  EngineRig rig(REAL_ENCODER, out_);
  ::mkdir((src_ + "/sub").c_str(), 0700);
  ::mkdir((src_ + "/sub/deeper").c_str(), 0700);
  clip("a.mp4");
  clip("sub/b.MKV");
  clip("sub/deeper/c.avi");
  // A video, but not by its extension.
  ::rename(clip("sub/deeper/d.mp4").c_str(), (src_ + "/sub/deeper/d.mp4.bak").c_str());
  test::writeFile(src_ + "/notes.txt", "x");
  ::symlink(src_.c_str(), (src_ + "/sub/loop").c_str());  // must not walk for ever
  EXPECT_TRUE(rig.scan({src_}).empty());
  std::vector<std::string> added;
  for (int i = 0; i < rig.engine.list().entries().count(); ++i)
    added.push_back(rig.engine.list().entries().at(i).sourcePath);
  std::sort(added.begin(), added.end());
  EXPECT_EQ(added, (std::vector<std::string>{src_ + "/a.mp4", src_ + "/sub/b.MKV",
                                             src_ + "/sub/deeper/c.avi"}));
  EXPECT_EQ(rig.engine.settings().LastSourceDir.rfind(dir_.path(), 0), 0u);
  EXPECT_FALSE(rig.engine.batch().conversionMode());  // starting the batch is the front end's call
}

TEST_F(RealEncoder, StopDuringAConversionKeepsThePartialFile) {
  EngineConfig config;
  config.tickPeriodMs = 50;
  config.stopGraceMs = 600000;  // never killed: only the stop byte ends the run early
  EngineRig rig(REAL_ENCODER, out_, config);
  ASSERT_EQ(rig.engine.scanner().addVideo(clip("long.avi", LongClipSeconds)), AddOutcome::Added);
  ASSERT_TRUE(rig.engine.batch().startBatch());
  // Stop once the encoder has reported some progress, so it has written part of the file.
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] {
        double percent = 0;
        const VideoEntry& e = rig.engine.list().entries().at(0);
        return e.stateValue() == Converting && rig.engine.batch().runningPercent(e, percent) &&
               percent > 2.0;
      },
      60000));
  rig.engine.batch().stopConversion(0, Answer::Yes);
  ASSERT_TRUE(rig.waitBatch(30000));
  const VideoEntry& e = rig.engine.list().entries().at(0);
  EXPECT_EQ(e.stateValue(), Cancelled);
  ASSERT_TRUE(test::exists(e.outputPath));
  // The partial file ends far before the source: the stop ended the run, not the clip's end.
  const double seconds = mediaSeconds(e.outputPath);
  EXPECT_GT(seconds, 0.0);
  EXPECT_LT(seconds, LongClipSeconds / 2);
}

TEST_F(RealEncoder, StopOnAPendingEntryCancelsItWithoutAnEncoderRun) {
  const std::string log = dir_ / "lines.txt";
  EngineRig rig(loggingEncoder(dir_, log), out_);
  rig.engine.settings().MaxConversions = 1;
  for (const char* name : {"a.mp4", "b.mp4", "c.mp4"})
    ASSERT_EQ(rig.engine.scanner().addVideo(clip(name)), AddOutcome::Added);
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_EQ(rig.engine.list().entries().at(1).stateValue(), Pending);
  EXPECT_EQ(rig.engine.batch().stopConversion(1, Answer::Yes), StopOutcome::Done);
  EXPECT_EQ(rig.engine.list().entries().at(1).stateValue(),
            Cancelled);  // at once, not at a later poll
  EXPECT_EQ(rig.engine.batch().activeCount(), 2);
  ASSERT_TRUE(rig.waitBatch(60000));
  EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), Done);
  EXPECT_EQ(rig.engine.list().entries().at(1).stateValue(), Cancelled);
  EXPECT_EQ(rig.engine.list().entries().at(2).stateValue(), Done);
  EXPECT_TRUE(rig.engine.list().entries().at(1).outputPath.empty());
  for (const std::string& line : test::readLines(log))
    EXPECT_EQ(line.find(out_ + "/b.3gp"), std::string::npos) << line;
  EXPECT_EQ(test::readLines(log).size(), 5u);  // three probes, two conversions
}

TEST_F(RealEncoder, StopAllAnsweredCancelChangesNothingButSuppressesTheExit) {
  EngineRig rig(REAL_ENCODER, out_);
  rig.engine.settings().ExitAfter = 1;
  ASSERT_EQ(rig.engine.scanner().addVideo(clip("a.mp4")), AddOutcome::Added);
  ASSERT_EQ(rig.engine.scanner().addVideo(clip("b.mp4")), AddOutcome::Added);
  ASSERT_TRUE(rig.engine.batch().startBatch());
  EXPECT_EQ(rig.engine.batch().stopAll(Answer::No), StopOutcome::Done);
  EXPECT_TRUE(rig.engine.batch().stopAllMark());
  ASSERT_TRUE(rig.waitBatch(60000));
  EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), Done);
  EXPECT_EQ(rig.engine.list().entries().at(1).stateValue(), Done);
  EXPECT_EQ(rig.ui.exitRequests, 0);
  EXPECT_FALSE(rig.ui.lastResult.ranToEnd);  // no 100 % pause either
  EXPECT_FALSE(rig.engine.batch().shutdownPending());
}

TEST_F(RealEncoder, StopAllAnsweredOkStopsEveryEntry) {
  EngineConfig config;
  config.tickPeriodMs = 50;
  config.stopGraceMs = 600000;  // never killed: only the stop byte ends a run early
  EngineRig rig(REAL_ENCODER, out_, config);
  rig.engine.settings().ShutdownAfter = 1;
  const std::string source = clip("long.avi", LongClipSeconds);
  for (int i = 0; i < 4; ++i) rig.addReady(source);
  ASSERT_TRUE(rig.engine.batch().startBatch());
  // Two encoders run, two entries wait.
  const VideoList& list = rig.engine.list().entries();
  ASSERT_TRUE(rig.queue.serveUntil(
      [&] {
        return list.at(0).stateValue() == Converting && list.at(1).stateValue() == Converting;
      },
      60000));
  rig.engine.batch().stopAll(Answer::Yes);
  ASSERT_TRUE(rig.waitBatch(60000));
  EXPECT_EQ(rig.engine.list().entries().at(2).stateValue(), Cancelled);
  EXPECT_EQ(rig.engine.list().entries().at(3).stateValue(), Cancelled);
  for (int i = 0; i < 2; ++i) {
    // Stopped, however far the run got: before it wrote anything no file stays, after that a
    // file far shorter than the source.
    const VideoEntry& e = rig.engine.list().entries().at(i);
    EXPECT_EQ(e.stateValue(), Cancelled);
    if (test::exists(e.outputPath)) {
      EXPECT_LT(mediaSeconds(e.outputPath), LongClipSeconds / 2);
    }
  }
  EXPECT_FALSE(rig.engine.batch().shutdownPending());
  EXPECT_EQ(rig.ui.exitRequests, 0);
}

TEST_F(RealEncoder, TheEndOfABatchClosesTheWindowOrAsksForTheShutdown) {
  const std::string a = clip("a.mp4");
  const std::string b = clip("b.mp4", 3.0);
  for (const bool shutdown : {false, true}) {
    EngineRig rig(REAL_ENCODER, out_);
    // One at a time, so a repaint is sure to see the first finished and the second still going
    // (two at once may both end between two repaints on a slow machine).
    rig.engine.settings().MaxConversions = 1;
    (shutdown ? rig.engine.settings().ShutdownAfter : rig.engine.settings().ExitAfter) = 1;
    ASSERT_EQ(rig.engine.scanner().addVideo(a), AddOutcome::Added);
    ASSERT_EQ(rig.engine.scanner().addVideo(b), AddOutcome::Added);
    EXPECT_EQ(rig.engine.batch().planBatch().asksShutdown, shutdown);
    ASSERT_TRUE(rig.engine.batch().startBatch());
    int closesBeforeLast = -1;
    rig.ui.onRepaint = [&](int) {
      const VideoList& list = rig.engine.list().entries();
      if (isFinished(list.at(0).stateValue()) + isFinished(list.at(1).stateValue()) == 1)
        closesBeforeLast = rig.ui.exitRequests;
    };
    ASSERT_TRUE(rig.waitBatch(60000));
    EXPECT_EQ(closesBeforeLast, 0);  // nothing while one conversion was still going
    EXPECT_EQ(rig.ui.exitRequests, 1);
    EXPECT_EQ(rig.engine.batch().shutdownPending(), shutdown);
  }
}

TEST_F(RealEncoder, RequeuedCancelledEntriesConvert) {
  EngineRig rig(REAL_ENCODER, out_);
  ASSERT_EQ(rig.engine.scanner().addVideo(clip("a.mp4")), AddOutcome::Added);
  rig.engine.list().entries().at(0).setState(Cancelled);
  EXPECT_FALSE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.engine.list().offersRequeue());
  rig.engine.list().requeueCancelled();
  EXPECT_FALSE(rig.engine.list().offersRequeue());
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch(60000));
  EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), Done);
}

TEST_F(RealEncoder, ASourceGoneBeforeItsTurnFails) {
  EngineRig rig(REAL_ENCODER, out_);
  const std::string source = clip("gone.mp4");
  ASSERT_EQ(rig.engine.scanner().addVideo(source), AddOutcome::Added);
  ::unlink(source.c_str());
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch(60000));
  const VideoEntry& e = rig.engine.list().entries().at(0);
  EXPECT_EQ(e.stateValue(), ConversionError);
  EXPECT_FALSE(test::exists(e.outputPath));
}

// The run state of every process below this one ('T': stopped), by pid.
std::vector<std::pair<pid_t, char>> descendantStates() {
  std::vector<std::tuple<pid_t, pid_t, char>> all;  // pid, parent, state
  for (const auto& item : std::filesystem::directory_iterator("/proc")) {
    const pid_t pid = std::atoi(item.path().filename().c_str());
    if (pid <= 0) continue;
    std::ifstream in(item.path() / "stat");
    std::string line;
    if (!std::getline(in, line) || line.rfind(')') == std::string::npos) continue;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    char state = '?';
    pid_t parent = 0;
    fields >> state >> parent;
    all.emplace_back(pid, parent, state);
  }
  std::vector<pid_t> below = {::getpid()};
  std::vector<std::pair<pid_t, char>> states;
  for (std::size_t i = 0; i < below.size(); ++i)
    for (const auto& [pid, parent, state] : all)
      if (parent == below[i]) {
        below.push_back(pid);
        states.emplace_back(pid, state);
      }
  return states;
}

// A paused conversion uses no CPU: the pause reaches ffmpeg under the encoder as well, and
// resume and stop still work on it.
TEST_F(RealEncoder, APausedConversionStopsItsFfmpegToo) {
  EngineConfig config;
  config.tickPeriodMs = 20;
  EngineRig rig(REAL_ENCODER, out_, config);
  ASSERT_EQ(rig.engine.scanner().addVideo(clip("long.avi", LongClipSeconds)), AddOutcome::Added);
  ASSERT_TRUE(rig.engine.batch().startBatch());
  const auto states = [] { return descendantStates(); };
  const auto poll = [&](const std::function<bool()>& done) {
    for (int waited = 0; waited < 20000; waited += 10)
      if (rig.queue.serveUntil(done, 10)) return true;
    return false;
  };
  // The encoder and ffmpeg under it.
  ASSERT_TRUE(poll([&] { return states().size() >= 2; }));
  ASSERT_TRUE(rig.engine.batch().pauseAll(true));
  const bool allStopped = poll([&] {
    const auto now = states();
    return !now.empty() &&
           std::all_of(now.begin(), now.end(), [](const auto& p) { return p.second == 'T'; });
  });
  EXPECT_TRUE(allStopped);
  ASSERT_TRUE(rig.engine.batch().pauseAll(false));
  EXPECT_TRUE(poll([&] {
    const auto now = states();
    return std::none_of(now.begin(), now.end(), [](const auto& p) { return p.second == 'T'; });
  }));
  rig.engine.batch().stopAll(Answer::Yes);
  ASSERT_TRUE(rig.waitBatch());
  EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), Cancelled);
}

TEST_F(RealEncoder, WithoutAProgressBlockConversionsStillRun) {
  EngineConfig config;
  config.createProgressBlock = false;
  EngineRig rig(REAL_ENCODER, out_, config);
  rig.addReady(clip("a.mp4"));
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch(60000));
  EXPECT_EQ(rig.engine.list().entries().at(0).stateValue(), Done);
  EXPECT_EQ(rig.engine.list().entries().at(0).progressSlot, -1);
  // Probes need a slot for the duration: without one nothing is added, and the reason says so.
  EXPECT_EQ(rig.engine.scanner().addVideo(clip("b.mp4")), AddOutcome::Failed);
}

TEST_F(RealEncoder, TwoProgramsConvertingTheSameNameIntoOneFolderBothKeepTheirFiles) {
  // Two engines stand for two running programs: both choose their name before either publishes.
  const std::string source = clip("clip.mp4");
  EngineRig first(REAL_ENCODER, out_);
  EngineRig second(REAL_ENCODER, out_);
  first.addReady(source);
  second.addReady(source);
  ASSERT_TRUE(first.engine.batch().startBatch());
  ASSERT_TRUE(second.engine.batch().startBatch());
  ASSERT_TRUE(first.waitBatch(60000));
  ASSERT_TRUE(second.waitBatch(60000));
  const VideoEntry& a = first.engine.list().entries().at(0);
  const VideoEntry& b = second.engine.list().entries().at(0);
  EXPECT_EQ(a.stateValue(), Done);
  EXPECT_EQ(b.stateValue(), Done);
  EXPECT_NE(a.outputPath, b.outputPath);
  const std::vector<std::string> names{a.outputPath, b.outputPath};
  for (const char* name : {"/clip.3gp", "/clip(1).3gp"})
    EXPECT_NE(std::find(names.begin(), names.end(), out_ + name), names.end()) << name;
  EXPECT_EQ(fileSize64(a.outputPath), a.sizeBytes);
  EXPECT_EQ(fileSize64(b.outputPath), b.sizeBytes);
  EXPECT_GT(mediaSeconds(a.outputPath), 0.5);
  EXPECT_GT(mediaSeconds(b.outputPath), 0.5);
}

TEST_F(RealEncoder, ARefusedRemuxFailsOnceWithItsOwnTextAndLeavesNoFile) {
  // MP4 takes no PCM sound: the encoder refuses the copy before writing anything.
  const std::string source = src_ + "/pcm.mkv";
  ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                         "testsrc=size=64x48:rate=10:d=1 -f lavfi -i sine=duration=1 -c:v mpeg4 "
                         "-c:a pcm_s16le -shortest '" +
                         source + "'")
                            .c_str()),
            0);
  const std::string log = dir_ / "lines.txt";
  EngineRig rig(loggingEncoder(dir_, log), out_);
  rig.engine.settings().ProfileId = 9050;  // MP4 remux
  rig.addReady(source);
  ASSERT_TRUE(rig.engine.batch().startBatch());
  ASSERT_TRUE(rig.waitBatch(60000));
  const VideoEntry& e = rig.engine.list().entries().at(0);
  EXPECT_EQ(e.stateValue(), ConversionError);  // what the history file keeps
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnStatus), texts::StatusRemuxRefused);
  EXPECT_EQ(test::readLines(log).size(), 1u);  // no second run
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::is_empty(out_, ec)) << ec.message();
}

}  // namespace
}  // namespace vidmora
