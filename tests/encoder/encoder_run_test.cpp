// vidmora-encoder run as the app runs it: lines from the app's own builder, an argument vector,
// the app's progress block, and media made at test time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>

#include "encoder_test_support.h"
#include "engine/command_line.h"
#include "engine/progress_channel.h"
#include "platform/stale_files.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "support/profile_snapshot.h"

namespace vidmora {
namespace {

using test::MediaSummary;
using test::ProcResult;
using test::TempFolder;

const std::string Encoder = VIDMORA_ENCODER_PATH;
constexpr int ExitStatusOutputTaken = 3;  // the output name holds another program's file

ConversionSnapshot snapshotFor(int16_t profileId) {
  return test::profileSnapshot(profileId);
}

std::vector<std::string> conversionArgv(const std::string& src, const std::string& out,
                                        ConversionSnapshot snap, int slot = -1,
                                        const std::string& map = "000000000000",
                                        bool noAudioOptions = false) {
  return buildConversionLine(Encoder, src, out, slot, map, snap, noAudioOptions).argv;
}

bool hasHiddenLeftovers(const TempFolder& dir) {
  for (const auto& name : dir.entries())
    if (name[0] == '.') return true;
  return false;
}

// ---- probing ----------------------------------------------------------------------------------

TEST(EncoderProbe, WritesTheDurationIntoTheSlot) {
  TempFolder dir;
  const std::string clip = dir.file("clip.mp4");
  ASSERT_TRUE(test::makeClip(clip, 3.0, "160x120"));
  // An MP3 with cover art is sound with a picture, and still a source.
  const std::string song = dir.file("song.mp3");
  ASSERT_TRUE(test::makeMedia(song, {"sine=duration=2", "color=red:size=64x64:duration=1"},
                              {"-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:v", "png",
                               "-disposition:v", "attached_pic", "-c:a", "libmp3lame"}));
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  for (const auto& [path, seconds] : {std::pair{clip, 3.0}, std::pair{song, 2.0}}) {
    const int slot = block.acquireSlot();
    const ProcResult r =
        test::runProgram(buildProbeLine(Encoder, path, slot, block.mapName()).argv);
    EXPECT_EQ(r.status, 0) << r.err;
    double duration = 0;
    ASSERT_TRUE(block.readSlotDuration(slot, duration));
    EXPECT_NEAR(duration, seconds, 0.15) << path;
    block.releaseSlot(slot);
  }
  // Without a slot the answer is the exit status alone.
  EXPECT_EQ(test::runProgram(buildProbeLine(Encoder, clip, -1, block.mapName()).argv).status, 0);
}

TEST(EncoderProbe, RefusesWhatIsNotMedia) {
  TempFolder dir;
  const std::string clip = dir.file("clip.mp4");
  ASSERT_TRUE(test::makeClip(clip, 2.0, "160x120"));
  const std::string whole = test::readFile(clip);
  std::string noise(20000, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
  std::string sixtyLines;
  for (int i = 1; i <= 60; ++i)
    sixtyLines += "Line " + std::to_string(i) + " of some plain notes, nothing else here.\n";
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"notes.txt", "Just some text, not a video.\nSecond line.\n"},
      {"long notes.txt", sixtyLines},  // libavformat reads this as text art
      {"readme.avi", "hello"},
      {"empty.mp4", ""},
      {"truncated.mp4", whole.substr(0, whole.size() / 3)},
      {"noise.mpg", noise},
  };
  for (const Case& c : cases) {
    test::writeFile(dir.file(c.name), c.bytes);
    const ProcResult r = test::runProgram(buildProbeLine(Encoder, dir.file(c.name), -1, "1").argv);
    EXPECT_EQ(r.status, ExitStatusInvalidVideo) << c.name;
    EXPECT_NE(r.err.find("vidmora-encoder: "), std::string::npos) << c.name;
  }
  for (const std::string& path : {dir.file("missing.mp4"), dir.path()}) {
    EXPECT_EQ(test::runProgram(buildProbeLine(Encoder, path, -1, "1").argv).status,
              ExitStatusInvalidVideo)
        << path;
  }
}

// ---- the profiles' default lines ----------------------------------------------------------------

struct ProfileCase {
  int16_t id;
  const char* format;  // a name within ffprobe's format_name
  const char* video;   // "" = no video stream
  const char* tag;     // expected video tag, or ""
  const char* audio;
};

const ProfileCase profileCases[] = {
    {600, "3gp", "mpeg4", "", "aac"},
    {610, "3g2", "mpeg4", "", "aac"},
    {620, "3gp", "mpeg4", "", "aac"},
    {630, "asf", "wmv2", "", "wmav2"},
    {700, "mp4", "mpeg4", "", "aac"},
    {8000, "mpeg", "mpeg2video", "", "mp3"},
    {8010, "mpeg", "mpeg1video", "", "mp3"},
    {8020, "mpeg", "mpeg2video", "", "mp3"},
    {7000, "avi", "msmpeg4v2", "", "mp3"},
    {7010, "avi", "mpeg4", "DIVX", "mp3"},
    {7020, "avi", "mpeg4", "XVID", "mp3"},
    {5000, "mp3", "", "", "mp3"},
    {5020, "ac3", "", "", "ac3"},
    {5030, "m4a", "", "", "aac"},
    {5050, "wav", "", "", "pcm_s16le"},
    {5060, "asf", "", "", "wmav1"},
    {5070, "mp3", "", "", "mp2"},  // raw MPEG audio reads back as "mp3"
};

void PrintTo(const ProfileCase& c, std::ostream* os) {
  *os << "profile " << c.id;
}

class ProfileLine : public ::testing::TestWithParam<ProfileCase> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempFolder;
    ASSERT_TRUE(test::makeClip(dir_->file("source clip.mp4"), 2.0));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static TempFolder* dir_;
};
TempFolder* ProfileLine::dir_ = nullptr;

TEST_P(ProfileLine, ConvertsToTheProfilesContainerAndCodecs) {
  const ProfileCase& c = GetParam();
  ASSERT_EQ(ClassicProfileCount, 17);
  const TOutputProfile& profile = profileById(c.id);
  ASSERT_EQ(profile.Id, c.id);
  const std::string out = dir_->file("out " + std::to_string(c.id) + "." + profile.Extension);
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  const int slot = block.acquireSlot();
  const ProcResult r = test::runProgram(
      conversionArgv(dir_->file("source clip.mp4"), out, snapshotFor(c.id), slot, block.mapName()));
  ASSERT_EQ(r.status, 0) << r.err;
  double percent = 0;
  block.readSlotPercent(slot, percent);
  EXPECT_EQ(percent, 100.0);
  const MediaSummary m = test::probeMedia(out);
  ASSERT_TRUE(m.readable);
  EXPECT_NE(m.format.find(c.format), std::string::npos) << m.format;
  EXPECT_EQ(m.videoCodec, c.video);
  if (*c.tag) {
    EXPECT_EQ(m.videoTag, c.tag);
  }
  EXPECT_EQ(m.audioCodec, c.audio);
  EXPECT_EQ(m.sampleRate, profile.SampleRate);
  EXPECT_NEAR(m.duration, 2.0, 0.5);
}

INSTANTIATE_TEST_SUITE_P(AllProfiles, ProfileLine, ::testing::ValuesIn(profileCases),
                         [](const auto& info) { return std::to_string(info.param.id); });

// ---- refused audio options
// ------------------------------------------------------------------------

TEST(EncoderAudio, RefusedOptionsGive231ThenTheRetrySucceedsAndAmrNeedsNoRetry) {
  TempFolder dir;
  const std::string src = dir.file("clip.mp4");
  ASSERT_TRUE(test::makeClip(src, 1.0, "176x144"));
  struct Case {
    int16_t profile;
    const char* audioCodec;  // "" keeps the profile's
    int sampleRate;
    const char* audioAfterRetry;
    bool refused;  // false: the app's line carries no options to refuse, the first run converts
  };
  const Case cases[] = {{5020, "", 22050, "ac3", true},     // AC3 takes 32000, 44100 and 48000 only
                        {5070, "", 12000, "mp2", true},     // MP2 has no 12000
                        {600, "AMR", 8000, "aac", false}};  // no AMR encoder: the container default
  for (const Case& c : cases) {
    ConversionSnapshot snap = snapshotFor(c.profile);
    snap.SampleRate = c.sampleRate;
    if (*c.audioCodec) snap.AudioCodec = c.audioCodec;
    const std::string out = dir.file("out." + std::string(profileById(c.profile).Extension));
    ProcResult r = test::runProgram(conversionArgv(src, out, snap));
    if (c.refused) {
      EXPECT_EQ(r.status, ExitStatusAudioRejected) << c.profile << r.err;
      EXPECT_FALSE(std::filesystem::exists(out));
      EXPECT_FALSE(hasHiddenLeftovers(dir));
      r = test::runProgram(conversionArgv(src, out, snap, -1, "0", true));
    }
    ASSERT_EQ(r.status, 0) << c.profile << r.err;
    EXPECT_EQ(test::probeMedia(out).audioCodec, c.audioAfterRetry);
    std::filesystem::remove(out);
  }
}

// ---- failures
// -------------------------------------------------------------------------------------

TEST(EncoderFailure, OneLineNoLeftoversNoReservedStatus) {
  TempFolder dir;
  const std::string src = dir.file("clip.mp4");
  ASSERT_TRUE(test::makeClip(src, 1.0, "160x120"));
  ConversionSnapshot h263 = snapshotFor(600);
  h263.VideoCodec = "H263";  // H.263 takes a few fixed sizes only: ffmpeg fails at the start
  h263.FrameWidth = 100;
  h263.FrameHeight = 100;
  const std::vector<std::vector<std::string>> lines = {
      conversionArgv(src, dir.file("out.3gp"), h263),
      conversionArgv(src, dir.file("out.unknownext"), snapshotFor(600)),
      conversionArgv(dir.file("missing.mp4"), dir.file("out.3gp"), snapshotFor(600)),
      conversionArgv(src, dir.file("no folder/out.3gp"), snapshotFor(600)),
      conversionArgv(src, dir.file("clip.mp4/out.3gp"), snapshotFor(600)),  // a file as folder
      {Encoder, "-y", "-i", src, "-threads", "2", dir.file("out.3gp")},     // unknown option
      {Encoder},
  };
  for (const auto& argv : lines) {
    const ProcResult r = test::runProgram(argv);
    EXPECT_NE(r.status, 0) << argv.back();
    EXPECT_NE(r.status, ExitStatusInvalidVideo);
    EXPECT_NE(r.status, ExitStatusAudioRejected);
    EXPECT_NE(r.status, ExitOutputTaken) << r.err;  // nothing there to leave alone
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("vidmora-encoder: ", 0), 0u) << r.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"clip.mp4"});
  }
}

// ---- paths
// ------------------------------------------------------------------------------------------

TEST(EncoderPaths, AnyFileNameIsAPath) {
  TempFolder dir;
  const char* const names[] = {"with blanks  here", "quote \" and ' apostrophe",
                               "percent %d %s %%",  "Grüße ñ 映像",
                               "-leading dash",     "colon: file:x"};
  ASSERT_TRUE(test::makeClip(dir.file("seed.mp4"), 1.0, "176x144"));
  for (const char* name : names) {
    const std::string src = std::string(name) + ".mp4";
    const std::string out = std::string(name) + " out.3gp";
    std::filesystem::copy_file(dir.file("seed.mp4"), dir.file(src));
    // Absolute paths, and relative ones from the folder (so a name may start with '-').
    for (const bool relative : {false, true}) {
      test::writeFile(dir.file(out), "");  // the app's reservation of the name
      const std::string s = relative ? src : dir.file(src);
      const std::string o = relative ? out : dir.file(out);
      const std::string cwd = relative ? dir.path() : std::string();
      EXPECT_EQ(test::runProgram(buildProbeLine(Encoder, s, -1, "1").argv, cwd).status, 0) << s;
      const ProcResult r = test::runProgram(conversionArgv(s, o, snapshotFor(600)), cwd);
      ASSERT_EQ(r.status, 0) << s << ": " << r.err;
      const MediaSummary m = test::probeMedia(dir.file(out));
      EXPECT_EQ(m.videoCodec, "mpeg4") << name;
      EXPECT_EQ(m.audioCodec, "aac") << name;
    }
  }
  EXPECT_FALSE(hasHiddenLeftovers(dir));
}

// ---- stopping and dying
// ---------------------------------------------------------------------------

// A conversion slow enough to be caught running: a two-minute source upscaled to H.264, so
// only a real stop (or a kill) explains an early end.
class LongConversion : public ::testing::Test {
 protected:
  static constexpr double SourceSeconds = 120.0;
  static void SetUpTestSuite() {
    source_ = new TempFolder;
    ASSERT_TRUE(test::makeClip(source_->file("long.mp4"), SourceSeconds, "160x120"));
  }
  static void TearDownTestSuite() {
    delete source_;
    source_ = nullptr;
  }
  void SetUp() override {
    src_ = dir_.file("long.mp4");
    out_ = dir_.file("long out.mp4");
    ASSERT_TRUE(std::filesystem::copy_file(source_->file("long.mp4"), src_));
    ASSERT_TRUE(block_.create());
    slot_ = block_.acquireSlot();
    ConversionSnapshot snap = snapshotFor(700);
    snap.VideoCodec = "H264";
    snap.FrameWidth = 1280;
    snap.FrameHeight = 720;
    argv_ = conversionArgv(src_, out_, snap, slot_, block_.mapName());
  }
  void start() {
    pid_ = test::startProgram(argv_, -1, -1);
    ASSERT_GT(pid_, 0);
  }
  void TearDown() override {
    if (pid_ > 0) test::waitWithLimit(pid_, std::chrono::seconds(10));
  }
  // Waits until the encoder reports progress above zero.
  bool waitForProgress() {
    for (int i = 0; i < 300; ++i) {
      double percent = 0;
      block_.readSlotPercent(slot_, percent);
      if (percent > 0.0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // The encoder's child processes.
  std::vector<pid_t> children() const {
    std::vector<pid_t> pids;
    std::ifstream in("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) +
                     "/children");
    for (pid_t p; in >> p;) pids.push_back(p);
    return pids;
  }
  TempFolder dir_;
  ProgressBlock block_;
  std::string src_, out_;
  int slot_ = -1;
  std::vector<std::string> argv_;
  pid_t pid_ = -1;
  static TempFolder* source_;
};
TempFolder* LongConversion::source_ = nullptr;

// Whether a process has ended (gone, or a zombie).
bool processEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string id, comm, state;
  return !(stat >> id >> comm >> state) || state == "Z";
}

TEST_F(LongConversion, StopByteEndsWithAReadablePartialFile) {
  start();
  ASSERT_TRUE(waitForProgress());
  block_.requestSlotStop(slot_);
  const int status = test::waitWithLimit(pid_, std::chrono::seconds(5));
  pid_ = -1;
  EXPECT_EQ(status, 0);
  double percent = 0;
  block_.readSlotPercent(slot_, percent);
  EXPECT_LT(percent, 50.0);
  const MediaSummary m = test::probeMedia(out_);
  ASSERT_TRUE(m.readable);
  EXPECT_EQ(m.videoCodec, "h264");
  EXPECT_GT(m.duration, 0.0);
  EXPECT_LT(m.duration, SourceSeconds / 2);  // ended by the stop, far from the end
  EXPECT_FALSE(hasHiddenLeftovers(dir_));
}

TEST_F(LongConversion, FfmpegDiesWithTheEncoder) {
  start();
  ASSERT_TRUE(waitForProgress());
  const std::vector<pid_t> kids = children();
  ASSERT_EQ(kids.size(), 1u);
  kill(pid_, SIGKILL);
  test::waitWithLimit(pid_, std::chrono::seconds(5));
  pid_ = -1;
  bool gone = false;
  for (int i = 0; i < 100 && !(gone = processEnded(kids[0])); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(gone);
  EXPECT_FALSE(std::filesystem::exists(out_));  // never a half-written file under the final name
  // The killed encoder could not clean up; its leftover is provably stale now.
  EXPECT_TRUE(hasHiddenLeftovers(dir_));
  EXPECT_EQ(removeStaleTempFiles(dir_.path()), 1);
  EXPECT_EQ(dir_.entries(), std::vector<std::string>{"long.mp4"});
}

TEST_F(LongConversion, TerminationRemovesTheUnfinishedOutput) {
  start();
  ASSERT_TRUE(waitForProgress());
  kill(pid_, SIGTERM);
  const int status = test::waitWithLimit(pid_, std::chrono::seconds(5));
  pid_ = -1;
  EXPECT_NE(status, 0);
  EXPECT_EQ(dir_.entries(), std::vector<std::string>{"long.mp4"});
}

// The app dies (killed, or ended by a signal) mid-conversion: the encoder and ffmpeg end too,
// and nothing is left in the destination.
TEST_F(LongConversion, TheEncoderEndsWithTheApp) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // orphans come back here to be waited for
  for (const int signal : {SIGKILL, SIGTERM}) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t app = fork();
    if (app == 0) {
      const pid_t encoder = test::startProgram(argv_, -1, -1);
      (void)!write(report[1], &encoder, sizeof encoder);
      for (;;) pause();
    }
    close(report[1]);
    ASSERT_EQ(read(report[0], &pid_, sizeof pid_), static_cast<ssize_t>(sizeof pid_));
    close(report[0]);
    ASSERT_TRUE(waitForProgress()) << signal;
    const std::vector<pid_t> kids = children();
    kill(app, signal);
    waitpid(app, nullptr, 0);
    EXPECT_NE(test::waitWithLimit(pid_, std::chrono::seconds(5)), -2) << signal;
    pid_ = -1;
    for (const pid_t kid : kids) {
      bool gone = false;
      for (int i = 0; i < 100 && !(gone = processEnded(kid)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      EXPECT_TRUE(gone) << signal;
      while (waitpid(kid, nullptr, WNOHANG) > 0) {
      }
    }
    EXPECT_EQ(dir_.entries(), std::vector<std::string>{"long.mp4"}) << signal;
    block_.releaseSlot(slot_);
    slot_ = block_.acquireSlot();
  }
}

// A stop closes the file as ffmpeg's own 'q' does, though the encoder still holds frames it looks
// ahead at (VP9): the kept part plays and has its duration (a WebM killed before its end has
// none, or nothing on disk at all).
TEST(EncoderStop, TheKeptPartOfAStoppedConversionHasItsDuration) {
  TempFolder dir;
  const std::string src = dir.file("wide.mp4"), out = dir.file("wide.webm");
  ASSERT_TRUE(test::makeClip(src, 20.0, "640x360"));
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  const int slot = block.acquireSlot();
  const pid_t pid = test::startProgram(
      conversionArgv(src, out, snapshotFor(9020), slot, block.mapName()), -1, -1);
  double percent = 0;
  for (int i = 0; i < 3000 && percent < 20.0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    block.readSlotPercent(slot, percent);
  }
  ASSERT_GE(percent, 20.0);
  block.requestSlotStop(slot);
  EXPECT_EQ(test::waitWithLimit(pid, std::chrono::seconds(10)), 0);
  const MediaSummary m = test::probeMedia(out);
  ASSERT_TRUE(m.readable);
  EXPECT_EQ(m.videoCodec, "vp9");
  EXPECT_GT(m.duration, 3.0);
  EXPECT_LT(m.duration, 20.0);
  EXPECT_FALSE(hasHiddenLeftovers(dir));
}

// A file that takes the output's name while the conversion runs is never replaced.
TEST_F(LongConversion, ANameTakenMeanwhileIsLeftAlone) {
  start();
  ASSERT_TRUE(waitForProgress());
  test::writeFile(out_, "another program's file");
  block_.requestSlotStop(slot_);
  const int status = test::waitWithLimit(pid_, std::chrono::seconds(5));
  pid_ = -1;
  EXPECT_EQ(status, ExitStatusOutputTaken);
  EXPECT_EQ(test::readFile(out_), "another program's file");
  EXPECT_FALSE(hasHiddenLeftovers(dir_));
}

// ---- the output name ---------------------------------------------------------------------------

// What is under the output name decides: free or the app's empty reservation is taken, anything
// else is left alone with its own exit status.
TEST(EncoderOutput, PublishesOnlyOverNothingOrAReservation) {
  TempFolder dir;
  const std::string src = dir.file("clip.mp4");
  ASSERT_TRUE(test::makeClip(src, 1.0, "160x120"));
  test::writeFile(dir.file("victim"), "precious");
  struct Case {
    const char* what;
    std::function<void(const std::string&)> plant;
    bool published;
  };
  const Case cases[] = {
      {"free", [](const std::string&) {}, true},
      {"reservation", [](const std::string& p) { test::writeFile(p, ""); }, true},
      {"file", [](const std::string& p) { test::writeFile(p, "someone's file"); }, false},
      {"link", [&](const std::string& p) { (void)!symlink(dir.file("victim").c_str(), p.c_str()); },
       false},
      {"dangling link", [&](const std::string& p) { (void)!symlink("nowhere", p.c_str()); }, false},
      {"folder", [](const std::string& p) { mkdir(p.c_str(), 0700); }, false},
  };
  for (const Case& c : cases) {
    const std::string out = dir.file(std::string(c.what) + ".3gp");
    c.plant(out);
    struct stat before {};
    lstat(out.c_str(), &before);
    const ProcResult r = test::runProgram(conversionArgv(src, out, snapshotFor(600)));
    struct stat after {};
    ASSERT_EQ(lstat(out.c_str(), &after), 0) << c.what;
    if (c.published) {
      EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
      EXPECT_EQ(test::probeMedia(out).videoCodec, "mpeg4") << c.what;
    } else {
      EXPECT_EQ(r.status, ExitStatusOutputTaken) << c.what << ": " << r.err;
      EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
      EXPECT_EQ(after.st_size, before.st_size) << c.what;
    }
  }
  EXPECT_EQ(test::readFile(dir.file("victim")), "precious");
  EXPECT_FALSE(hasHiddenLeftovers(dir));
}

// Links planted under every hidden name the encoder could have used with a predictable name
// (the next few hundred process ids) are never followed.
TEST(EncoderOutput, PlantedLinksAreNeverFollowed) {
  TempFolder dir;
  const std::string src = dir.file("clip.mp4");
  ASSERT_TRUE(test::makeClip(src, 1.0, "160x120"));
  const std::string victim = dir.file("victim");
  test::writeFile(victim, "precious");
  long last = 0;
  std::ifstream("/proc/sys/kernel/ns_last_pid") >> last;
  ASSERT_GT(last, 0);
  for (long pid = last + 1; pid <= last + 400; ++pid)
    (void)!symlink(victim.c_str(),
                   dir.file(".x.3gp." + std::to_string(pid) + ".vidmora-part").c_str());
  const ProcResult r = test::runProgram(conversionArgv(src, dir.file("x.3gp"), snapshotFor(600)));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::readFile(victim), "precious");
  struct stat st {};
  ASSERT_EQ(lstat(dir.file("x.3gp").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(test::probeMedia(dir.file("x.3gp")).videoCodec, "mpeg4");
}

}  // namespace
}  // namespace vidmora
