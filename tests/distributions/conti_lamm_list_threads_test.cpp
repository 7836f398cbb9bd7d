// The c(s) run's species list on worker threads, its own or the Lamm
// solver's persistent pool: the species are handed out slowest first, in an
// order and to threads that vary from run to run, and the result must not
// show it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "distributions/conti_lamm_list.h"
#include "data/load_hooks.h"
#include "distributions/conti_context.h"
#include "distributions/conti_lamm_pool.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"
#include "lamm/lamm_threads.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

// Distribution, then every scan's model on its own radii, of one
// maximum-entropy c(s) run with the species list on `threads` workers of
// the given list solver (the run's own: 1 is the calling thread).
std::vector<float> RunOn(int threads, LammListSolver solver = nullptr) {
  SetLammListSolver(solver);
  const int saved = LammListThreads();
  LammListThreads() = threads;
  Conti().multipleThreads = solver != nullptr || threads > 1;
  RunContiSed();
  Conti().multipleThreads = 0;
  LammListThreads() = saved;
  SetLammListSolver(nullptr);
  std::vector<float> r(Conti().distribution + 1, Conti().distribution + Conti().gridSize + 1);
  const ScanSet& s = CurrentScanSet();
  for (int j = 1; j <= s.count; ++j) r.insert(r.end(), s.model[j] + 1, s.model[j] + s.points[j] + 1);
  return r;
}

// Noisy two-species data on 5 scans x 90 points, a grid of 14 points.
class SpeciesListThreads : public ::testing::Test {
 protected:
  void Make(unsigned noiseSeed) {
    ASSERT_TRUE(MakeSyntheticData(e_, 1.0f, 10.0f, 14, {{4, 0.5f}, {10, 0.3f}}, 0.003f, noiseSeed));
    Conti().maxEntropy = 1;
    Conti().confidenceLevel = 0.68f;
  }
  void TearDown() override { EXPECT_TRUE(ui_.failures.empty()) << ui_.failures[0]; }
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
  Experiment e_{5, 90};
};

}  // namespace

TEST_F(SpeciesListThreads, ResultsAreBitwiseThoseOfOneThreadForAnyWorkerCount) {
  Make(12);
  const std::vector<float> single = RunOn(1);
  ASSERT_EQ(single.size(), 14u + 5u * 90u);
  for (int threads : {2, 3, 8, 20}) {
    const std::vector<float> pooled = RunOn(threads);
    ASSERT_EQ(pooled.size(), single.size());
    int differing = 0;
    for (size_t i = 0; i < single.size(); ++i) differing += pooled[i] != single[i];
    EXPECT_EQ(differing, 0) << threads << " threads";
  }
}

// The species numbers a Run shows in the window (each species solved on the
// calling thread; the last one the pool's workers took, as they go and at
// their end).
class ShownSpecies {
 public:
  ShownSpecies() : saved_(CurrentLoadHooks().drawText) {
    CurrentLoadHooks().drawText = [this](const std::string& text, int x, int y) {
      int k = 0;
      if (x == 10 && y == 30 && std::sscanf(text.c_str(), "solving Lamm equation #%d for s = ", &k) == 1)
        numbers.push_back(k);
    };
  }
  ~ShownSpecies() { CurrentLoadHooks().drawText = saved_; }
  ShownSpecies(const ShownSpecies&) = delete;
  ShownSpecies& operator=(const ShownSpecies&) = delete;
  std::vector<int> numbers;

 private:
  std::function<void(const std::string&, int, int)> saved_;
};

// On the Lamm solver's pool: the kernels are those of the calling thread,
// and the window shows how far the list is.
TEST_F(SpeciesListThreads, OnTheLammPoolKernelsAreThoseOfTheCallingThreadForAnyWorkerCount) {
  Make(11);
  ContiContext().drawingEnabled = true;
  std::vector<float> reference;
  {
    ShownSpecies shown;
    reference = RunOn(1);
    ASSERT_GE(shown.numbers.size(), 2u);
    EXPECT_EQ(shown.numbers.front(), 1);
    EXPECT_EQ(shown.numbers.back(), 14);
    EXPECT_TRUE(std::is_sorted(shown.numbers.begin(), shown.numbers.end()));
  }
  ASSERT_EQ(reference.size(), 14u + 5u * 90u);
  const int poolThreads = LammThreadCount();
  for (int threads : {1, 2, 3, 5}) {
    ShownSpecies shownSpecies;
    const std::vector<float> pooled = RunOn(threads, SolveContiSpeciesOnLammPool);
    const std::vector<int>& shown = shownSpecies.numbers;
    ASSERT_GE(shown.size(), 2u) << threads << " threads";
    EXPECT_EQ(shown.front(), 1);
    EXPECT_EQ(shown.back(), 14) << threads << " threads";
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    ASSERT_EQ(pooled.size(), reference.size());
    for (size_t i = 0; i < 14; ++i)
      EXPECT_EQ(pooled[i], reference[i]) << threads << " threads, point " << i + 1;
    int differing = 0;
    for (size_t i = 14; i < reference.size(); ++i) differing += pooled[i] != reference[i];
    EXPECT_EQ(differing, 0) << threads << " threads";
    EXPECT_EQ(LammThreadCount(), poolThreads);  // the pool's own setting is left as it was
    EXPECT_EQ(LammListFirstEquation(), 1);
  }
  ContiContext().drawingEnabled = false;
}

// A worker takes no keys; the stop flag the polling thread raises on a press
// ends the species it is solving at its next scan, not after the whole
// species.
TEST_F(SpeciesListThreads, AWorkerEndsItsSpeciesWhenTheStopFlagIsRaised) {
  Make(12);
  const ScanSet& sc = CurrentScanSet();
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop raised" : "no stop");
    std::vector<std::vector<float>> rows(static_cast<size_t>(sc.count) + 1,
                                         std::vector<float>(static_cast<size_t>(sc.gridLength) + 1, 0.0f));
    std::vector<float*> out(rows.size(), nullptr);
    for (int j = 1; j <= sc.count; ++j) out[static_cast<size_t>(j)] = rows[static_cast<size_t>(j)].data();
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(4.0, 6e-7, gModelParams.meniscus, gModelParams.bottom, 1.0, sc.leftFitLimit,
                          sc.rightFitLimit);
    L.SetScanTimes({.records = sc.records.data(), .output = out.data(), .grid = sc.grid,
                    .gridLength = sc.gridLength, .indexMap = sc.order.data(), .scanCount = sc.count,
                    .absorbanceData = true});
    const LammSolverSettings& st = LammSettings();
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
    L.SetWorker(true, 4, 1);
    platform::StopFlag() = stop;
    L.CheckAndRun();
    EXPECT_EQ(L.AbortRequested(), stop);
    EXPECT_EQ(platform::StopFlag().load(), stop);
    platform::StopFlag() = false;
    // Stopped at its first scan, the last one is never reached.
    double last = 0;
    for (int i = 1; i <= sc.gridLength; ++i) last += std::fabs(rows[static_cast<size_t>(sc.count)][static_cast<size_t>(i)]);
    EXPECT_EQ(last > 0, !stop);
  }
}
