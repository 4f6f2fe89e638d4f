#include "settings/settings.h"

#include <gtest/gtest.h>

#include "settings/profiles.h"

namespace vidmora {
namespace {

TEST(Settings, Defaults) {
  TSettings s;
  s.DestDir = "/somewhere";
  s.VideoCodec = "H264";
  s.MaxConversions = 9;
  s.AspectMode = 2;
  setDefaults(s);
  EXPECT_EQ(s.DestDir, "");
  EXPECT_EQ(s.ReservedDir, "");
  EXPECT_EQ(s.LastSourceDir, "");
  EXPECT_EQ(s.ProfileId, 600);
  EXPECT_EQ(s.FrameWidth, 176);
  EXPECT_EQ(s.FrameHeight, 144);
  EXPECT_EQ(s.FrameRate, 15.0f);
  EXPECT_EQ(s.VideoBitrate, 190);
  EXPECT_EQ(s.AudioBitrate, 32);
  EXPECT_EQ(s.Channels, 2);
  EXPECT_EQ(s.SampleRate, 8000);
  EXPECT_EQ(s.Volume, 100);
  EXPECT_EQ(s.VideoCodec, "");
  EXPECT_EQ(s.AudioCodec, "");
  EXPECT_EQ(s.MaxConversions, 2);
  EXPECT_EQ(s.AspectMode, 0);
  EXPECT_TRUE(s.ShowToolbar && s.ShowSettingsPanel && s.ShowStatusBar && s.TipAtStartup);
  EXPECT_TRUE(s.SaveHistory && s.RemoveStopped && s.InternalPlayer && s.ReservedFlag);
  EXPECT_FALSE(s.DisableVideo || s.DisableAudio || s.ShutdownAfter || s.ExitAfter);
  EXPECT_EQ(s.LastUpdateCheckDay, 0);
}

TEST(Settings, ApplyProfile) {
  TSettings s;
  setDefaults(s);
  s.DisableVideo = 1;
  s.AspectMode = 1;
  s.Volume = 250;
  applyProfile(s, profileIndexById(5050));
  EXPECT_EQ(s.ProfileId, 5050);
  EXPECT_EQ(s.FrameWidth, -1);
  EXPECT_EQ(s.FrameRate, -1.0f);
  EXPECT_EQ(s.VideoBitrate, -1);
  EXPECT_EQ(s.SampleRate, 44100);
  EXPECT_EQ(s.VideoCodec, "");  // the row has no video codec
  EXPECT_EQ(s.AudioCodec, "pcm");
  EXPECT_EQ(s.DisableVideo, 0);
  EXPECT_EQ(s.AspectMode, 0);
  EXPECT_EQ(s.Volume, 100);
  applyProfile(s, 42);  // not a row: the first profile
  EXPECT_EQ(s.ProfileId, 600);
  EXPECT_EQ(s.VideoCodec, "MP4");
  EXPECT_EQ(s.AudioCodec, "AAC");
}

TEST(Settings, SnapshotCopiesConversionFieldsOnly) {
  TSettings s;
  setDefaults(s);
  s.DestDir = "/out";
  s.ReservedDir = "/reserved";
  s.LastSourceDir = "/in";
  applyProfile(s, profileIndexById(630));
  s.AspectMode = 2;
  s.DisableAudio = 1;
  s.Volume = 150;
  s.MaxConversions = 7;
  s.ExitAfter = 1;
  s.AudioCodec = std::string(60, 'a');

  ConversionSnapshot snap;
  snap.MaxConversions = 3;
  takeSnapshot(snap, s);
  EXPECT_EQ(snap.DestDir, "/out");
  EXPECT_EQ(snap.ReservedDir, "/reserved");
  EXPECT_EQ(snap.LastSourceDir, "/in");
  EXPECT_EQ(snap.ProfileId, 630);
  EXPECT_EQ(snap.FrameWidth, 320);
  EXPECT_EQ(snap.FrameRate, 24.0f);
  EXPECT_EQ(snap.VideoCodec, "WMV2");
  EXPECT_EQ(snap.AudioCodec, std::string(CodecTextLimit, 'a'));
  EXPECT_EQ(snap.AspectMode, 2);
  EXPECT_EQ(snap.DisableAudio, 1);
  EXPECT_EQ(snap.Volume, 150);
  EXPECT_EQ(snap.MaxConversions, 3);  // not a conversion field
  EXPECT_EQ(snap.ExitAfter, 0);
}

}  // namespace
}  // namespace vidmora
