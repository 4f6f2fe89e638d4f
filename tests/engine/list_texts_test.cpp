// Cell texts, status texts and row images.
#include <gtest/gtest.h>

#include "engine/list_texts.h"
#include "engine/progress_channel.h"

namespace vidmora {
namespace {

TEST(ListTexts, CellsOfAnEntry) {
  VideoEntry e("/videos/100% fun %s.avi");
  e.durationSeconds = 3725;
  e.profileId = 600;
  EXPECT_EQ(cellText(e, ColumnSource, nullptr), "/videos/100% fun %s.avi");
  EXPECT_EQ(cellText(e, ColumnDuration, nullptr), "01:02:05");
  EXPECT_EQ(cellText(e, ColumnName, nullptr), "NoName");
  e.outputName = "fun";
  EXPECT_EQ(cellText(e, ColumnName, nullptr), "fun (.3gp)");
  e.profileId = 12345;  // unknown profile: the first row's extension
  EXPECT_EQ(cellText(e, ColumnName, nullptr), "fun (.3gp)");
  // Once a conversion reserved its output, the file's own name; a Ready row shows its plan.
  e.outputPath = "/out/fun(1).3gp";
  for (const int16_t state : {Converting, Done, Cancelled, ConversionError}) {
    e.setState(state);
    EXPECT_EQ(cellText(e, ColumnName, nullptr), "fun(1).3gp") << state;
  }
  e.setState(Ready);
  EXPECT_EQ(cellText(e, ColumnName, nullptr), "fun (.3gp)");
  EXPECT_EQ(cellText(e, 7, nullptr), "");
  EXPECT_EQ(durationText(0), "00:00:00");
  EXPECT_EQ(durationText(360000), "100:00:00");
}

TEST(ListTexts, StatusTextAndImageOfEveryState) {
  struct Case {
    int16_t state;
    const char* text;
    int image;
  } cases[] = {
      {Starting, "Starting", 1},
      {GettingInfo, "Get Video Info  ", 1},
      {Downloading, "Downloading  ", 1},
      {NotFound, "Not found", 3},
      {Converting, "Converting", 1},  // no slot
      {Done, "OK     (1.00 KB)", 2},
      {Cancelled, "Cancelled", 3},
      {CancelledNotFound, "Cancelled (not found)", 3},
      {ConversionError, "Conversion Error", 3},
      {10, "", 1},
      {-3, "", 1},
      {Pending, "Pending", 1},
      {Ready, "Ready  (2.00 KB)", 0},
  };
  for (const Case& c : cases) {
    VideoEntry e("/v/a.avi");
    e.setState(c.state);
    e.sizeBytes = 1024;
    e.sourceSizeBytes = 2048;
    EXPECT_EQ(statusText(e, nullptr), c.text) << c.state;
    EXPECT_EQ(rowImage(e), c.image) << c.state;
  }
  VideoEntry d("/v/a.avi");
  d.setState(Downloading);
  d.transferPhase = 2;
  d.transferredBytes = 512;
  d.sizeBytes = 2048;
  EXPECT_EQ(statusText(d, nullptr), "Downloading  512 B - 25%");
}

TEST(ListTexts, ConvertingShowsTheSlotPercentAndTimeLeft) {
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  VideoEntry e("/v/a.avi");
  e.setState(Converting);
  e.progressSlot = block.acquireSlot();
  block.slot(e.progressSlot)->percent = 25.0;
  e.startTick = 1000;
  EXPECT_EQ(statusText(e, &block, 1000 + 30000), "Convert 25.0%  01:30 left");
  block.slot(e.progressSlot)->percent = 250.0;  // garbage is clamped
  EXPECT_EQ(statusText(e, &block, 1000 + 30000).substr(0, 15), "Convert 100.0% ");
  e.progressSlot = -1;
  EXPECT_EQ(statusText(e, &block, 2000), "Converting");
}

}  // namespace
}  // namespace vidmora
