// Lists of Lamm equations on worker threads.
#include "lamm/lamm_threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "lamm_test_support.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "platform/worker_threads.h"
#include "tests/support/address_space.h"

using namespace lammtest;

namespace {

// A c(s)-like list: n species on a common grid, results[k][scan][point].
struct SpeciesList {
  int n;
  std::vector<double> s, D;
  std::vector<std::vector<std::vector<float>>> store;
  std::vector<std::vector<float*>> scanPtrs;
  std::vector<float**> results;
  SpeciesList(int n_, int scans, int points) : n(n_) {
    s.assign(n + 1, 0);
    D.assign(n + 1, 0);
    store.assign(n + 1, std::vector<std::vector<float>>(scans + 1, std::vector<float>(points + 1, -7.0f)));
    scanPtrs.assign(n + 1, std::vector<float*>(scans + 1, nullptr));
    results.assign(n + 1, nullptr);
    for (int k = 1; k <= n; ++k) {
      s[k] = 0.5 + 1.7 * k;  // up to the moving frame for the larger ones
      D[k] = 8e-7 / (1 + 0.1 * k);
      for (int j = 1; j <= scans; ++j) scanPtrs[k][j] = store[k][j].data();
      results[k] = scanPtrs[k].data();
    }
  }
};

int RunWithThreads(int threads, SpeciesList& list, Experiment& e, CLammIdeal& templ) {
  LammThreadCount() = threads;
  return CLRunMTList(&templ, list.n, list.s.data(), list.D.data(), nullptr, list.results.data(),
                     e.grid.data(), static_cast<int>(e.grid.size()) - 1, nullptr, nullptr);
}

}  // namespace

TEST(LammThreads, ResultsDoNotDependOnTheThreadCount) {
  Experiment e;
  e.times = {600, 1500, 3000, 4500};
  e.gridPoints = 200;
  e.Build();
  auto templ = MakeSolver(e, LammSolverSettings{});
  platform::StopFlag() = false;

  SpeciesList single(9, 4, 200);
  ASSERT_EQ(RunLammListSingleThread(templ.get(), single.n, single.s.data(), single.D.data(),
                                    nullptr, single.results.data(), e.grid.data(), 200, nullptr,
                                    nullptr),
            0);
  for (int threads : {1, 2, 3, 0, 4}) {
    SCOPED_TRACE(threads);
    SpeciesList list(9, 4, 200);
    ASSERT_EQ(RunWithThreads(threads, list, e, *templ), 0);
    EXPECT_EQ(list.store, single.store);  // bit for bit
  }
  // A species on its own gives the same numbers as inside the list.
  e.s = single.s[5];
  e.D = single.D[5];
  auto alone = MakeSolver(e, LammSolverSettings{});
  ASSERT_EQ(alone->CheckAndRun(), 0);
  for (int j = 1; j <= 4; ++j)
    EXPECT_TRUE(std::equal(e.out[j].begin() + 1, e.out[j].end(), single.store[5][j].begin() + 1));
  LammThreadCount() = 2;
}

TEST(LammThreads, AFailedSpeciesStopsItsWorkerAndIsReportedOnce) {
  Experiment e;
  e.times = {600, 1500};
  e.gridPoints = 100;
  e.Build();
  auto templ = MakeSolver(e, LammSolverSettings{});
  SpeciesList list(8, 2, 100);
  list.D[4] = -1e-7;  // refused with code 4
  platform::StopFlag() = false;
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("Error", "error #4 in simulation #4");
  platform::ScopedUI guard(ui);
  EXPECT_EQ(RunWithThreads(2, list, e, *templ), 4);
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(platform::StopFlag().load());
  // Worker 1 holds the even species: 2 was solved, 6 and 8 were never taken.
  EXPECT_NE(list.store[2][1][50], -7.0f);
  EXPECT_EQ(list.store[6][1][50], -7.0f);
  EXPECT_EQ(list.store[8][1][50], -7.0f);
  platform::StopFlag() = false;
  LammThreadCount() = 2;
}

TEST(LammThreads, NothingIsSolvedWithoutCoefficients) {
  Experiment e;
  e.Build();
  auto templ = MakeSolver(e, LammSolverSettings{});
  SpeciesList list(3, 3, 600);
  platform::StopFlag() = false;
  EXPECT_EQ(CLRunMTList(templ.get(), 3, nullptr, list.D.data(), nullptr, list.results.data(),
                        e.grid.data(), 600, nullptr, nullptr),
            0);
  EXPECT_EQ(list.store[1][1][1], -7.0f);
}

TEST(LammThreads, RefusedAndExcessThreadsGiveTheSameSolutions) {
  Experiment e;
  e.times = {600, 1800};
  e.gridPoints = 80;
  e.Build();
  auto templ = MakeSolver(e, LammSolverSettings{});
  platform::StopFlag() = false;
  SpeciesList single(6, 2, 80);
  ASSERT_EQ(RunLammListSingleThread(templ.get(), single.n, single.s.data(), single.D.data(), nullptr,
                                    single.results.data(), e.grid.data(), 80, nullptr, nullptr),
            0);
  auto run = [&](int threads) {
    SpeciesList list(6, 2, 80);
    EXPECT_EQ(RunWithThreads(threads, list, e, *templ), 0);
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
