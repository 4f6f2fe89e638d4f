#include "platform/format.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "support/temp_folder.h"

namespace vidmora {
namespace {

TEST(Format, Size) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0 Bytes"},
      {1023, "1023 Bytes"},
      {1024, "1.00 KB"},
      {999999, "976.56 KB"},
      {1000000, "0.95 MB"},
      {734003200, "700.00 MB"},
      {999999999, "953.67 MB"},
      {1000000000, "0.93 GB"},
      {5368709120, "5.00 GB"},
      {1536, "1.50 KB"},
      {18446744073709551615u, "17179869184.00 GB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(formatSize(bytes), text) << bytes;
}

TEST(Format, Transfer) {
  struct Case {
    uint64_t done, total;
    const char* text;
  };
  const Case cases[] = {
      {512, 2048, "512 B - 25%"},    {0, 0, "0 B"},
      {1000000, 0, "0.95 MB"},       {1048576, 4194304, "1.00 MB - 25%"},
      {2047, 2048, "2.00 KB - 99%"}, {5368709120, 5368709120, "5.00 GB - 100%"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatTransfer(c.done, c.total), c.text) << c.done;
}

TEST(Format, TimeLeft) {
  struct Case {
    uint32_t start, now;
    double percent;
    const char* text;
  };
  const Case cases[] = {
      {1000, 31000, 25.0, " 01:30 left"},
      {0, 10000, 50.0, " 10 sec left"},
      {0, 100000, 1.0, " 02:45:00 left"},
      {0, 999, 50.0, ""},            // first second
      {0, 60000, 0.0, ""},           // no progress yet
      {0, 60000, std::nan(""), ""},  // garbage in the slot
      {0, 5000, 100.0, " 0 sec left"},
      {0, 4000000, 1.0, " 99:00:00 left"},  // 396000 s
      {0, 4000000000u, 1e-300, " 99:00:00 left"},
      {0xFFFFF000u, 0x6000u, 50.0, " 28 sec left"},  // tick wrapped around
      {0, 10000, 150.0, " 0 sec left"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(formatTimeLeft(c.start, c.percent, c.now), c.text) << c.now << " " << c.percent;
  EXPECT_EQ(formatTimeLeft(tickCount(), 50.0), "");
}

TEST(Format, SplitSeconds) {
  const SplitTime t = splitSeconds(3725);
  EXPECT_EQ(t.hours, 1);
  EXPECT_EQ(t.minutes, 2);
  EXPECT_EQ(t.seconds, 5);
  const SplitTime z = splitSeconds(59);
  EXPECT_EQ(z.hours * 100 + z.minutes, 0);
  EXPECT_EQ(z.seconds, 59);
}

TEST(Format, FileSize) {
  test::TempFolder dir;
  test::writeFile(dir / "clip.avi", std::string(12345, 'x'));
  EXPECT_EQ(fileSize64(dir / "clip.avi"), 12345u);
  EXPECT_EQ(fileSize64(dir / "missing.avi"), 0u);
  EXPECT_EQ(fileSize64(dir.path()), 0u);
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(fileSize64(dir / "pipe"), 0u);  // returns at once, no writer needed
}

}  // namespace
}  // namespace vidmora
