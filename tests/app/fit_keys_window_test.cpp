// Keys and clicks that reach the window while a fit computes: the first one
// stops the fit, and whatever follows, however fast, leaves the best state
// found and its model on the screen.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "desktop_road_fixture.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/model_params.h"
#include "platform/fatal_error.h"
#include "fit/fit_driver.h"
#include "fit/fit_report.h"
#include "platform/input_events.h"
#include "platform/qt/frame_window.h"
#include "desktop_support.h"
#include "dls_set_file.h"

// The scan set has a member of that name.
#undef signals

namespace {

enum class Method { Simplex, Marquardt, Annealing };

struct KeyRun {
  const char* name;
  Method method;
  bool continuous;
};

class FitKeys : public DesktopRoadTest {
 protected:
  void Shown() {
    Qt().Resize(1000, 700);
    Qt().Show();
  }
  // c(s) over 1..10 S with the frictional ratio fitted, run once.
  void ContinuousAnalysis() {
    Shown();
    RunContinuous(5, "30");
  }
  // One species at 4.6 S and D 5, s fitted, run once.
  void DiscreteAnalysis() {
    Shown();
    LoadRun(3);
    OneSpecies("4.6", "5.0", 1);
    if (HasFatalFailure()) return;
    Window().Dispatch(213);
    Drain();
  }
  static void Choose(Method m) {
    FitEngineState& fs = gFitEngineState;
    fs.useMarquardt = m == Method::Marquardt;
    fs.useAnnealing = m == Method::Annealing;
    fs.annealTemperature = m == Method::Annealing ? 0.5f : 0.0f;
    fs.annealStartTemperature = fs.annealTemperature;
    fs.annealFinalMarquardt = 0;
    fs.annealFinalSimplex = 0;
  }

  // A key as the user types it into the window.
  void Type(int qtKey, const char* text) {
    QKeyEvent press(QEvent::KeyPress, qtKey, Qt::NoModifier, QString::fromLatin1(text));
    QCoreApplication::sendEvent(&Qt(), &press);
    QKeyEvent release(QEvent::KeyRelease, qtKey, Qt::NoModifier, QString::fromLatin1(text));
    QCoreApplication::sendEvent(&Qt(), &release);
  }
  void Click() {
    const QPointF at(300, 300);
    QMouseEvent press(QEvent::MouseButtonPress, at, Qt().mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&Qt(), &press);
  }

  // From the third evaluation on, each look at the event queue finds the
  // next of "a b space Escape", then clicks and more keys: the user goes on
  // typing while the fit ends and shows its result. Returns how many were sent.
  int TypeThroughTheFit() {
    int sent = 0;
    platform::SetEventPump([this, &sent] {
      if (gFitEngineState.evaluationsThisRun < 3 || sent >= 40) return;
      // The first four come together, typed faster than the fit looks.
      for (int burst = sent == 0 ? 4 : 1; burst > 0; --burst, ++sent) {
        switch (sent % 6) {
          case 0: Type(Qt::Key_A, "a"); break;
          case 1: Type(Qt::Key_B, "b"); break;
          case 2: Type(Qt::Key_Space, " "); break;
          case 3: Type(Qt::Key_Escape, "\x1b"); break;
          case 4: Click(); break;
          default: Type(Qt::Key_Return, "\r"); break;
        }
      }
    });
    ui_->lenient = true;
    Window().Dispatch(215);
    platform::SetEventPump({});
    Drain();
    return sent;
  }

  static double RmsdHere() { return FitLimitRmsd(0.0); }
};

class FitKeysTable : public FitKeys, public ::testing::WithParamInterface<KeyRun> {};

TEST_P(FitKeysTable, KeysThroughoutAFitLeaveTheBestStateAndItsModel) {
  const KeyRun& k = GetParam();
  if (k.continuous)
    ContinuousAnalysis();
  else
    DiscreteAnalysis();
  Choose(k.method);
  const double before = RmsdHere();
  ASSERT_GT(before, 0.0);
  const int sent = TypeThroughTheFit();
  ASSERT_GE(sent, 4) << "the keys never reached the fit";
  EXPECT_FALSE(Window().FitBusy);
  // Shown is what is reported: the model on the screen is the one whose
  // rmsd the report gives, and it is no worse than the state before.
  const double after = RmsdHere();
  EXPECT_NEAR(ReportedRmsd(), after, 5e-6);
  EXPECT_LE(after, before * 1.0001);
  if (k.continuous) {
    const ContiSettings& cs = Conti();
    float largest = 0;
    for (int i = 1; i <= cs.gridSize; ++i) largest = std::max(largest, cs.distribution[i]);
    EXPECT_GT(largest, 0.0f);
  }
  // The keys after the first were taken by nobody: none waits for the next command.
  EXPECT_FALSE(platform::KeyDownPending());
  EXPECT_FALSE(platform::StopFlag().load());
  EXPECT_FALSE(platform::InputHeld());
  // The user learns that the fit was stopped and what it left, once.
  int told = 0;
  for (const auto& t : ui_->transcript)
    if (t.caption == "FIT" &&
        t.text.rfind("fit stopped by the user: the best fit found so far is kept (rmsd = ", 0) == 0) {
      ++told;
      EXPECT_NEAR(std::atof(t.text.c_str() + t.text.find("= ") + 2), after, 5e-6) << t.text;
    }
  EXPECT_EQ(told, 1);
}

INSTANTIATE_TEST_SUITE_P(Fits, FitKeysTable,
                         ::testing::Values(KeyRun{"CsSimplex", Method::Simplex, true},
                                           KeyRun{"CsMarquardt", Method::Marquardt, true},
                                           KeyRun{"CsAnnealing", Method::Annealing, true},
                                           KeyRun{"DiscreteSimplex", Method::Simplex, false},
                                           KeyRun{"DiscreteMarquardt", Method::Marquardt, false},
                                           KeyRun{"DiscreteAnnealing", Method::Annealing, false}),
                         [](const ::testing::TestParamInfo<KeyRun>& i) { return std::string(i.param.name); });

// Keys that a computation itself finds queued (no window between): the
// final evaluation of a stopped fit takes none of them.
TEST_F(FitKeys, QueuedKeysDoNotInterruptTheEvaluationThatEndsAStoppedFit) {
  ContinuousAnalysis();
  const double before = RmsdHere();
  int posted = 0;
  platform::SetEventPump([&] {
    if (gFitEngineState.evaluationsThisRun < 3 || posted >= 30) return;
    for (int burst = posted == 0 ? 4 : 1; burst > 0; --burst, ++posted) platform::PostKeyDown("ab \x1b"[posted % 4]);
  });
  ui_->lenient = true;
  Window().Dispatch(215);
  platform::SetEventPump({});
  Drain();
  ASSERT_GE(posted, 4);
  const double after = RmsdHere();
  EXPECT_NEAR(ReportedRmsd(), after, 5e-6);
  EXPECT_LE(after, before * 1.0001);
  const ContiSettings& cs = Conti();
  float largest = 0;
  for (int i = 1; i <= cs.gridSize; ++i) largest = std::max(largest, cs.distribution[i]);
  EXPECT_GT(largest, 0.0f);
}

// After the fit the keyboard is the user's again: a key stops the next fit.
TEST_F(FitKeys, TheNextFitStopsAtTheNextKey) {
  ContinuousAnalysis();
  TypeThroughTheFit();
  int evaluations = -1;
  platform::SetEventPump([&] {
    if (gFitEngineState.evaluationsThisRun >= 3 && evaluations < 0) {
      evaluations = gFitEngineState.evaluationsThisRun;
      Type(Qt::Key_X, "x");
    }
  });
  Window().Dispatch(215);
  platform::SetEventPump({});
  ASSERT_GT(evaluations, 0);
  // A stopped simplex ends within the evaluation it was in and the final one.
  EXPECT_LE(gFitEngineState.evaluationsThisRun, evaluations + 6);
}

// A key during the Lamm solutions of a c(s) Run stops it: a box says so,
// the distribution shown before comes back, and the progress text goes.
TEST_F(FitKeys, AStoppedRunSaysSoAndShowsTheDistributionBefore) {
  ContinuousAnalysis();
  const ContiSettings& cs = Conti();
  ASSERT_GT(cs.gridSize, 2);
  const std::vector<float> before(cs.distribution + 1, cs.distribution + cs.gridSize + 1);
  int typed = 0;
  platform::SetEventPump([&] {
    if (typed < 3) {
      ++typed;
      Type(Qt::Key_X, "x");
    }
  });
  ui_->ExpectBox("ERROR", "user interrupt");
  Window().Dispatch(213);
  platform::SetEventPump({});
  Drain();
  EXPECT_TRUE(ui_->AllConsumed());
  ASSERT_EQ(cs.gridSize, static_cast<int>(before.size()));
  for (int i = 1; i <= cs.gridSize; ++i) EXPECT_EQ(cs.distribution[i], before[static_cast<size_t>(i - 1)]) << i;
  // Left of the data plot, where "solving Lamm equations..." was written.
  const QImage shown = Qt().Grab().toImage();
  int ink = 0;
  for (int y = 18; y < 34; ++y)
    for (int x = 8; x < 60; ++x) ink += qGray(shown.pixel(x, y)) < 128;
  EXPECT_EQ(ink, 0);
}


// A Run of each distribution model stopped by a key at several of its polls
// of the keyboard (from the first to its last), then run again: the
// distribution shown after the stop is the one from before, bit for bit,
// and the next Run equals the Run of a new program on the same entries.
struct StopCase {
  const char* name;
  int model;
  bool dls;
  std::vector<std::pair<int, std::string>> entries;
};

class StoppedRuns : public FitKeys, public ::testing::WithParamInterface<StopCase> {
 protected:
  struct Shown {
    std::vector<float> s, c, map;
    bool operator==(const Shown&) const = default;
  };
  static Shown Now() {
    const ContiSettings& cs = Conti();
    Shown r;
    if (cs.sValues && cs.distribution)
      for (int i = 1; i <= cs.gridSize; ++i) {
        r.s.push_back(cs.sValues[i]);
        r.c.push_back(cs.distribution[i]);
      }
    if (TwoDimensionalModel() && cs.grid2DAmplitude)
      r.map.assign(cs.grid2DAmplitude + 1, cs.grid2DAmplitude + cs.grid2DSize + 1);
    return r;
  }
  void Analysis(const StopCase& c) {
    Shown();
    if (c.dls) {
      Window();
      Options().AlwaysLoadG2m1 = true;
      std::vector<std::string> paths;
      std::mt19937 gen(11);
      std::normal_distribution<double> noise(0.0, 1e-4);
      for (int k = 1; k <= 2; ++k) {
        const std::string path = (dir_ / ("set" + std::to_string(k) + ".dlsdat")).string();
        std::ofstream(path) << apptest::DlsSetText(k, 80, [&] { return noise(gen); });
        paths.push_back(path);
      }
      ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
      Window().Dispatch(298);
    } else {
      LoadRun(4);
    }
    gFitEngineState.fitTINoise = 0;
    ui_->lenient = true;
    Window().Dispatch(c.model);
    forms_.Expect({"", c.entries, {}});
    Window().Dispatch(212);
  }
  // A Run with a key typed at the nth poll of the keyboard (0: none);
  // returns the polls it made.
  int RunStoppedAt(int n) {
    int polls = 0;
    platform::SetEventPump([&] {
      if (++polls == n) Type(Qt::Key_X, "x");
    });
    Window().Dispatch(213);
    platform::SetEventPump({});
    Drain();
    return polls;
  }
  static bool SaidUserInterrupt(const std::vector<platform::TranscriptEntry>& t) {
    for (const auto& e : t)
      if (e.text == "user interrupt") return true;
    return false;
  }
};

TEST_P(StoppedRuns, AStopShowsTheDistributionBeforeAndTheNextRunIsAsInANewProgram) {
  const StopCase& c = GetParam();
  Analysis(c);
  RunStoppedAt(0);
  // The polls of a Run after a whole one (which for c(s,f/f0) on an
  // unchanged grid takes the kernels computed before).
  const int polls = RunStoppedAt(0);
  ASSERT_GT(polls, 2) << "the Run never looked at the keyboard";
  ASSERT_EQ(Conti().lastRunFailed, 0);
  const Shown first = Now();
  ASSERT_FALSE(first.c.empty());
  std::vector<Shown> again;
  std::vector<int> moments = {1, polls / 3, 2 * polls / 3, polls * 9 / 10};
  for (int n : moments) {
    SCOPED_TRACE(n);
    ui_->transcript.clear();
    RunStoppedAt(n);
    ASSERT_TRUE(SaidUserInterrupt(ui_->transcript)) << "not stopped at poll " << n << " of " << polls;
    EXPECT_EQ(Conti().lastRunFailed, 1);
    EXPECT_TRUE(Now() == first) << "the distribution shown after the stop is not the one before";
    EXPECT_FALSE(platform::QuitRequested());
    RunStoppedAt(0);
    EXPECT_EQ(Conti().lastRunFailed, 0);
    again.push_back(Now());
  }
  // The same entries in a new program.
  StartAgain();
  Analysis(c);
  RunStoppedAt(0);
  const Shown fresh = Now();
  EXPECT_TRUE(fresh == first);
  for (std::size_t k = 0; k < again.size(); ++k) EXPECT_TRUE(again[k] == fresh) << "after the stop at poll " << moments[k];
}

INSTANTIATE_TEST_SUITE_P(
    EveryDistribution, StoppedRuns,
    ::testing::Values(StopCase{"cs", 275, false, {{405, "30"}, {406, "1"}, {407, "10"}}},
                      StopCase{"csff0", 595, false, {{405, "15"}, {406, "1"}, {407, "10"}, {428, "4"}}},
                      StopCase{"cM", 235, false, {{405, "30"}}},
                      StopCase{"IRh", 503, true, {{405, "30"}}},
                      StopCase{"ID", 502, true, {{405, "30"}}}),
    [](const ::testing::TestParamInfo<StopCase>& i) { return std::string(i.param.name); });


}  // namespace
