// Main-thread calls and worker threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/main_thread.h"
#include "platform/worker_thread.h"

namespace vidmora {
namespace {

TEST(MainThreadQueue, CallOnTheMainThreadRunsAtOnce) {
  MainThreadQueue queue;
  bool ran = false;
  EXPECT_TRUE(callOnMainThread(queue, [&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(MainThreadQueue, WorkerCallsRunOnTheMainThreadInOrderAndBlockTheCaller) {
  MainThreadQueue queue;
  int wakes = 0;
  queue.setWakeHook([&] { ++wakes; });
  const auto mainId = std::this_thread::get_id();
  std::vector<int> order;
  std::atomic<int> returned{0};
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) {
      bool onMain = false;
      EXPECT_TRUE(queue.call([&] {
        onMain = std::this_thread::get_id() == mainId;
        order.push_back(i);
      }));
      EXPECT_TRUE(onMain);  // the routine had run before call() returned
      ++returned;
      queue.notify();  // done() changed without a queued routine
    }
  });
  EXPECT_TRUE(queue.serveUntil([&] { return returned == 3; }, 10000));
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_GE(wakes, 3);
}

TEST(MainThreadQueue, PostsReturnAtOnceRunInOrderWithCallsAndAreDroppedAtShutdown) {
  MainThreadQueue queue;
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
  std::thread caller([&] { queue.call([&] { order.push_back(3); }); });
  EXPECT_TRUE(queue.serveUntil([&] { return order.size() == 4; }, 10000));
  caller.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(allOnMain);

  auto held = std::make_shared<int>(0);
  std::thread([&] { queue.post([held] { ++*held; }); }).join();
  queue.shutdown();  // the pending routine is released without running
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(*held, 0);
  EXPECT_FALSE(queue.post([held] { ++*held; }));
}

TEST(MainThreadQueue, ShutdownReleasesWaitingCallersAndLaterCallsDoNothing) {
  MainThreadQueue queue;
  std::atomic<bool> queued{false};
  queue.setWakeHook([&] { queued = true; });
  std::atomic<int> result{-1};
  bool ran = false;
  std::thread worker([&] { result = queue.call([&] { ran = true; }) ? 1 : 0; });
  while (!queued) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  queue.shutdown();  // the worker waits in call(): it is let go without its routine
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(queue.call([&] { ran = true; }));
  std::thread([&] { EXPECT_FALSE(queue.call([&] { ran = true; })); }).join();
  EXPECT_FALSE(ran);
}

TEST(WorkerThread, WaitOnTheMainThreadServesTheWorkersCalls) {
  MainThreadQueue queue;
  WorkerThread record;
  int bodyCalls = 0, doneOnMain = 0;
  const auto mainId = std::this_thread::get_id();
  ASSERT_TRUE(startWorkerThread(
      record, queue, -1, false,
      [&](WorkerThread& r) {
        EXPECT_EQ(r.userData, &bodyCalls);
        queue.call([&] { ++bodyCalls; });  // would deadlock under a plain join
      },
      &bodyCalls, [&](WorkerThread&) { doneOnMain += std::this_thread::get_id() == mainId; }));
  waitWorkerThread(record);
  EXPECT_TRUE(record.exited.load());
  EXPECT_TRUE(record.bodyDone.load());
  EXPECT_EQ(bodyCalls, 1);
  EXPECT_EQ(doneOnMain, 1);
  closeWorkerThread(record);  // body has returned: closes without waiting
  EXPECT_FALSE(record.hasThread);
  EXPECT_FALSE(record.quitRequested.load());
}

TEST(WorkerThread, CloseBeforeTheBodyReturnedRequestsQuitAndWaits) {
  MainThreadQueue queue;
  WorkerThread record;
  ASSERT_TRUE(startWorkerThread(
      record, queue, 0, false,
      [](WorkerThread& r) {
        while (!r.quitRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      nullptr, nullptr));
  closeWorkerThread(record);
  EXPECT_TRUE(record.exited.load());
  EXPECT_FALSE(record.hasThread);
}

TEST(WorkerThread, AutoCloseReleasesTheHandleItself) {
  MainThreadQueue queue;
  WorkerThread record;
  ASSERT_TRUE(startWorkerThread(
      record, queue, 0, true, [](WorkerThread&) {}, nullptr, nullptr));
  waitWorkerThread(record);
  EXPECT_FALSE(record.hasThread);
}

}  // namespace
}  // namespace vidmora
