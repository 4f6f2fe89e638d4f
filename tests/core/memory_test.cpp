#include "platform/memory.h"

#include <gtest/gtest.h>

#include <new>

namespace vidmora {
namespace {

TEST(MemoryDeathTest, OutOfMemoryPrintsErmAndExits1) {
  installOutOfMemoryHandler();
  EXPECT_EQ(std::get_new_handler(), &outOfMemoryHandler);
  EXPECT_EXIT(outOfMemoryHandler(), testing::ExitedWithCode(1), "^ERM");
}

}  // namespace
}  // namespace vidmora
