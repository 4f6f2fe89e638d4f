// Presets: kept, renamed, deleted, exported and imported; files that are not what they claim.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "settings/presets.h"
#include "settings/profiles.h"
#include "support/temp_folder.h"

namespace vidmora {
namespace {

ConversionSnapshot valuesOf(int16_t id) {
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(id));
  ConversionSnapshot v;
  takeSnapshot(v, s);
  v.DestDir = v.ReservedDir = v.LastSourceDir = "";
  return v;
}

TEST(Presets, KeptRenamedDeletedAndBackAfterALoad) {
  test::TempFolder dir;
  const std::string path = dir / "config/presets.json";
  PresetStore store(path);
  EXPECT_EQ(store.load(), PresetError::None);  // no file yet: no presets
  ConversionSnapshot film = valuesOf(9010);
  film.Quality = static_cast<int16_t>(QualityLevel::Small);
  film.TargetHeight = 720;
  film.FrameRate = 23.976f;
  film.DestDir = "/not/kept";
  ASSERT_EQ(store.add("  Film for the tablet ", film), PresetError::None);
  ASSERT_EQ(store.add("Song", valuesOf(9110)), PresetError::None);

  const struct {
    PresetError got;
    PresetError expected;
  } refusals[] = {
      {store.add("film FOR the tablet", film), PresetError::NameTaken},
      {store.add(OutputProfiles[0].Name, film), PresetError::NameTaken},  // a profile's name
      {store.add("   ", film), PresetError::EmptyName},
      {store.add(std::string(PresetNameLimit + 1, 'x'), film), PresetError::EmptyName},
      {store.add("Odd",
                 [] {
                   ConversionSnapshot v = valuesOf(9010);
                   v.ProfileId = 4321;
                   return v;
                 }()),
       PresetError::UnknownProfile},
      {store.rename("nothing", "x"), PresetError::NotFound},
      {store.rename("song", "Film for the tablet"), PresetError::NameTaken},
      {store.remove("nothing"), PresetError::NotFound},
  };
  for (const auto& r : refusals) EXPECT_EQ(r.got, r.expected);
  ASSERT_EQ(store.presets().size(), 2u);

  ASSERT_EQ(store.rename("SONG", "Lossless"), PresetError::None);
  PresetStore again(path);
  ASSERT_EQ(again.load(), PresetError::None);
  ASSERT_EQ(again.presets().size(), 2u);
  const Preset* kept = again.find("film for the tablet");
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->name, "Film for the tablet");
  film.DestDir = "";
  EXPECT_EQ(kept->values, film);  // every value, the frame rate and quality included
  EXPECT_NE(again.find("Lossless"), nullptr);
  EXPECT_EQ(again.find("Song"), nullptr);

  ASSERT_EQ(again.remove("lossless"), PresetError::None);
  PresetStore third(path);
  ASSERT_EQ(third.load(), PresetError::None);
  EXPECT_EQ(third.presets().size(), 1u);
}

TEST(Presets, ExportAndImportKeepEveryValueAndNeverReplaceAUsersPreset) {
  test::TempFolder dir;
  PresetStore mine(dir / "mine.json");
  ASSERT_EQ(mine.add("Web", valuesOf(9020)), PresetError::None);
  ASSERT_EQ(mine.add("Talk", valuesOf(9100)), PresetError::None);
  ASSERT_EQ(mine.exportTo(dir / "export.json"), PresetError::None);

  PresetStore theirs(dir / "theirs.json");
  ASSERT_EQ(theirs.add("web", valuesOf(9000)), PresetError::None);
  int imported = 0;
  ASSERT_EQ(theirs.importFrom(dir / "export.json", &imported), PresetError::None);
  EXPECT_EQ(imported, 2);
  ASSERT_EQ(theirs.presets().size(), 3u);
  EXPECT_EQ(theirs.find("web")->values.ProfileId, 9000);  // the user's own stays
  ASSERT_NE(theirs.find("Web (2)"), nullptr);
  EXPECT_EQ(theirs.find("Web (2)")->values, mine.find("Web")->values);
  EXPECT_EQ(theirs.find("Talk")->values, mine.find("Talk")->values);
  EXPECT_EQ(theirs.importFrom(dir / "missing.json"), PresetError::ReadFailed);
  EXPECT_EQ(theirs.presets().size(), 3u);
}

TEST(Presets, FilesThatAreNotPresetFilesAreRefusedAndLeftAlone) {
  const std::string head = R"({"format":"vidmora-presets","version":1,"presets":)";
  const struct {
    std::string text;
    PresetError expected;
  } cases[] = {
      {"", PresetError::BadFile},
      {"{not json", PresetError::BadFile},
      {"[]", PresetError::BadFile},
      {R"({"format":"other","version":1,"presets":[]})", PresetError::BadFile},
      {R"({"format":"vidmora-presets","version":2,"presets":[]})", PresetError::NewerVersion},
      {R"({"format":"vidmora-presets","version":"1","presets":[]})", PresetError::BadFile},
      {head + R"({}})", PresetError::BadFile},
      {head + R"([{"profileId":9010}]})", PresetError::BadFile},  // no name
      {head + R"([{"name":"a","profileId":1}]})", PresetError::UnknownProfile},
      {head + R"([{"name":"a","profileId":99999}]})", PresetError::UnknownProfile},
      {head + R"([{"name":"a","profileId":9010,"volume":40000}]})", PresetError::BadFile},
      {head + R"([{"name":"a","profileId":9010,"frameRate":1e300}]})", PresetError::BadFile},
      {head + R"([{"name":"a","profileId":9010,"quality":"ultra"}]})", PresetError::BadFile},
      {head + R"([{"name":"a","profileId":9010,"disableAudio":1}]})", PresetError::BadFile},
      {head + R"([{"name":"","profileId":9010}]})", PresetError::EmptyName},
  };
  for (const auto& c : cases) {
    std::vector<Preset> out;
    EXPECT_EQ(presetsFromJson(c.text, out), c.expected) << c.text;
    EXPECT_TRUE(out.empty());
  }

  // Fields a preset leaves out are its profile's defaults.
  std::vector<Preset> out;
  ASSERT_EQ(presetsFromJson(head + R"([{"name":"Short","profileId":9010,"quality":"high"}]})", out),
            PresetError::None);
  ASSERT_EQ(out.size(), 1u);
  ConversionSnapshot expected = valuesOf(9010);
  expected.Quality = static_cast<int16_t>(QualityLevel::High);
  EXPECT_EQ(out[0].values, expected);

  // A damaged file is reported and never overwritten by a later change.
  test::TempFolder dir;
  const std::string path = dir / "presets.json";
  test::writeFile(path, "{damaged");
  PresetStore store(path);
  EXPECT_EQ(store.load(), PresetError::BadFile);
  EXPECT_EQ(store.add("New", valuesOf(9010)), PresetError::WriteFailed);
  EXPECT_EQ(test::readFile(path), "{damaged");
}

}  // namespace
}  // namespace vidmora
