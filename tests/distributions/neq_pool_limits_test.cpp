// The normal-equation worker pool when the system refuses threads.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "distributions/neq_threads.h"
#include "platform/worker_threads.h"
#include "tests/support/address_space.h"

TEST(NeqPoolLimits, ARefusedThreadLeavesEveryPartToFewerWorkers) {
  NeqThreadPool& pool = NeqThreadPool::Instance();
  const int cap = platform::MaxWorkerThreads();
  if (pool.Size() >= cap) GTEST_SKIP() << "the pool is already full";
  std::vector<std::atomic<int>> runs(static_cast<std::size_t>(cap) + 2);
  std::atomic<long> sum{0};
  int size = 0;
  const bool limited = testsupport::WithAddressSpaceHeadroom(24u << 20, [&] {
    // Parts split by t: each of the cap parts runs once, on whoever is there.
    const std::function<void(int)> part = [&](int t) { ++runs[static_cast<std::size_t>(t)]; };
    pool.Run(cap, part, nullptr);
    // Items handed out by a counter: every one is summed once.
    std::atomic<int> next{1};
    const std::function<void(int)> items = [&](int) {
      for (int k = next++; k <= 1000; k = next++) sum += k;
    };
    pool.Run(2 * cap, items, [&] { return next.load() > 1000 && sum.load() == 500500; }, nullptr);
    size = pool.Size();
  });
  if (!limited) GTEST_SKIP() << "no address-space limit can hold here";
  EXPECT_LT(size, cap);
  for (int t = 1; t <= cap; ++t) EXPECT_EQ(runs[static_cast<std::size_t>(t)].load(), 1) << t;
  EXPECT_EQ(runs[static_cast<std::size_t>(cap) + 1].load(), 0);
  EXPECT_EQ(sum.load(), 500500);
}
