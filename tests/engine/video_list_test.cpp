// The list model: primitives, bulk state changes, trimming, the extension test.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "videolist/video_entry.h"

namespace vidmora {
namespace {

std::unique_ptr<VideoEntry> entry(const std::string& source, int16_t state) {
  auto e = std::make_unique<VideoEntry>(source);
  e->setState(state);
  return e;
}

TEST(VideoList, FreshEntryAndPrimitives) {
  VideoEntry fresh("/v/a.avi");
  EXPECT_EQ(fresh.kind, 0);
  EXPECT_EQ(fresh.stateValue(), Starting);
  EXPECT_TRUE(fresh.outputName.empty());
  EXPECT_TRUE(fresh.outputPath.empty());
  EXPECT_FALSE(fresh.stopRequested.load());

  VideoList list;
  for (const char* name : {"a", "b", "c"}) list.append(entry(name, Ready));
  EXPECT_EQ(list.removeAt(3), nullptr);
  EXPECT_EQ(list.removeAt(-1), nullptr);
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list.at(1).sourcePath, "b");
  EXPECT_EQ(list.removeAt(0)->sourcePath, "a");
  EXPECT_EQ(list.at(0).sourcePath, "b");
}

TEST(VideoList, CountRequeueReindexAndTrim) {
  VideoList list;
  const int16_t states[] = {Ready, Cancelled, Done, Cancelled, ConversionError, Ready};
  for (int16_t s : states) list.append(entry("x", s));
  int cancelled = -1;
  EXPECT_EQ(countReady(list, &cancelled), 2);
  EXPECT_EQ(cancelled, 2);
  EXPECT_EQ(requeueCancelled(list), 4);
  EXPECT_EQ(countReady(list, &cancelled), 4);
  EXPECT_EQ(cancelled, 0);

  VideoList big;
  for (int i = 0; i < MaxEntries + 1; ++i) big.append(entry(std::to_string(i), Done));
  EXPECT_EQ(trimToMax(big), 1);
  ASSERT_EQ(big.count(), MaxEntries);
  EXPECT_EQ(big.at(0).sourcePath, "1");  // the oldest went
  for (int i = 0; i < big.count(); i += 997) EXPECT_EQ(big.at(i).listIndex, i);
  EXPECT_EQ(big.at(MaxEntries - 1).listIndex, MaxEntries - 1);
}

TEST(VideoList, RemoveMissingEntriesKeepsOnlyExistingOutputs) {
  test::TempFolder dir;
  test::writeFile(dir / "kept.3gp", "x");
  VideoList list;
  list.append(entry("ready", Ready));  // never converted: empty output path
  auto done = entry("done", Done);
  done->outputPath = dir / "kept.3gp";
  list.append(std::move(done));
  auto gone = entry("gone", Done);
  gone->outputPath = dir / "gone.3gp";
  list.append(std::move(gone));
  EXPECT_EQ(removeMissingEntries(list), 2);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(list.at(0).sourcePath, "done");
  EXPECT_EQ(list.at(0).listIndex, 0);
}

TEST(VideoList, AcceptedExtensions) {
  struct Case {
    const char* ext;
    bool accepted;
  } cases[] = {{"avi", true},  {".avi", true},  {"AVI", true},    {"Mp4", true},   {"3gp", true},
               {"mkv", true},  {"flac", true},  {"txt", false},   {"", false},     {".", false},
               {"av", false},  {"avi ", false}, {"..avi", false}, {"mp4,", false}, {"GIF", true},
               {"apng", true}, {"m4s", true},   {"tsv", true},    {"caf", true},   {"png", true}};
  for (const Case& c : cases) EXPECT_EQ(isAcceptedExtension(c.ext), c.accepted) << c.ext;
  EXPECT_EQ(extensionOf("/a.b/clip.AVI"), "AVI");
  EXPECT_EQ(extensionOf("/a.b/clip"), "");
  EXPECT_EQ(baseNameOf("/v/my clip.v2.avi"), "my clip.v2");
  EXPECT_EQ(baseNameOf("noext"), "noext");
}

}  // namespace
}  // namespace vidmora
