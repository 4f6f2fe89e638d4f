#include "settings/profiles.h"

#include <gtest/gtest.h>

#include <vector>

namespace vidmora {
namespace {

TEST(Profiles, TableShapeAndLookups) {
  // The classic rows first, in their order; the modern ones after them.
  const int16_t ids[] = {600,  610,  620,  630,  700,  8000, 8010, 8020, 7000,
                         7010, 7020, 5000, 5020, 5030, 5050, 5060, 5070, 9000,
                         9010, 9020, 9030, 9040, 9050, 9100, 9110, 9120, -1};
  static_assert(sizeof ids / sizeof ids[0] == ProfileCount + 1);
  for (int i = 0; i <= ProfileCount; ++i) EXPECT_EQ(OutputProfiles[i].Id, ids[i]) << i;
  EXPECT_EQ(profileIndexById(5060), 15);  // row 16 counted from 1
  EXPECT_EQ(profileIndexById(9999), 0);
  EXPECT_EQ(profileIndexById(-1), 0);  // the end row is never a profile
  EXPECT_EQ(&profileById(9999), &OutputProfiles[0]);
  EXPECT_EQ(profileByPosition(16), 16);
  EXPECT_EQ(profileByPosition(17), 17);
  EXPECT_EQ(profileByPosition(ProfileCount), 0);
  EXPECT_EQ(profileByPosition(-3), 0);
  EXPECT_STREQ(OutputProfiles[2].Name, "BlackBerry 3GP Video (*.3gp)");
  EXPECT_STREQ(OutputProfiles[3].Name, "Pocket PC Video (*.wmv)");
  for (int i = 0; i < ProfileCount; ++i) {
    const TOutputProfile& p = OutputProfiles[i];
    const ProfileKind kind = profileKind(p.Id);
    EXPECT_EQ(p.Adjustable, kind != ProfileKind::Remux) << p.Id;
    EXPECT_EQ(p.AudioOnly, (p.Id >= 5000 && p.Id < 6000) || kind == ProfileKind::Sound) << p.Id;
    EXPECT_EQ(kind == ProfileKind::Classic, i < ClassicProfileCount) << p.Id;
    // Every name ends with its extension pattern.
    const std::string tail = std::string("(*.") + p.Extension + ")";
    const std::string name = p.Name;
    EXPECT_EQ(name.substr(name.size() - tail.size()), tail) << name;
  }
}

TEST(Profiles, DefaultListsFillOnlyMissingLists) {
  fillDefaultLists();
  fillDefaultLists();  // idempotent
  const TOutputProfile& mp3 = OutputProfiles[profileIndexById(5000)];
  std::vector<std::string> sizes;
  for (const FrameSize* s = mp3.FrameSizes; s->width != 0; ++s) sizes.push_back(frameSizeLabel(*s));
  ASSERT_EQ(sizes.size(), 19u);
  EXPECT_EQ(sizes.front(), "80 x 60");
  EXPECT_EQ(sizes.back(), "Original");
  EXPECT_EQ(mp3.VideoCodecs, nullptr);  // codec lists get no default

  const TOutputProfile& bb = OutputProfiles[2];
  EXPECT_EQ(indexOfFloat(bb.FrameRates, 29.976f), 3);
  EXPECT_EQ(indexOfInt16(bb.AudioBitrates, 128), 3);
  const TOutputProfile& ppc = OutputProfiles[3];
  EXPECT_EQ(indexOfInt16(ppc.AudioBitrates, 196), 5);
  EXPECT_EQ(indexOfInt16(ppc.AudioBitrates, 192), 0);  // not in the list: first entry
  EXPECT_EQ(indexOfInt16(OutputProfiles[0].AudioBitrates, 320), 12);
  EXPECT_EQ(indexOfInt32(OutputProfiles[0].SampleRates, 48000), 7);
}

TEST(Profiles, IndexOfLookups) {
  const int16_t shorts[] = {5, -1, 7, 0};
  int raw = 99;
  EXPECT_EQ(indexOfInt16(shorts, 7, &raw), 2);
  EXPECT_EQ(raw, 2);
  EXPECT_EQ(indexOfInt16(shorts, 8, &raw), 0);
  EXPECT_EQ(raw, -1);
  EXPECT_EQ(indexOfInt16(ChannelChoices, 2), 1);
  EXPECT_EQ(indexOfInt16(nullptr, 2, &raw), 0);
  EXPECT_EQ(raw, -1);
  const int32_t longs[] = {8000, 44100, 0};
  EXPECT_EQ(indexOfInt32(longs, 44100, &raw), 1);
  const float rates[] = {15.0f, 23.976f, -1.0f, 0.0f};
  EXPECT_EQ(indexOfFloat(rates, -1.0f), 2);
  EXPECT_EQ(indexOfFloat(rates, 23.97f, &raw), 0);
  EXPECT_EQ(raw, -1);
  const FrameSize sizes[] = {{128, 96}, {176, 144}, {-1, -1}, {0, 0}};
  EXPECT_EQ(indexOfFrameSize(sizes, -1, -1), 2);
  EXPECT_EQ(indexOfFrameSize(sizes, 176, 96), 0);
  const char* const codecs[] = {"MP4", "H263", nullptr};
  EXPECT_EQ(indexOfText(codecs, "h263"), 1);
  EXPECT_EQ(indexOfText(codecs, ""), 0);
  EXPECT_EQ(indexOfText(nullptr, "MP4"), 0);
  const char* const endsEmpty[] = {"A", "", "B", nullptr};
  EXPECT_EQ(indexOfText(endsEmpty, "B"), 0);
}

TEST(Profiles, ChooserLabels) {
  const std::pair<float, const char*> rates[] = {
      {29.976f, "29.976  (NTSC)"},
      {25.0f, "25         (PAL)"},
      {24.0f, "24"},
      {23.976f, "23.976"},
      {15.0f, "15"},
      {-1.0f, "Original"},
      {-5.0f, "Original"},
      {30.0f, "30"},
  };
  for (const auto& [rate, label] : rates) EXPECT_EQ(frameRateLabel(rate), label) << rate;
  EXPECT_EQ(frameRateText(29.976f), "29.976");

  EXPECT_EQ(volumeLabel(4), "100%  (normal)");
  EXPECT_EQ(volumeLabel(6), "150%");
  EXPECT_EQ(volumeLabel(0), "0%");
  EXPECT_EQ(volumeLabel(20), "500%");

  EXPECT_EQ(frameSizeLabel({176, 144}), "176 x 144");
  EXPECT_EQ(frameSizeLabel({-1, -1}), "Original");
  EXPECT_EQ(bitrateLabel(190), "190");
  EXPECT_EQ(bitrateLabel(-1), "Original");
  EXPECT_EQ(channelsLabel(1), "Mono (1)");
  EXPECT_EQ(channelsLabel(2), "Stereo (2)");
  EXPECT_EQ(channelsLabel(-1), "Original");

  EXPECT_EQ(codecLabel(OutputProfiles[profileIndexById(5050)].VideoCodec), "(Default)");
  EXPECT_EQ(codecLabel(OutputProfiles[profileIndexById(5000)].VideoCodec), "(Default)");
  EXPECT_EQ(codecLabel(OutputProfiles[profileIndexById(7000)].VideoCodec), "MSMPEG4V2");
  EXPECT_EQ(codecLabel("h263"), "H263");
  EXPECT_EQ(codecLabel(std::string(60, 'a').c_str()), std::string(49, 'A'));
}

}  // namespace
}  // namespace vidmora
