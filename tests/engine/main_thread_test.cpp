// Main-thread posts and worker threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/main_thread.h"
#include "platform/worker_thread.h"

namespace vidmora {
namespace {

TEST(MainThreadQueue, PostsReturnAtOnceRunInOrderOnTheMainThreadAndAreDroppedAtShutdown) {
  MainThreadQueue queue;
  int wakes = 0;
  queue.setWakeHook([&] { ++wakes; });
  const auto mainId = std::this_thread::get_id();
  std::vector<int> order;
  bool allOnMain = true;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) {
      // Nothing serves the queue yet: a post must not wait for it.
      EXPECT_TRUE(queue.post([&, i] {
        allOnMain = allOnMain && std::this_thread::get_id() == mainId;
        order.push_back(i);
      }));
    }
  });
  worker.join();
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(wakes, 3);
  EXPECT_TRUE(queue.serveUntil([&] { return order.size() == 3; }, 10000));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(allOnMain);

  auto held = std::make_shared<int>(0);
  std::thread([&] { queue.post([held] { ++*held; }); }).join();
  queue.shutdown();  // the pending routine is released without running
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(*held, 0);
  EXPECT_FALSE(queue.post([held] { ++*held; }));
}

TEST(WorkerThread, TheMainThreadServingTheQueueSeesTheWorkerEnd) {
  MainThreadQueue queue;
  WorkerThread record;
  int served = 0;
  ASSERT_TRUE(startWorkerThread(record, queue, [&](WorkerThread&) {
    queue.post([&] { ++served; });  // runs on the main thread while it waits
  }));
  ASSERT_TRUE(queue.serveUntil([&] { return record.exited.load(); }, 10000));
  queue.serve();
  EXPECT_EQ(served, 1);
}

}  // namespace
}  // namespace vidmora
