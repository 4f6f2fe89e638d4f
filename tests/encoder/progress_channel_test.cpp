// The app's progress block and the encoder's slot writer: both sides of the shared slots.
#include "engine/progress_channel.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "slot_writer.h"

namespace vidmora {
namespace {

bool shmExists(const std::string& mapName) {
  struct stat st {};
  return stat(("/dev/shm/vidmora-" + mapName).c_str(), &st) == 0;
}

TEST(ProgressBlock, CreatesPrivateObjectAndRemovesItAtClose) {
  ProgressBlock a, b;
  ASSERT_TRUE(a.create());
  ASSERT_EQ(a.mapName().size(), 12u);
  EXPECT_EQ(progressShmName(a.mapName()), "/vidmora-" + a.mapName());
  struct stat st {};
  ASSERT_EQ(stat(("/dev/shm/vidmora-" + a.mapName()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, static_cast<off_t>(ProgressBlockSize));
  const std::string name = a.mapName();
  a.close();
  a.close();
  EXPECT_FALSE(shmExists(name));
  EXPECT_FALSE(a.isOpen());
  // Made again at once, the block gets another name: nobody can tell it in advance.
  ASSERT_TRUE(b.create());
  EXPECT_NE(b.mapName(), name);
}

TEST(ProgressBlock, TakenNamesAreSkippedAndNoBlockSaysWhy) {
  // Names another user planted are passed over; when every name tried is taken, the block
  // reports that it could not be made instead of leaving the caller to guess.
  ProgressBlock planted;
  ASSERT_TRUE(planted.create());
  const std::string taken = planted.mapName();
  int tries = 0;
  ProgressBlock block;
  ASSERT_TRUE(block.create([&] { return ++tries < 3 ? taken : randomMapName(); }));
  EXPECT_EQ(tries, 3);
  EXPECT_NE(block.mapName(), taken);
  ProgressBlock refused;
  EXPECT_FALSE(refused.create([&] { return taken; }));
  EXPECT_FALSE(refused.isOpen());
  EXPECT_NE(refused.error(), "");
  EXPECT_EQ(refused.acquireSlot(), -1);
}

TEST(ProgressBlock, AcquireReusesReleasedSlotsAndStopsAt999) {
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  double mean = -1;
  EXPECT_EQ(block.averagePercent(mean), 0);
  EXPECT_EQ(mean, 0.0);
  EXPECT_EQ(block.acquireSlot(), 0);
  EXPECT_EQ(block.acquireSlot(), 1);
  EXPECT_EQ(block.acquireSlot(), 2);
  block.releaseSlot(1);
  EXPECT_EQ(block.acquireSlot(), 1);
  for (int i = 3; i < 999; ++i) ASSERT_EQ(block.acquireSlot(), i);
  EXPECT_EQ(block.acquireSlot(), -1);  // index 999 is never handed out
  // A slot still taken after a reset is not handed out a second time.
  block.resetSlotCount();
  block.releaseSlot(1);
  EXPECT_EQ(block.acquireSlot(), 1);
  EXPECT_EQ(block.acquireSlot(), -1);  // every other slot is still taken
}

TEST(ProgressBlock, ReleaseClearsEveryField) {
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  const int i = block.acquireSlot();
  ProgressSlot* s = block.slot(i);
  s->percent = 42;
  s->scaledValue = 99;
  s->reserved = 1;
  s->duration = 12.5;
  block.requestSlotStop(i);
  EXPECT_EQ(s->stopRequest, 1);
  block.releaseSlot(i);
  EXPECT_EQ(s->inUse, 0);
  EXPECT_EQ(s->stopRequest, 0);
  EXPECT_EQ(s->percent, 0.0);
  EXPECT_EQ(s->scaledValue, 0.0);
  EXPECT_EQ(s->reserved, 0.0);
  EXPECT_EQ(s->duration, 0.0);
}

TEST(ProgressBlock, PercentIsClamped) {
  struct Case {
    double stored;
    double read;
  };
  const Case cases[] = {{120.0, 100.0},
                        {-5.0, 0.0},
                        {std::numeric_limits<double>::quiet_NaN(), 0.0},
                        {-std::numeric_limits<double>::infinity(), 0.0},
                        {37.5, 37.5}};
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  const int i = block.acquireSlot();
  for (const Case& c : cases) {
    block.slot(i)->percent = c.stored;
    double percent = -1;
    ASSERT_TRUE(block.readSlotPercent(i, percent));
    EXPECT_EQ(percent, c.read) << c.stored;
  }
}

TEST(ProgressBlock, ScaledValueAndDuration) {
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  const int i = block.acquireSlot();
  block.slot(i)->scaledValue = 5000.0;  // 4.88 -> 4
  block.slot(i)->duration = 61.25;
  double percent = 0, duration = 0;
  int scaled = -1;
  ASSERT_TRUE(block.readSlotPercent(i, percent, &scaled));
  EXPECT_EQ(scaled, 4);
  block.slot(i)->scaledValue = 1e300;  // garbage never overflows
  ASSERT_TRUE(block.readSlotPercent(i, percent, &scaled));
  EXPECT_EQ(scaled, 0);
  ASSERT_TRUE(block.readSlotDuration(i, duration));
  EXPECT_EQ(duration, 61.25);
}

TEST(ProgressBlock, AverageOverTakenSlots) {
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  const int a = block.acquireSlot(), b = block.acquireSlot(), c = block.acquireSlot();
  block.slot(a)->percent = 50.0;
  block.slot(b)->percent = 30.0;
  block.slot(c)->percent = 90.0;
  block.releaseSlot(c);
  double mean = 0;
  EXPECT_EQ(block.averagePercent(mean), 2);
  EXPECT_DOUBLE_EQ(mean, 40.0);
}

TEST(ProgressBlock, InvalidIndexOrNoBlockDoesNothing) {
  ProgressBlock open;
  ASSERT_TRUE(open.create());
  ProgressBlock none;  // never created: every operation is a quiet no-op
  for (ProgressBlock* block : {&open, &none}) {
    for (int index : {-1, -2, 1000, 5000}) {
      double value = 7;
      int scaled = 7;
      EXPECT_FALSE(block->readSlotPercent(index, value, &scaled));
      EXPECT_FALSE(block->readSlotDuration(index, value));
      block->requestSlotStop(index);
      block->releaseSlot(index);
      EXPECT_EQ(block->slot(index), nullptr);
    }
  }
  EXPECT_EQ(none.acquireSlot(), -1);
  double mean = 5;
  EXPECT_EQ(none.averagePercent(mean), 0);
  EXPECT_EQ(mean, 0.0);
  EXPECT_TRUE(none.mapName().empty());
}

TEST(SlotWriter, WritesOnlyIntoTheAppsBlock) {
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  const int i = block.acquireSlot();
  encoder::SlotWriter writer;
  ASSERT_TRUE(writer.open(block.mapName(), i));
  writer.setPercent(55.5);
  writer.setDuration(3.25);
  EXPECT_FALSE(writer.stopRequested());
  block.requestSlotStop(i);
  EXPECT_TRUE(writer.stopRequested());
  double percent = 0, duration = 0;
  block.readSlotPercent(i, percent);
  block.readSlotDuration(i, duration);
  EXPECT_EQ(percent, 55.5);
  EXPECT_EQ(duration, 3.25);
  EXPECT_EQ(block.slot(i)->inUse, 1);  // the app's field stays the app's

  // No block of that name, no slot, a bad index: nothing is opened and nothing is created.
  encoder::SlotWriter missing, noSlot, badIndex;
  EXPECT_FALSE(missing.open("000000000001", 0));
  EXPECT_FALSE(shmExists("000000000001"));
  EXPECT_FALSE(noSlot.open(block.mapName(), -1));
  EXPECT_FALSE(badIndex.open(block.mapName(), 1000));
  missing.setPercent(10);  // harmless without a slot
  EXPECT_FALSE(missing.stopRequested());
}

}  // namespace
}  // namespace vidmora
