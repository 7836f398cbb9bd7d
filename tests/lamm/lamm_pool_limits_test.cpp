// The Lamm worker pool when the system refuses threads, and counts far
// above the machine.
#include <gtest/gtest.h>

#include <vector>

#include "lamm/lamm_threads.h"
#include "lamm_test_support.h"
#include "platform/input_events.h"
#include "platform/worker_threads.h"
#include "tests/support/address_space.h"

using namespace lammtest;

namespace {

struct List {
  int n;
  std::vector<double> s, D;
  std::vector<std::vector<std::vector<float>>> store;
  std::vector<std::vector<float*>> ptrs;
  std::vector<float**> results;
  List(int n_, int scans, int points) : n(n_) {
    s.assign(n + 1, 0);
    D.assign(n + 1, 0);
    store.assign(n + 1, std::vector<std::vector<float>>(scans + 1, std::vector<float>(points + 1, -7.0f)));
    ptrs.assign(n + 1, std::vector<float*>(scans + 1, nullptr));
    results.assign(n + 1, nullptr);
    for (int k = 1; k <= n; ++k) {
      s[k] = 1.0 + 0.9 * k;
      D[k] = 7e-7 / (1 + 0.1 * k);
      for (int j = 1; j <= scans; ++j) ptrs[k][j] = store[k][j].data();
      results[k] = ptrs[k].data();
    }
  }
};

}  // namespace

TEST(LammPoolLimits, RefusedAndExcessThreadsGiveTheSameSolutions) {
  Experiment e;
  e.times = {600, 1800};
  e.gridPoints = 80;
  e.Build();
  auto templ = MakeSolver(e, LammSolverSettings{});
  platform::StopFlag() = false;
  List single(6, 2, 80);
  ASSERT_EQ(RunLammListSingleThread(templ.get(), single.n, single.s.data(), single.D.data(), nullptr,
                                    single.results.data(), e.grid.data(), 80, nullptr, nullptr),
            0);
  auto run = [&](int threads) {
    List list(6, 2, 80);
    LammThreadCount() = threads;
    EXPECT_EQ(CLRunMTList(templ.get(), list.n, list.s.data(), list.D.data(), nullptr,
                          list.results.data(), e.grid.data(), 80, nullptr, nullptr),
              0);
    return list.store;
  };
  // Threads the system refuses (first, while the pool is small): fewer
  // workers share the species.
  std::vector<std::vector<std::vector<float>>> refused;
  if (testsupport::WithAddressSpaceHeadroom(24u << 20, [&] { refused = run(platform::MaxWorkerThreads()); })) {
    EXPECT_EQ(refused, single.store);
  }
  // A count no machine has: capped, never an abort.
  EXPECT_EQ(run(2147483647), single.store);
  LammThreadCount() = 2;
}
