#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "platform/paths.h"
#include "platform/record_stream.h"
#include "settings/profiles.h"
#include "support/temp_folder.h"

namespace vidmora {
namespace {

TSettings fixtureRecord() {
  TSettings s;
  setDefaults(s);
  s.DestDir = "/v";
  s.LastSourceDir = "/in";
  s.ShowStatusBar = 0;
  s.LastUpdateCheckDay = 0x12345;
  s.Channels = -1;
  s.VideoCodec = "MP4";
  s.ExitAfter = 1;
  return s;
}

// The file of fixtureRecord(), written out by hand.
const unsigned char FixtureBytes[] = {
    'V', 'i', 'd', 'm', 'o', 'r', 'a', 'S', 'e', 't', 't', 'i', 'n', 'g', 's', '1',
    // 100 reserved zero bytes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 2, 0, '/', 'v',  // DestDir
    0, 0,                        // ReservedDir
    3, 0, '/', 'i', 'n',         // LastSourceDir
    0x58, 0x02,                  // ProfileId 600
    1, 1, 1, 0,                  // ShowToolbar, ReservedFlag, ShowSettingsPanel, ShowStatusBar
    0x45, 0x23, 0x01, 0x00,      // LastUpdateCheckDay
    1,                           // TipAtStartup
    2, 0,                        // MaxConversions
    1, 1, 0,                     // SaveHistory, RemoveStopped, DisableVideo
    0xB0, 0, 0x90, 0,            // 176 x 144
    0x00, 0x00, 0x70, 0x41,      // 15.0f
    0xBE, 0, 0, 0,               // VideoBitrate 190, AspectMode 0
    0,                           // DisableAudio
    32, 0, 0xFF, 0xFF,           // AudioBitrate 32, Channels -1
    0x40, 0x1F, 0, 0,            // SampleRate 8000
    100, 0,                      // Volume
    3, 0, 'M', 'P', '4',         // VideoCodec
    0, 0,                        // AudioCodec
    1, 0, 1,                     // InternalPlayer, ShutdownAfter, ExitAfter
};

std::string fixtureFile() {
  return std::string(reinterpret_cast<const char*>(FixtureBytes), sizeof FixtureBytes);
}

// What a start-up reads back from the file: defaults, then the file.
TSettings loadedFrom(const std::string& path) {
  TSettings back;
  setDefaults(back);
  loadSettings(back, path);
  return back;
}

TEST(SettingsFile, WritesTheLayoutByteForByte) {
  test::TempFolder dir;
  const std::string path = settingsFilePath(dir / "conf");
  EXPECT_EQ(path, dir / "conf/settings.bin");
  ASSERT_TRUE(saveSettings(fixtureRecord(), path));  // creates the folder on first save
  EXPECT_EQ(test::readFile(path), fixtureFile());
  // Only the settings file is left in the folder: no temporary file stays behind.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir / "conf")) (void)e, ++files;
  EXPECT_EQ(files, 1);

  EXPECT_EQ(loadedFrom(path), fixtureRecord());
}

TEST(SettingsFile, RoundTripKeepsLongFoldersAndEveryField) {
  test::TempFolder dir;
  TSettings s;
  setDefaults(s);
  s.DestDir = "/" + std::string(260, 'd');       // 261 characters
  s.ReservedDir = "/" + std::string(4094, 'r');  // the longest folder read back
  s.LastSourceDir = "/ü n \"q\" %d/-x";
  s.ProfileId = 8020;
  s.ShowToolbar = 0;
  s.ReservedFlag = 0;
  s.ShowSettingsPanel = 0;
  s.LastUpdateCheckDay = -7;
  s.TipAtStartup = 0;
  s.MaxConversions = 20;
  s.SaveHistory = 0;
  s.RemoveStopped = 0;
  s.DisableVideo = 1;
  s.FrameWidth = -1;
  s.FrameHeight = 480;
  s.FrameRate = 29.976f;
  s.VideoBitrate = 4000;
  s.AspectMode = 2;
  s.DisableAudio = 1;
  s.AudioBitrate = 224;
  s.Channels = 1;
  s.SampleRate = 48000;
  s.Volume = 500;
  s.VideoCodec = std::string(CodecTextLimit, 'v');
  s.AudioCodec = "MP3";
  s.InternalPlayer = 0;
  s.ShutdownAfter = 1;
  const std::string path = dir / "settings.bin";
  ASSERT_TRUE(saveSettings(s, path));
  EXPECT_EQ(loadedFrom(path), s);

  // Saving again replaces the file whole.
  s.DestDir = "/short";
  ASSERT_TRUE(saveSettings(s, path));
  EXPECT_EQ(loadedFrom(path), s);
}

TEST(SettingsFile, ClassicFileLoadsUnchangedAndIsWrittenBackTheSame) {
  test::TempFolder dir;
  const std::string path = dir / "settings.bin";
  test::writeFile(path, fixtureFile());
  TSettings back;
  setDefaults(back);
  back.Quality = static_cast<int16_t>(QualityLevel::Small);  // what a classic file does not hold
  back.TargetHeight = 480;
  loadSettings(back, path);
  TSettings expected = fixtureRecord();
  expected.Quality = back.Quality;  // a file without the extension leaves these as they were
  expected.TargetHeight = 480;
  EXPECT_EQ(back, expected);
  // A user of the classic profiles keeps the classic file byte for byte.
  ASSERT_TRUE(saveSettings(fixtureRecord(), path));
  EXPECT_EQ(test::readFile(path), fixtureFile());
}

TEST(SettingsFile, ModernProfileRoundTripsEveryChoiceAfterTheClassicFields) {
  test::TempFolder dir;
  TSettings s = fixtureRecord();
  applyProfile(s, profileIndexById(9010));
  s.Quality = static_cast<int16_t>(QualityLevel::FixedBitrate);
  s.TargetHeight = 720;
  s.FrameRate = 23.976f;
  s.VideoBitrate = 6000;
  s.AudioBitrate = 192;
  s.SampleRate = 44100;
  s.Channels = 1;
  s.Volume = 125;
  const std::string path = dir / "settings.bin";
  ASSERT_TRUE(saveSettings(s, path));
  EXPECT_EQ(loadedFrom(path), s);

  // The classic fields keep their layout: a reader of it finds the same bytes, then the block.
  TSettings classic = s;
  classic.Quality = TSettings{}.Quality;
  classic.TargetHeight = TSettings{}.TargetHeight;
  ASSERT_TRUE(saveSettings(classic, dir / "classic.bin"));
  const std::string classicBytes = test::readFile(dir / "classic.bin");
  const std::string bytes = test::readFile(path);
  ASSERT_GT(bytes.size(), classicBytes.size());
  EXPECT_EQ(bytes.substr(0, classicBytes.size()), classicBytes);
  EXPECT_EQ(bytes.substr(classicBytes.size(), 10), "VidmoraExt");
}

TEST(SettingsFile, ExtensionBlockReadsWhatItCanAndNoMore) {
  const std::string marker = "VidmoraExt";
  struct Case {
    const char* name;
    std::string block;
    int16_t quality, targetHeight;
  };
  const int16_t keptQuality = static_cast<int16_t>(QualityLevel::High);
  const Case cases[] = {
      {"known fields", marker + std::string("\x04\x00\x00\x00\xD0\x02", 6), 0, 720},
      {"a later version's longer block",
       marker + std::string("\x08\x00\x03\x00\x68\x01\xAA\xBB\xCC\xDD", 10), 3, 360},
      {"damaged quality reads as the default", marker + std::string("\x04\x00\x4D\x00\x38\x04", 6),
       static_cast<int16_t>(DefaultQuality), 1080},
      {"cut short", marker + std::string("\x04\x00\x01", 3), keptQuality, -1},
      {"too short a length", marker + std::string("\x02\x00\x01\x00\x38\x04", 6), keptQuality, -1},
      {"foreign marker", "SomethingX" + std::string("\x04\x00\x00\x00\xD0\x02", 6), keptQuality,
       -1},
  };
  test::TempFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::writeFile(dir / "s.bin", fixtureFile() + c.block);
    TSettings back;
    setDefaults(back);
    back.Quality = keptQuality;
    loadSettings(back, dir / "s.bin");
    EXPECT_EQ(back.Quality, c.quality);
    EXPECT_EQ(back.TargetHeight, c.targetHeight);
    EXPECT_EQ(back.ExitAfter, 1);  // the classic fields read as ever
  }
}

TEST(SettingsFile, ForeignOrMissingFileLeavesTheRecord) {
  test::TempFolder dir;
  TSettings defaults;
  setDefaults(defaults);
  for (const std::string& bytes : {std::string("vidmoraSettings1") + fixtureFile().substr(16),
                                   std::string("Vidmora"), std::string()}) {
    test::writeFile(dir / "settings.bin", bytes);
    TSettings s = defaults;
    loadSettings(s, dir / "settings.bin");
    EXPECT_EQ(s, defaults);
  }
  TSettings s = defaults;
  loadSettings(s, dir / "missing.bin");
  EXPECT_EQ(s, defaults);
}

TEST(SettingsFile, FileCutShortKeepsDefaultsBeyondItsEnd) {
  // Every cut leaves each field either as stored or at its default (texts: stored or empty),
  // and a field is only ever read whole.
  TSettings defaults;
  setDefaults(defaults);
  const TSettings stored = fixtureRecord();
  const std::string file = fixtureFile();
  for (std::size_t cut = 0; cut <= file.size(); ++cut) {
    SCOPED_TRACE(cut);
    TSettings s = defaults;
    auto in = RecordStream::fromMemory(file.data(), cut);
    readSettings(*in, s);
    auto check = [](const auto& got, const auto& want, const auto& fallback) {
      EXPECT_TRUE(got == want || got == fallback);
    };
    check(s.DestDir, stored.DestDir, std::string());
    check(s.LastSourceDir, stored.LastSourceDir, std::string());
    check(s.LastUpdateCheckDay, stored.LastUpdateCheckDay, defaults.LastUpdateCheckDay);
    check(s.Channels, stored.Channels, defaults.Channels);
    check(s.FrameRate, stored.FrameRate, defaults.FrameRate);
    check(s.VideoCodec, stored.VideoCodec, std::string());
    check(s.ExitAfter, stored.ExitAfter, defaults.ExitAfter);
    if (cut == file.size()) {
      EXPECT_EQ(s, stored);
    }
  }
  // Cut inside LastUpdateCheckDay: the fields before it are read, it and the rest are not.
  const std::size_t inDay = 16 + 100 + 4 + 2 + 5 + 2 + 4 + 2;
  TSettings s = defaults;
  auto in = RecordStream::fromMemory(file.data(), inDay);
  readSettings(*in, s);
  EXPECT_EQ(s.ShowStatusBar, 0);
  EXPECT_EQ(s.LastUpdateCheckDay, 0);
  EXPECT_EQ(s.Channels, 2);
  EXPECT_EQ(s.VideoCodec, "");
}

TEST(SettingsFile, HostileLengthsLeaveTheFieldEmptyAndTheRestInStep) {
  const std::string file = fixtureFile();
  const std::size_t destAt = 16 + 100;
  struct Case {
    const char* name;
    uint16_t length;
  };
  for (const Case& c :
       {Case{"too_long", 4096}, Case{"negative", 0x8000}, Case{"minus_one", 0xFFFF}}) {
    SCOPED_TRACE(c.name);
    std::string bytes = file.substr(0, destAt);
    bytes += static_cast<char>(c.length & 0xFF);
    bytes += static_cast<char>(c.length >> 8);
    bytes += std::string(c.length, '/');
    bytes += file.substr(destAt + 4);  // after the original DestDir
    TSettings s;
    setDefaults(s);
    s.DestDir = "stale";
    auto in = RecordStream::fromMemory(bytes.data(), bytes.size());
    EXPECT_TRUE(readSettings(*in, s));
    TSettings want = fixtureRecord();
    want.DestDir.clear();
    EXPECT_EQ(s, want);
  }
  // A codec text of 50 characters is beyond the limit: empty, and the flags after it still read.
  const std::size_t codecAt = file.size() - 3 - 2 - 5;
  std::string bytes = file.substr(0, codecAt) + std::string("\x32\x00", 2) + std::string(50, 'c') +
                      file.substr(codecAt + 5);
  TSettings s;
  setDefaults(s);
  auto in = RecordStream::fromMemory(bytes.data(), bytes.size());
  readSettings(*in, s);
  TSettings want = fixtureRecord();
  want.VideoCodec.clear();
  EXPECT_EQ(s, want);
}

TEST(SettingsFile, FailedSaveLeavesTheOldFileWhole) {
  test::TempFolder dir;
  const std::string path = dir / "settings.bin";
  ASSERT_TRUE(saveSettings(fixtureRecord(), path));
  // Files may grow to 200 bytes only: the new file cannot be written whole.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 200;
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  TSettings big = fixtureRecord();
  big.DestDir = "/" + std::string(1000, 'x');
  const bool saved = saveSettings(big, path);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(saved);
  EXPECT_EQ(test::readFile(path), fixtureFile());
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) (void)e, ++files;
  EXPECT_EQ(files, 1);
  // A folder that cannot exist: nothing written, nothing thrown.
  test::writeFile(dir / "plain", "x");
  EXPECT_FALSE(saveSettings(fixtureRecord(), dir / "plain/settings.bin"));
}

TEST(SettingsFile, StartupChoosesAndCreatesTheDestination) {
  test::TempFolder dir;
  const std::string conf = dir / "conf/vidmora";
  const std::string videos = dir / "home/Videos";  // missing, with its parent

  TSettings s;
  startupSettings(s, conf, videos);  // first start: no file
  TSettings defaults;
  setDefaults(defaults);
  defaults.DestDir = videos + "/Vidmora";
  EXPECT_EQ(s, defaults);
  struct stat st {};
  ASSERT_EQ(::stat(s.DestDir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  // A stored folder that exists is kept; one that is gone falls back to the default.
  TSettings stored = fixtureRecord();
  stored.DestDir = dir.path();
  saveSettings(stored, settingsFilePath(conf));
  startupSettings(s, conf, videos);
  EXPECT_EQ(s, stored);
  stored.DestDir = dir / "gone";
  saveSettings(stored, settingsFilePath(conf));
  startupSettings(s, conf, videos);
  EXPECT_EQ(s.DestDir, videos + "/Vidmora");
  EXPECT_EQ(s.LastUpdateCheckDay, stored.LastUpdateCheckDay);

  // A foreign file: every field at its default, the destination too.
  test::writeFile(settingsFilePath(conf), "NotVidmora" + std::string(300, '\1'));
  startupSettings(s, conf, videos);
  EXPECT_EQ(s, defaults);
}

}  // namespace
}  // namespace vidmora
