// Lists of Lamm equations on worker threads.
#include "lamm/lamm_threads.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "data/load_hooks.h"
#include "lamm/amount_kept.h"
#include "lamm/lamm_ideal.h"
#include "lamm/solver_display.h"
#include "lamm_test_support.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "platform/worker_threads.h"
#include "tests/support/address_space.h"
#include "tests/support/file_text.h"

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
  Experiment e{.times = {600, 1500, 3000, 4500}, .gridPoints = 200};
  auto templ = BuiltSolver(e);
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
  Experiment e{.times = {600, 1500}, .gridPoints = 100};
  auto templ = BuiltSolver(e);
  // A refused species is told by its number; one that lost or created its
  // loading (a D no solute has) is told by the caller in words from what the
  // list recorded, so the list itself shows no box for it.
  struct Failure {
    const char* name;
    double D;
    int code;
    const char* box;  // null: none
  };
  const Failure failures[] = {
      {"refused", -1e-7, 4, "error #4 in simulation #4"},
      {"amount not kept", 1e6, 8, nullptr},
  };
  // The workers share one queue, so which species the others take while the
  // failing one is refused depends on the scheduler: with two threads only
  // the code, the single report and the stop are fixed; one thread shows that
  // nothing after the failed species is taken.
  for (const Failure& f : failures) {
    for (int threads : {2, 1, 0}) {
      // 0: the list on the calling thread, whose solver tells a refusal itself.
      if (threads == 0 && f.box) continue;
      SCOPED_TRACE(std::string(f.name) + ", threads " + std::to_string(threads));
      SpeciesList list(8, 2, 100);
      list.D[4] = f.D;
      TakeAmountNotKept();
      platform::StopFlag() = false;
      platform::ScriptedUserInterface ui;
      if (f.box) ui.ExpectBox("Error", f.box);
      platform::ScopedUI guard(ui);
      const int code = threads > 0 ? RunWithThreads(threads, list, e, *templ)
                                   : RunLammListSingleThread(templ.get(), list.n, list.s.data(), list.D.data(),
                                                             nullptr, list.results.data(), e.grid.data(), 100,
                                                             nullptr, nullptr);
      EXPECT_EQ(code, f.code);
      EXPECT_TRUE(ui.failures.empty());
      EXPECT_TRUE(ui.AllConsumed());
      EXPECT_EQ(ui.transcript.size(), f.box ? 1u : 0u);
      // The failure stopped the other workers, but the caller must not take
      // it for a stop of the user's.
      EXPECT_FALSE(platform::StopFlag().load());
      if (threads == 1) {
        for (int k : {1, 2, 3}) EXPECT_NE(list.store[k][1][50], -7.0f) << k;
        for (int k : {5, 6, 7, 8}) EXPECT_EQ(list.store[k][1][50], -7.0f) << k;
      }
      // What the caller tells: the species that failed, and why.
      const std::optional<AmountNotKept> amount = TakeAmountNotKept();
      ASSERT_EQ(amount.has_value(), f.code == 8);
      if (amount) {
        EXPECT_EQ(amount->s, list.s[4]);
        EXPECT_EQ(amount->D, 1e6);
        EXPECT_NE(AmountNotKeptText(amount).find("no solute diffuses that fast (D = 1e+06 cm^2/sec"),
                  std::string::npos)
            << AmountNotKeptText(amount);
      }
    }
  }
  platform::StopFlag() = false;
  LammThreadCount() = 2;
}

TEST(LammThreads, NothingIsSolvedWithoutCoefficients) {
  Experiment e;
  auto templ = BuiltSolver(e);
  SpeciesList list(3, 3, 600);
  platform::StopFlag() = false;
  EXPECT_EQ(CLRunMTList(templ.get(), 3, nullptr, list.D.data(), nullptr, list.results.data(),
                        e.grid.data(), 600, nullptr, nullptr),
            0);
  EXPECT_EQ(list.store[1][1][1], -7.0f);
}

TEST(LammThreads, RefusedAndExcessThreadsGiveTheSameSolutions) {
  Experiment e{.times = {600, 1800}, .gridPoints = 80};
  auto templ = BuiltSolver(e);
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

// With "Diagnostics Output to Files" on, a list run leaves its trace in the
// template's debug file; a template that reports to the window announces the
// run there and shows how far its workers are (the species taken last and the
// time its solver reached, in the texts of a list on one thread), unless a fit
// or a silent run suppresses progress texts.
TEST(LammThreads, AListRunIsTracedAndAnnounced) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tarnel_list_trace_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const char* savedTmp = std::getenv("TMPDIR");
  const std::string saved = savedTmp ? savedTmp : "";
  setenv("TMPDIR", dir.string().c_str(), 1);
  LoadHooks& hooks = CurrentLoadHooks();
  const auto savedDraw = hooks.drawText;
  std::vector<std::string> drawn;
  hooks.drawText = [&](const std::string& text, int x, int y) {
    drawn.push_back(std::to_string(x) + "," + std::to_string(y) + ":" + text);
  };
  LammSolverDisplay& display = CurrentLammSolverDisplay();
  const auto savedLines = display.drawText;
  std::vector<std::string> lines;
  std::map<int, std::string> lastAt;
  display.drawText = [&](int x, int y, const std::string& text) {
    if (x == 10 && y == 110) lines.push_back(text);
    if (x == 10) lastAt[y] = text;
  };

  Experiment e{.times = {600, 1500}, .gridPoints = 60};
  e.Build();
  struct Case {
    const char* name;
    bool window, fit, silent, diagnostics;
    bool announced;
  };
  const Case cases[] = {{"window", true, false, false, true, true},
                        {"during a fit", true, true, false, false, false},
                        {"silent run", true, false, true, false, false},
                        {"no window", false, false, false, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    drawn.clear();
    SetLammDiagnosticsOutput(c.diagnostics);
    auto templ = MakeSolver(e, LammSolverSettings{});
    templ->SetScanTimes({.records = e.records.data(), .output = e.outPtr.data(),
                         .grid = e.grid.data(), .gridLength = e.gridPoints,
                         .showProgress = c.window, .scanCount = static_cast<int>(e.times.size()),
                         .suppressText1 = c.fit, .suppressText2 = c.silent,
                         .absorbanceData = true});
    // The time lines species 3 shows when the list runs on this thread.
    SpeciesList alone(3, 2, 60);
    platform::StopFlag() = false;
    lines.clear();
    ASSERT_EQ(RunLammListSingleThread(templ.get(), 3, alone.s.data(), alone.D.data(), nullptr,
                                      alone.results.data(), e.grid.data(), 60, nullptr, nullptr),
              0);
    const std::string lastLine = lines.empty() ? "" : lines.back();
    EXPECT_EQ(lastLine.empty(), !c.announced);

    SpeciesList list(3, 2, 60);
    drawn.clear();
    lines.clear();
    EXPECT_EQ(RunWithThreads(2, list, e, *templ), 0);
    EXPECT_EQ(list.store, alone.store);
    if (c.announced) {
      ASSERT_GE(drawn.size(), 2u);
      EXPECT_EQ(drawn[0], "10,30:solving Lamm equations...       ");
      // Then in its place the species taken, in list order, the last one
      // with its time at the end.
      int before = 0;
      for (size_t i = 1; i < drawn.size(); ++i) {
        int k = 0, thread = 0;
        ASSERT_EQ(std::sscanf(drawn[i].c_str(), "10,30:solving Lamm equation #%d for s = %*f S, D=%*e cm^2/sec [Thread %d]",
                              &k, &thread), 2) << drawn[i];
        EXPECT_GT(k, before) << drawn[i];
        EXPECT_TRUE(thread == 1 || thread == 2) << drawn[i];
        before = k;
      }
      EXPECT_EQ(drawn.back().substr(0, 70),
                "10,30:solving Lamm equation #3 for s = 5.600 S, D=6.154e-07 cm^2/sec [");
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), lastLine);
      // The step lines of the list on one thread do not stand beside the
      // workers' time.
      for (const int y : {70, 90, 130}) {
        ASSERT_TRUE(lastAt.count(y)) << y;
        EXPECT_EQ(lastAt[y], "") << y;
      }
      EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size());  // only changes
    } else {
      EXPECT_TRUE(drawn.empty());
      EXPECT_TRUE(lines.empty());
    }
  }
  display.drawText = savedLines;
  SetLammDiagnosticsOutput(false);
  const std::string log = teststate::FileText(dir / ("debug_t0_" + std::to_string(getpid()) + ".txt"));
  EXPECT_EQ(log.rfind("starting new debugging session for Lamm equation s = ", 0), 0u) << log;
  size_t at = 0;
  for (const char* step : {"\nStarting CLRunMTList", " ... pLammThreads allocated", ", loaded", ", started ",
                           ", exited ", ", checked ", ", all done ", ", and deleted. "}) {
    const size_t found = log.find(step, at);
    ASSERT_NE(found, std::string::npos) << step << " in " << log;
    at = found + 1;
  }
  // Only the run with the switch on wrote a trace.
  EXPECT_EQ(log.find("\nStarting CLRunMTList", log.find("\nStarting CLRunMTList") + 1), std::string::npos);

  hooks.drawText = savedDraw;
  if (savedTmp)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
  fs::remove_all(dir);
  LammThreadCount() = 2;
}
