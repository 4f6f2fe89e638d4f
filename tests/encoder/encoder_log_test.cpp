// Every conversion explained and checked: the encoder's log (VIDMORA_LOG_FILE), the reason of a
// failure in one sentence, and the check of the output before it gets its final name. Faults are
// real: a source cut short, a full file system, a killed ffmpeg.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "conversion_log.h"
#include "encoder_test_support.h"
#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "platform/job_log.h"
#include "platform/process.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "support/wait_until.h"
#include "verify.h"

namespace vidmora {
namespace {

using test::ProcResult;
using test::TempFolder;

const std::string Encoder = VIDMORA_ENCODER_PATH;

std::vector<std::string> lineFor(const std::string& src, const std::string& out,
                                 int16_t profile = 700, bool noAudioOptions = false,
                                 int sampleRate = -1) {
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(profile));
  ConversionSnapshot snap;
  takeSnapshot(snap, s);
  if (sampleRate > 0) snap.SampleRate = sampleRate;
  return buildConversionLine(Encoder, src, out, -1, "0", snap, noAudioOptions).argv;
}

// Runs the encoder with its log in `log`.
ProcResult convertLogged(const std::vector<std::string>& argv, const std::string& log) {
  ::setenv(LogFileVariable, log.c_str(), 1);
  ProcResult r = test::runProgram(argv);
  ::unsetenv(LogFileVariable);
  return r;
}

bool onlyEntries(const TempFolder& dir, std::vector<std::string> expected) {
  std::vector<std::string> names = dir.entries();
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  return names == expected;
}

TEST(EncoderLog, ANormalConversionIsVerifiedLoggedAndHasNoReason) {
  TempFolder dir;
  const std::string src = dir / "clip.mp4", out = dir / "out.mp4";
  ASSERT_TRUE(test::makeClip(src, 3.0, "176x144"));
  // As the app runs it: a new log in the state folder, its path through runHidden's environment.
  const std::string log = createJobLog(dir / "state/vidmora/logs", src, std::time(nullptr));
  ASSERT_FALSE(log.empty());
  int code = -1;
  ASSERT_TRUE(runHidden(lineFor(src, out), &code, 50, {}, {logFileAssignment(log)}));
  ASSERT_EQ(code, 0);
  const std::string text = test::readFile(log);
  EXPECT_EQ(text.rfind(LogRunMarker, 0), 0u) << text;
  for (const char* part : {"encoder: source: ", "encoder: source lasts 00:00:03; ffmpeg ",
                           "encoder: verified: output holds video and audio",
                           "encoder: published as ", "encoder: exit status 0"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  EXPECT_EQ(readLogReason(log), "");
  // Without the variable the conversion runs the same and writes no log anywhere.
  std::filesystem::remove(out);
  std::filesystem::remove_all(dir / "state");
  EXPECT_EQ(test::runProgram(lineFor(src, out)).status, 0);
  EXPECT_TRUE(onlyEntries(dir, {"clip.mp4", "out.mp4"}));
}

TEST(EncoderLog, ASourceCutShortIsRefusedBeforePublishingAndNamedAsTheCause) {
  TempFolder dir;
  // The index at the front says six seconds; the data stops half-way.
  const std::string whole = dir / "whole.mp4";
  ASSERT_TRUE(test::makeMedia(
      whole, {"testsrc=size=176x144:rate=25:duration=6", "sine=duration=6"},
      {"-ac", "2", "-c:v", "mpeg4", "-c:a", "aac", "-shortest", "-movflags", "+faststart"}));
  const std::string bytes = test::readFile(whole);
  const std::string src = dir / "cut.mp4", out = dir / "out.mp4", log = dir / "cut.log";
  test::writeFile(src, bytes.substr(0, bytes.size() / 2));
  std::filesystem::remove(whole);

  const ProcResult r = convertLogged(lineFor(src, out), log);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("the output was refused"), std::string::npos) << r.err;
  EXPECT_TRUE(onlyEntries(dir, {"cut.mp4", "cut.log"}));  // nothing published, nothing hidden
  const std::string text = test::readFile(log);
  EXPECT_NE(text.find("ffmpeg: "), std::string::npos) << text;
  EXPECT_NE(text.find("partial file"), std::string::npos) << text;
  // Where the data stops depends on how the halves fall; the header's six seconds do not.
  const std::string reason = readLogReason(log);
  EXPECT_EQ(reason.rfind("The source holds only 00:00:0", 0), 0u) << reason;
  EXPECT_TRUE(reason.ends_with(" of the 00:00:06 its header states: it looks incomplete"))
      << reason;
}

// Patches the Duration element of a Matroska file made by ffmpeg (an 8-byte float, in ms).
bool patchMatroskaDuration(const std::string& path, double ms) {
  std::string bytes = test::readFile(path);
  const auto at = bytes.find("\x44\x89\x88");
  if (at == std::string::npos || at + 11 > bytes.size()) return false;
  uint64_t bits = 0;
  std::memcpy(&bits, &ms, sizeof bits);
  for (int i = 0; i < 8; ++i) bytes[at + 3 + i] = static_cast<char>(bits >> (56 - 8 * i));
  test::writeFile(path, bytes);
  return true;
}

// A header may lie in either direction; what the source holds decides. A source longer than its
// header converts whole, one clearly shorter is incomplete and nothing is published.
TEST(EncoderLog, TheSourceDecidesWhenItsHeaderLies) {
  TempFolder dir;
  const std::string longer = dir / "longer than its header.mkv";
  const std::string shorter = dir / "shorter than its header.mkv";
  const std::string cutWav = dir / "cut.wav";
  const std::string shortCutWav = dir / "short cut.wav";
  for (const std::string& mkv : {longer, shorter})
    ASSERT_TRUE(test::makeMedia(mkv, {"testsrc=size=176x144:rate=25:duration=4", "sine=duration=4"},
                                {"-ac", "2", "-c:v", "mpeg4", "-c:a", "aac", "-shortest"}));
  ASSERT_TRUE(patchMatroskaDuration(longer, 2000.0));
  ASSERT_TRUE(patchMatroskaDuration(shorter, 7000.0));
  ASSERT_TRUE(
      test::makeMedia(cutWav, {"sine=duration=3:sample_rate=44100"}, {"-c:a", "pcm_s16le"}));
  const std::string wav = test::readFile(cutWav);
  test::writeFile(cutWav, wav.substr(0, wav.size() * 2 / 3));
  // Under a second a cut is as plain: a tenth of what the header states.
  ASSERT_TRUE(
      test::makeMedia(shortCutWav, {"sine=duration=0.6:sample_rate=44100"}, {"-c:a", "pcm_s16le"}));
  const std::string shortWav = test::readFile(shortCutWav);
  test::writeFile(shortCutWav, shortWav.substr(0, shortWav.size() / 10));
  struct Case {
    std::string source;
    int16_t profile;
    const char* reason;  // "" = converted whole (4 s)
  };
  const Case cases[] = {
      {longer, 9000, ""},  // re-encoded
      {longer, 9040, ""},  // copied
      {longer, 9120, ""},  // its sound only
      {shorter, 9000,
       "The source holds only 00:00:04 of the 00:00:07 its header states: it looks incomplete"},
      {cutWav, 9110,
       "The source holds only 00:00:02 of the 00:00:03 its header states: it looks incomplete"},
      {shortCutWav, 9100,
       "The source holds only 0.06 s of the 0.60 s its header states: it looks incomplete"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source + " to " + std::to_string(c.profile));
    const std::string out = dir / ("out." + std::string(profileById(c.profile).Extension));
    const std::string log = dir / "run.log";
    const ProcResult r = convertLogged(lineFor(c.source, out, c.profile), log);
    if (*c.reason == '\0') {
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_NEAR(test::probeMedia(out).duration, 4.0, 0.3);
      std::filesystem::remove(out);
    } else {
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_EQ(readLogReason(log), c.reason);
      EXPECT_FALSE(std::filesystem::exists(out));
    }
    std::filesystem::remove(log);
    EXPECT_TRUE(onlyEntries(dir, {"longer than its header.mkv", "shorter than its header.mkv",
                                  "cut.wav", "short cut.wav"}));
  }
}

TEST(EncoderLog, ASourceWhoseLengthIsOnlyEstimatedIsNotRefused) {
  TempFolder dir;
  // A VBR MP3 without the header that gives its length: loud, then silent, so the length
  // libavformat estimates from the first frames' bit rate is far from the real 40 seconds.
  const std::string src = dir / "vbr.mp3", out = dir / "out.mp3";
  ASSERT_TRUE(test::makeMedia(src, {"anoisesrc=d=20:a=0.8", "anullsrc=d=20:r=44100"},
                              {"-filter_complex", "[0][1]concat=n=2:v=0:a=1", "-c:a", "libmp3lame",
                               "-q:a", "0", "-write_xing", "0"}));
  const ProcResult r = test::runProgram(lineFor(src, out, 5000));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NEAR(test::probeMedia(out).duration, 40.0, 1.0);
}

TEST(EncoderLog, AFullDestinationSaysSo) {
  TempFolder dir;
  const std::string src = dir / "clip.mp4", log = dir / "full.log", mount = dir / "small";
  ASSERT_TRUE(test::makeClip(src, 6.0, "640x480"));
  ::mkdir(mount.c_str(), 0700);
  // A 64 KiB tmpfs in a mount namespace of the encoder's own: nothing outside sees it, and it
  // goes away with the encoder.
  std::vector<std::string> argv = {
      "/usr/bin/unshare",
      "-rm",
      "/bin/sh",
      "-c",
      "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 99; shift; exec \"$@\"",
      "sh",
      mount};
  for (const std::string& a : lineFor(src, mount + "/out.mp4")) argv.push_back(a);
  const ProcResult r = convertLogged(argv, log);
  if (r.status == 99) GTEST_SKIP() << "no tmpfs can be mounted here: " << r.err;
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(test::readFile(log).find("No space left on device"), std::string::npos)
      << test::readFile(log);
  EXPECT_EQ(readLogReason(log), "No space left on the destination");
}

TEST(EncoderLog, AKilledFfmpegFailsWithTheSignalAsReason) {
  TempFolder dir;
  const std::string src = dir / "long.mp4", out = dir / "out.mp4", log = dir / "long.log";
  ASSERT_TRUE(test::makeClip(src, 60.0, "640x480"));
  ::setenv(LogFileVariable, log.c_str(), 1);
  const pid_t pid = test::startProgram(lineFor(src, out), -1, -1);
  ::unsetenv(LogFileVariable);
  const std::string childrenFile =
      "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
  pid_t ffmpeg = 0;
  ASSERT_TRUE(test::waitUntil([&] {
    ffmpeg = std::atoi(test::readFile(childrenFile).c_str());
    return ffmpeg > 0;
  }));
  // Killed while at work: once it has written some of the output (the encoder's hidden file).
  ASSERT_TRUE(test::waitUntil([&] {
    for (const std::string& name : dir.entries()) {
      std::error_code ec;
      if (name != "long.mp4" && name != "long.log" &&
          std::filesystem::file_size(dir / name, ec) > 0)
        return true;
    }
    return false;
  }));
  ::kill(ffmpeg, SIGKILL);
  EXPECT_EQ(test::waitWithLimit(pid, std::chrono::seconds(20)), 1);
  EXPECT_TRUE(onlyEntries(dir, {"long.mp4", "long.log"}));
  EXPECT_EQ(readLogReason(log), "ffmpeg stopped: it was ended by signal 9 (Killed)");
}

// An ffmpeg that does no more work (stopped here with SIGSTOP, as a deadlocked one) is ended by
// the watchdog; its idle limit is shortened for the test.
TEST(EncoderLog, AnFfmpegThatStopsWorkingIsEnded) {
  TempFolder dir;
  const std::string src = dir / "long.mp4", out = dir / "out.mp4", log = dir / "long.log";
  ASSERT_TRUE(test::makeClip(src, 60.0, "640x480"));
  ::setenv(LogFileVariable, log.c_str(), 1);
  ::setenv("VIDMORA_FFMPEG_IDLE_MS", "1500", 1);
  const pid_t pid = test::startProgram(lineFor(src, out), -1, -1);
  ::unsetenv("VIDMORA_FFMPEG_IDLE_MS");
  ::unsetenv(LogFileVariable);
  const std::string childrenFile =
      "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
  pid_t ffmpeg = 0;
  for (int i = 0; i < 500 && ffmpeg == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ffmpeg = std::atoi(test::readFile(childrenFile).c_str());
  }
  ASSERT_GT(ffmpeg, 0);
  ::kill(ffmpeg, SIGSTOP);
  EXPECT_EQ(test::waitWithLimit(pid, std::chrono::seconds(30)), 1);
  EXPECT_EQ(readLogReason(log), "ffmpeg stopped responding");
  EXPECT_TRUE(onlyEntries(dir, {"long.mp4", "long.log"}));
}

TEST(EncoderLog, ARetryWithoutAudioOptionsClearsTheFirstRunsReason) {
  TempFolder dir;
  const std::string src = dir / "clip.mp4", out = dir / "out.ac3", log = dir / "clip.log";
  ASSERT_TRUE(test::makeClip(src, 1.0, "176x144"));
  ProcResult r = convertLogged(lineFor(src, out, 5020, false, 22050), log);
  ASSERT_EQ(r.status, ExitStatusAudioRejected) << r.err;
  EXPECT_EQ(readLogReason(log).rfind("Audio options refused", 0), 0u) << readLogReason(log);
  r = convertLogged(lineFor(src, out, 5020, true, 22050), log);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readLogReason(log), "");
  const std::string text = test::readFile(log);
  EXPECT_NE(text.find(LogRunMarker, 1), std::string::npos);  // two runs, one log
}

// ---- the parts ---------------------------------------------------------------------------------

TEST(OutputCheck, StreamsAndDurationMustMatchTheSource) {
  TempFolder dir;
  const std::string clip = dir / "clip.mp4", silent = dir / "silent.mp4";
  ASSERT_TRUE(test::makeClip(clip, 4.0, "176x144"));
  ASSERT_TRUE(
      test::makeMedia(silent, {"testsrc=size=176x144:rate=25:duration=4"}, {"-c:v", "mpeg4"}));
  test::writeFile(dir / "text.mp4", "not a video");
  // An audio stream that holds no sound at all.
  const std::string mute = dir / "mute.mkv";
  ASSERT_TRUE(test::makeMedia(
      mute, {"testsrc=size=176x144:rate=25:duration=4", "anullsrc=r=44100,atrim=end_sample=0"},
      {"-map", "0", "-map", "1", "-c:v", "mpeg4", "-c:a", "aac", "-t", "4"}));
  struct Case {
    std::string path;
    encoder::OutputExpectation expected;
    bool ok;
    const char* problem;
  };
  const Case cases[] = {
      {clip, {true, true, 4.0}, true, ""},
      {clip, {true, true, 4.9}, true, ""},   // within one second
      {clip, {true, true, 0.0}, true, ""},   // the source's duration unknown
      {clip, {true, false, 4.0}, true, ""},  // more than asked for is fine
      {clip, {true, true, 5.2}, false, "The converted file lasts 00:00:04 instead of 00:00:05"},
      {clip, {true, true, 2.5}, false, "The converted file lasts 00:00:04 instead of 00:00:02"},
      {silent, {true, true, 4.0}, false, "The converted file has no audio stream"},
      {silent, {false, true, 0.0}, false, "The converted file has no audio stream"},
      {mute, {true, true, 4.0}, false, "The converted file's audio stream holds no sound"},
      {mute, {true, false, 4.0}, true, ""},
      {dir / "text.mp4", {true, true, 4.0}, false, "The converted file cannot be read back"},
      {dir / "missing.mp4", {true, true, 4.0}, false, "The converted file cannot be read back"},
  };
  for (const Case& c : cases) {
    const encoder::Verification v = encoder::verifyOutput(c.path, c.expected);
    EXPECT_EQ(v.ok, c.ok) << c.path << " " << c.expected.duration;
    EXPECT_EQ(v.problem.rfind(c.problem, 0), 0u) << v.problem;
  }
  // 2 % of a long source is more than a second.
  EXPECT_TRUE(encoder::verifyOutput(clip, {true, true, 4.0 / 0.981}).ok);
}

TEST(ConversionLogFile, FfmpegsMessagesAreBoundedAndKeepTheirEnd) {
  TempFolder dir;
  const std::string path = dir / "big.log";
  {
    encoder::ConversionLog log;
    ASSERT_TRUE(log.open(path, "/v/clip.avi"));
    std::string chunk;
    for (int i = 0; i < 20000; ++i) chunk += "frame " + std::to_string(i) + " is damaged\n";
    // Pieces that split lines anywhere.
    for (std::size_t at = 0; at < chunk.size(); at += 777)
      log.ffmpegOutput(chunk.data() + at, std::min<std::size_t>(777, chunk.size() - at));
    log.ffmpegOutput("last words without an end", 25);
    log.reason("The source could not be read at 00:00:01");
  }
  const std::string text = test::readFile(path);
  EXPECT_LT(text.size(),
            encoder::ConversionLog::HeadLimit + encoder::ConversionLog::TailLimit + 4096);
  EXPECT_NE(text.find("ffmpeg: frame 0 is damaged\n"), std::string::npos);
  EXPECT_NE(text.find("bytes of ffmpeg's messages left out"), std::string::npos);
  EXPECT_NE(text.find("ffmpeg: frame 19999 is damaged\nffmpeg: last words without an end\n"
                      "reason: The source could not be read at 00:00:01\n"),
            std::string::npos);
  EXPECT_EQ(text.find("ffmpeg: frame 10000 is damaged"), std::string::npos);
  // No path, no folder, or no regular file: nothing is written, and nothing waits.
  ASSERT_EQ(::mkfifo((dir / "fifo.log").c_str(), 0600), 0);
  for (const std::string& bad : {std::string(), dir / "no/such/folder.log", dir / "fifo.log",
                                 dir.path(), std::string("/dev/null")}) {
    encoder::ConversionLog none;
    EXPECT_FALSE(none.open(bad, "x")) << bad;
  }
}

}  // namespace
}  // namespace vidmora
