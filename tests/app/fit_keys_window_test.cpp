// Keys and clicks that reach the window while a fit computes: the first one
// stops the fit, and whatever follows, however fast, leaves the best state
// found and its model on the screen.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "desktop_road_fixture.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "distributions/conti_fit_vector.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/regularization_scaling.h"
#include "data/scan_set.h"
#include "fit/model_params.h"
#include "fit/rmsd.h"
#include "platform/fatal_error.h"
#include "fit/fit_driver.h"
#include "fit/fit_report.h"
#include "fit/fit_end.h"
#include "platform/input_events.h"
#include "platform/qt/frame_window.h"
#include "platform/qt/qt_user_interface.h"
#include "platform/scripted_ui.h"
#include "app/window/main_window_flags.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "desktop_support.h"
#include "dls_set_file.h"
#include "tests/support/jumping_clock.h"

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

  // What the data and residual plots draw of a model: every scan's model and
  // residuals, and the noise taken out.
  static std::vector<float> ModelCurves() {
    const ScanSet& s = CurrentScanSet();
    std::vector<float> v;
    for (int i = 1; i <= s.count; ++i) {
      v.insert(v.end(), s.model[i] + 1, s.model[i] + s.points[i] + 1);
      v.insert(v.end(), s.residuals[i] + 1, s.residuals[i] + s.points[i] + 1);
    }
    if (s.tiNoise) v.insert(v.end(), s.tiNoise + 1, s.tiNoise + s.gridLength + 1);
    if (s.riNoise) v.insert(v.end(), s.riNoise + 1, s.riNoise + s.count + 1);
    return v;
  }
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

// A key while Levenberg-Marquardt checks where a simplex fit ended stops
// the check: the fit keeps the lower of the two ends (the simplex's, as a
// fit that ran through gives it: its restarts draw their own steps), its
// model shown, and says once that it was stopped.
TEST_F(FitKeys, AKeyDuringTheCheckOfASimplexEndKeepsItsEnd) {
  DiscreteAnalysis();
  Choose(Method::Simplex);
  const std::vector<float> start(gModelParameterVector.P, gModelParameterVector.P + 13);
  ui_->lenient = true;
  Window().Dispatch(215);
  Drain();
  ASSERT_EQ(LastFitEnd().kind, FitEndKind::Reached) << LastFitEnd().text;
  const double unstopped = RmsdHere();
  std::copy(start.begin(), start.end(), gModelParameterVector.P);
  UnpackModelParameters();
  ui_->transcript.clear();
  gFitEngineState.mlLambda = 0.0;
  bool typed = false;
  platform::SetEventPump([&] {
    if (!typed && gFitEngineState.mlLambda > 0.0) {
      typed = true;
      Type(Qt::Key_X, "x");
    }
  });
  Window().Dispatch(215);
  platform::SetEventPump({});
  Drain();
  ASSERT_TRUE(typed) << "the check never ran";
  EXPECT_FALSE(Window().FitBusy);
  EXPECT_EQ(LastFitEnd().kind, FitEndKind::Stopped) << LastFitEnd().text;
  const double after = RmsdHere();
  EXPECT_NEAR(ReportedRmsd(), after, 5e-6);
  EXPECT_NEAR(after, unstopped, 1e-6 * unstopped);
  EXPECT_FALSE(platform::StopFlag().load());
  EXPECT_FALSE(platform::InputHeld());
  int told = 0;
  for (const auto& t : ui_->transcript)
    told += t.caption == "FIT" && t.text.rfind("fit stopped by the user: the best fit found so far is kept", 0) == 0;
  EXPECT_EQ(told, 1);
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
// While the box is up the data plot shows the data, not the profiles the
// solver drew across it (on one thread they filled it black).
TEST_F(FitKeys, AStoppedRunSaysSoAndShowsTheDistributionBefore) {
  ContinuousAnalysis();
  const ContiSettings& cs = Conti();
  ASSERT_GT(cs.gridSize, 2);
  const std::vector<float> before(cs.distribution + 1, cs.distribution + cs.gridSize + 1);
  const std::vector<float> curvesBefore = ModelCurves();
  // The picture as the Run begins (it has taken the report away), before
  // the solver draws; the key comes once it has drawn a while.
  QImage begun;
  bool drawnAtFirstLook = false;
  int typed = 0, drawn = 0;
  platform::SetEventPump([&] {
    if (begun.isNull()) {
      begun = Qt().Canvas().Image().copy();
      drawnAtFirstLook = WindowFlags().SolverCurvesOverData;
    }
    if (WindowFlags().SolverCurvesOverData) ++drawn;
    if (drawn > 10 && typed < 3) {
      ++typed;
      Type(Qt::Key_X, "x");
    }
  });
  // The desktop's own box, answered once it is up.
  platform::qt::QtUserInterface desktop;
  platform::ScopedUI scope(desktop);
  QString said;
  QImage underTheBox;
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [&, poll] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    poll->stop();
    poll->deleteLater();
    said = box->text();
    underTheBox = Qt().Canvas().Image().copy();
    box->button(QMessageBox::Ok)->click();
  });
  poll->start(10);
  Window().Dispatch(213);
  platform::SetEventPump({});
  Drain();
  ASSERT_GT(drawn, 10) << "the Run drew no profile on this thread";
  EXPECT_EQ(said, "user interrupt");
  ASSERT_EQ(cs.gridSize, static_cast<int>(before.size()));
  for (int i = 1; i <= cs.gridSize; ++i) EXPECT_EQ(cs.distribution[i], before[static_cast<size_t>(i - 1)]) << i;
  // The model curves are those of that distribution.
  EXPECT_TRUE(ModelCurves() == curvesBefore) << "the data plot shows curves of another distribution";
  // The data plot as the Run found it: no ink where it was white (the
  // progress lines go too).
  ASSERT_FALSE(drawnAtFirstLook);
  ASSERT_FALSE(underTheBox.isNull());
  ASSERT_EQ(begun.size(), underTheBox.size());
  const CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  const QRgb white = qRgb(255, 255, 255);
  // The plot's frame is in the window's 1400 x 1000 units.
  const double sx = underTheBox.width() / 1400.0, sy = underTheBox.height() / 1000.0;
  int changed = 0;
  for (int y = static_cast<int>(plot.plotTop * sy) + 1; y < static_cast<int>(plot.plotBottom * sy); ++y)
    for (int x = static_cast<int>(plot.plotLeft * sx) + 1; x < static_cast<int>(plot.plotRight * sx); ++x)
      changed += begun.pixel(x, y) == white && underTheBox.pixel(x, y) != white;
  EXPECT_EQ(changed, 0);
  // Left of the data plot, where "solving Lamm equations..." was written.
  const QImage shown = Qt().Grab().toImage();
  int ink = 0;
  for (int y = 18; y < 34; ++y)
    for (int x = 8; x < 60; ++x) ink += qGray(shown.pixel(x, y)) < 128;
  EXPECT_EQ(ink, 0);
}


// The 30-minute bounds in the window, the clock moved on by 31 minutes in
// the middle of the computation: a Run of either regularisation is stopped
// as by a key, says why in its own box (not "user interrupt") and shows the
// distribution from before, and the next Run is whole again; a Fit ends no
// worse than it started (at the best state it has seen: the fit tests tell
// that), with one box naming its limit.
TEST_F(FitKeys, TheTimeBoundsEndARunAsAKeyWouldAndAFitAtItsBestState) {
  ContinuousAnalysis();
  struct Row {
    const char* name;
    bool fit, maxEntropy;
    Method method;
    int moment;  // the poll of the Run, or the evaluation of the fit, it passes in
  };
  const Row rows[] = {{"Tikhonov Run, first poll", false, false, Method::Simplex, 1},
                      {"maximum entropy Run, a late poll", false, true, Method::Simplex, -1},
                      {"simplex fit", true, false, Method::Simplex, 3},
                      {"Marquardt fit", true, false, Method::Marquardt, 4}};
  const char* const kRunText = "the Run did not end in 30 minutes and was stopped: the distribution shown before it is kept";
  const char* const kFitText =
      "the fit did not settle in 30 minutes: the best parameters found are kept; a second Fit continues from there";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Conti().maxEntropy = row.maxEntropy;
    Choose(row.method);
    int polls = 0;
    platform::SetEventPump([&] { ++polls; });
    Window().Dispatch(213);
    Drain();
    const int whole = polls;
    const std::vector<float> before(Conti().distribution + 1, Conti().distribution + Conti().gridSize + 1);
    const std::vector<float> curvesBefore = ModelCurves();
    const double rmsdBefore = RmsdHere();
    teststate::JumpingClock clock;
    bool jumped = false;
    polls = 0;
    platform::SetEventPump([&] {
      ++polls;
      const FitEngineState& fs = gFitEngineState;
      const bool now = row.fit ? fs.fitRunning && fs.evaluationsThisRun >= row.moment
                               : polls == (row.moment > 0 ? row.moment : whole * 9 / 10);
      if (now && !jumped) {
        jumped = true;
        clock.Jump(31 * 60);
      }
    });
    ui_->transcript.clear();
    ui_->lenient = true;
    Window().Dispatch(row.fit ? 215 : 213);
    platform::SetEventPump({});
    Drain();
    ASSERT_TRUE(jumped);
    int runBoxes = 0, fitBoxes = 0;
    for (const auto& t : ui_->transcript) {
      runBoxes += t.text == kRunText;
      fitBoxes += t.text == kFitText;
      EXPECT_NE(t.text, "user interrupt");
    }
    EXPECT_EQ(runBoxes, row.fit ? 0 : 1);
    EXPECT_EQ(fitBoxes, row.fit ? 1 : 0);
    EXPECT_FALSE(platform::StopDeadlinePassed());
    EXPECT_FALSE(platform::StopFlag().load());
    EXPECT_FALSE(Window().RunBusy);
    EXPECT_FALSE(Window().FitBusy);
    if (row.fit) {
      EXPECT_EQ(Conti().lastRunFailed, 0);
      const double after = RmsdHere();
      EXPECT_NEAR(ReportedRmsd(), after, 5e-6);
      EXPECT_LE(after, rmsdBefore * 1.0001) << "a worse state than the fit started from is kept";
    } else {
      EXPECT_EQ(Conti().lastRunFailed, 1);
      ASSERT_EQ(Conti().gridSize, static_cast<int>(before.size()));
      EXPECT_TRUE(std::equal(before.begin(), before.end(), Conti().distribution + 1))
          << "the distribution shown after the stop is not the one before";
      EXPECT_TRUE(ModelCurves() == curvesBefore) << "the model curves shown are not those of that distribution";
      // The next Run, within its time, is whole again and gives the same.
      Window().Dispatch(213);
      Drain();
      EXPECT_EQ(Conti().lastRunFailed, 0);
      EXPECT_TRUE(std::equal(before.begin(), before.end(), Conti().distribution + 1));
    }
  }
  Conti().maxEntropy = 0;
}

// Ctrl+R typed during a Run is its stop, whether the toolkit delivers it at
// once or it still waits in the queue when the Run ends: no second Run
// starts after it, and the next Ctrl+R runs again.
TEST_F(FitKeys, KeysTypedDuringARunStartNoCommandAfterIt) {
  ContinuousAnalysis();
  // As the desktop session delivers what waits before the next question.
  platform::SetEventFlush([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
  int polls = 0;
  platform::SetEventPump([&] { ++polls; });
  Window().Dispatch(213);
  const int whole = polls;
  ASSERT_GT(whole, 2);
  struct Moment {
    int poll;
    bool delivered;  // the toolkit hands the key over at once
  };
  for (const Moment m : {Moment{1, true}, Moment{whole / 2, true}, Moment{whole, false}}) {
    SCOPED_TRACE(m.poll);
    polls = 0;
    platform::SetEventPump([this, &polls, m] {
      if (++polls != m.poll) return;
      QCoreApplication::postEvent(&Qt(), new QKeyEvent(QEvent::KeyPress, Qt::Key_R, Qt::ControlModifier));
      QCoreApplication::postEvent(&Qt(), new QKeyEvent(QEvent::KeyRelease, Qt::Key_R, Qt::ControlModifier));
      if (m.delivered) QCoreApplication::processEvents();
    });
    Window().Dispatch(213);
    const int atEnd = polls;
    for (int k = 0; k < 4; ++k) {
      Drain();
      // A command the key had queued would be re-posted after 20 ms.
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_EQ(polls, atEnd) << "a Run started after the one the key stopped";
    EXPECT_FALSE(platform::StopFlag().load());
  }
  // The keyboard is the user's again: Ctrl+R now starts a Run.
  polls = 0;
  platform::SetEventPump([&] { ++polls; });
  Qt().DeliverKey(Qt::Key_R, Qt::ControlModifier);
  for (int k = 0; k < 4; ++k) {
    Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  platform::SetEventPump({});
  platform::SetEventFlush({});
  EXPECT_GT(polls, 2);
}

// A Run of each distribution model stopped by a key at several of its polls
// of the keyboard (the first, in its kernels, in its normal equations, in
// its regularisation and NNLS solves, late in it; and by its time bound),
// with Compute With Multiple Threads on and off, then run again: the distribution shown after the stop is the one from
// before, bit for bit, and the next Run equals the Run of a new program on
// the same entries.
struct StopCase {
  const char* name;
  int model;
  bool dls;
  std::vector<std::pair<int, std::string>> entries;
  // Polls after the last computation, where no stop is left to take (the
  // time course draws its last window's distribution).
  int pollsAfterResult = 0;
  // Options > Compute With Multiple Threads.
  bool threads = true;
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
    Conti().multipleThreads = c.threads;
    ui_->lenient = true;
    Window().Dispatch(c.model);
    forms_.Expect({"", c.entries, {}});
    Window().Dispatch(212);
  }
  // The stages of a Run, told by its timings (each is set once its stage
  // has ended), and the polls of the keyboard the Run made in each.
  enum Stage { kKernels, kNormalEquations, kRegularization, kStages };
  struct Polls {
    int in[kStages] = {0, 0, 0};
    int All() const { return in[kKernels] + in[kNormalEquations] + in[kRegularization]; }
  };
  struct Moment {
    Stage stage;
    int poll;  // of the stage, from 1
    bool operator<(const Moment& o) const { return stage != o.stage ? stage < o.stage : poll < o.poll; }
    bool operator==(const Moment& o) const = default;
  };
  // A Run with a key typed at the given poll of a stage (none: a whole Run),
  // or with the clock moved past the Run's time bound there.
  Polls RunStoppedAt(std::optional<Moment> at = std::nullopt, teststate::JumpingClock* clock = nullptr) {
    Polls p;
    platform::SetEventPump([&] {
      const ContiRunTimings& t = LastContiRunTimings();
      const Stage stage = t.normalEquations > 0 ? kRegularization : t.lamm > 0 ? kNormalEquations : kKernels;
      ++p.in[stage];
      if (!at || stage != at->stage || p.in[stage] != at->poll) return;
      if (clock)
        clock->Jump(31 * 60);
      else
        Type(Qt::Key_X, "x");
    });
    Window().Dispatch(213);
    platform::SetEventPump({});
    Drain();
    return p;
  }
  // The stop's own words: "user interrupt", or for a time course how many
  // of its windows it had computed.
  static bool SaidUserInterrupt(const std::vector<platform::TranscriptEntry>& t) {
    for (const auto& e : t)
      if (e.text == "user interrupt" || e.text.rfind("time course interrupted: ", 0) == 0) return true;
    return false;
  }
};

TEST_P(StoppedRuns, AStopShowsTheDistributionBeforeAndTheNextRunIsAsInANewProgram) {
  const StopCase& c = GetParam();
  Analysis(c);
  // The first Run computes every kernel; a Run after a whole one (which for
  // c(s,f/f0) on an unchanged grid takes the kernels computed before) polls
  // as the Runs below do.
  const Polls computing = RunStoppedAt();
  const Polls polls = RunStoppedAt();
  ASSERT_GT(polls.All(), 2) << "the Run never looked at the keyboard";
  ASSERT_EQ(Conti().lastRunFailed, 0);
  const Shown first = Now();
  ASSERT_FALSE(first.c.empty());
  // The first poll of each stage, the second of the kernels, and the
  // second, a middle and a late one of the regularisation and its NNLS
  // solves. With threads the kernels and the normal equations are polled
  // while their workers run (every 10 ms), so only their first polls are
  // sure to come again; on one thread the kernels are polled by species and
  // by scan, as often in every Run, and a middle and a late poll are taken
  // there too. The regularisation polls on this thread, as often in every Run.
  std::vector<Moment> moments;
  const int regularization = polls.in[kRegularization] - c.pollsAfterResult;
  const auto middleAndLate = [&](Stage stage, int count) {
    for (const int k : {(count + 1) / 2, std::max(1, count * 9 / 10)}) moments.push_back({stage, k});
  };
  if (polls.in[kKernels] > 0) moments.push_back({kKernels, 1});
  if (polls.in[kKernels] >= 4) moments.push_back({kKernels, 2});
  if (!c.threads && polls.in[kKernels] > 0) middleAndLate(kKernels, polls.in[kKernels]);
  if (polls.in[kNormalEquations] > 0) moments.push_back({kNormalEquations, 1});
  if (regularization > 0) {
    moments.push_back({kRegularization, 1});
    if (regularization >= 2) moments.push_back({kRegularization, 2});
    middleAndLate(kRegularization, regularization);
  }
  std::sort(moments.begin(), moments.end());
  moments.erase(std::unique(moments.begin(), moments.end()), moments.end());
  ASSERT_GE(moments.size(), 2u);
  std::printf("%s: %d polls in the kernels, %d in the normal equations, %d in the regularisation (%d in the "
              "kernels when it computes them)\n",
              c.name, polls.in[kKernels], polls.in[kNormalEquations], polls.in[kRegularization],
              computing.in[kKernels]);
  std::vector<Shown> again;
  std::vector<std::string> when;
  for (const Moment m : moments) {
    when.push_back("stage " + std::to_string(m.stage) + ", poll " + std::to_string(m.poll));
    SCOPED_TRACE(when.back());
    ui_->transcript.clear();
    RunStoppedAt(m);
    ASSERT_TRUE(SaidUserInterrupt(ui_->transcript)) << "not stopped";
    EXPECT_EQ(Conti().lastRunFailed, 1);
    EXPECT_TRUE(Now() == first) << "the distribution shown after the stop is not the one before";
    EXPECT_FALSE(platform::QuitRequested());
    RunStoppedAt();
    EXPECT_EQ(Conti().lastRunFailed, 0);
    again.push_back(Now());
  }
  // Where a Run takes the kernels of the one before, a Run after a stopped
  // one computes them again: stopped in them too, the stop after a stop
  // leaves nothing the next Run takes as done.
  if (computing.in[kKernels] > polls.in[kKernels]) {
    when.push_back("in the kernels after a stop");
    SCOPED_TRACE(when.back());
    RunStoppedAt(moments.front());
    ui_->transcript.clear();
    RunStoppedAt(Moment{kKernels, 1});
    EXPECT_TRUE(SaidUserInterrupt(ui_->transcript));
    EXPECT_TRUE(Now() == first) << "the distribution shown after the stop is not the one before";
    RunStoppedAt();
    EXPECT_EQ(Conti().lastRunFailed, 0);
    again.push_back(Now());
  }
  // The Run's time bound passing at the first of these moments stops it as
  // the key did, in its own words.
  {
    when.push_back("at its time bound");
    SCOPED_TRACE(when.back());
    teststate::JumpingClock clock;
    ui_->transcript.clear();
    RunStoppedAt(moments.front(), &clock);
    int said = 0;
    for (const auto& e : ui_->transcript) {
      said += e.text == kRunTimeBoundText || e.text.rfind("time course interrupted: ", 0) == 0;
      EXPECT_NE(e.text, "user interrupt");
    }
    EXPECT_EQ(said, 1);
    EXPECT_EQ(Conti().lastRunFailed, 1);
    EXPECT_TRUE(Now() == first) << "the distribution shown after the stop is not the one before";
    EXPECT_FALSE(platform::StopDeadlinePassed());
    RunStoppedAt();
    EXPECT_EQ(Conti().lastRunFailed, 0);
    again.push_back(Now());
  }
  // The same entries in a new program.
  StartAgain();
  Analysis(c);
  RunStoppedAt();
  const Shown fresh = Now();
  EXPECT_TRUE(fresh == first);
  for (std::size_t k = 0; k < again.size(); ++k) EXPECT_TRUE(again[k] == fresh) << "after the stop at " << when[k];
}

INSTANTIATE_TEST_SUITE_P(
    EveryDistribution, StoppedRuns,
    ::testing::Values(StopCase{"cs", 275, false, {{405, "30"}, {406, "1"}, {407, "10"}}},
                      StopCase{"csff0", 595, false, {{405, "15"}, {406, "1"}, {407, "10"}, {428, "4"}}},
                      StopCase{"cM", 235, false, {{405, "30"}}},
                      StopCase{"IRh", 503, true, {{405, "30"}}},
                      StopCase{"ID", 502, true, {{405, "30"}}},
                      StopCase{"IRht", 522, true, {{405, "30"}}, 1},
                      StopCase{"csOneThread", 275, false, {{405, "30"}, {406, "1"}, {407, "10"}}, 0, false},
                      StopCase{"csff0OneThread", 595, false, {{405, "15"}, {406, "1"}, {407, "10"}, {428, "4"}}, 0, false},
                      StopCase{"cMOneThread", 235, false, {{405, "30"}}, 0, false},
                      StopCase{"IRhOneThread", 503, true, {{405, "30"}}, 0, false}),
    [](const ::testing::TestParamInfo<StopCase>& i) { return std::string(i.param.name); });



// Scans of a featureless cell written as files: every value `level` plus
// normal noise of `noise` (seeded), `scans` scans from 1200 s, `apart`
// seconds apart.
class FeaturelessRuns : public FitKeys {
 protected:
  // The key that stops a fit running on, so that it fails instead of
  // hanging: once, after 500 evaluations of one Fit, six times the most a
  // row here takes (87, twenty scans by Marquardt-Levenberg). Counted in
  // evaluations, not in calls of the pump: a wait for the workers pumps
  // every 10 ms, so on a busy machine the same count of calls came earlier
  // in the fit and its end changed with the load.
  static void PressAfterManyEvaluations(bool& pressed) {
    if (pressed || gFitEngineState.fitEvaluations < 500) return;
    pressed = true;
    platform::PostKeyDown(' ');
  }
  std::vector<std::string> WriteFlat(double level, double noise, int scans, double apart, unsigned seed) {
    std::vector<std::string> paths;
    std::mt19937 gen(seed);
    std::normal_distribution<double> n01(0.0, 1.0);
    const double omega = 50000 * M_PI / 30.0;
    for (int k = 1; k <= scans; ++k) {
      const double t = 1200.0 + apart * (k - 1);
      char name[32];
      std::snprintf(name, sizeof name, "%05d.ra1", k);
      const std::string path = (dir_ / name).string();
      std::string text = "featureless cell\n";
      char line[160];
      std::snprintf(line, sizeof line, "R 1 20.0 50000 %ld %1.4e 280 1\n", static_cast<long>(t), omega * omega * t);
      text += line;
      for (int j = 0; j < 120; ++j) {
        std::snprintf(line, sizeof line, "   %1.4f  %1.5e   %1.5e \n", 5.95 + 0.01 * j, level + noise * n01(gen), 0.0);
        text += line;
      }
      std::ofstream(path) << text;
      paths.push_back(path);
    }
    return paths;
  }
  // The model chosen with its entries and the TI noise fitted, then Run.
  void RunOn(const std::vector<std::string>& paths, int model, const std::vector<std::pair<int, std::string>>& entries,
             bool maxEntropy) {
    Shown();
    ASSERT_TRUE(LoadAllData(PickedFiles(std::filesystem::path(paths.front()).parent_path(), paths)));
    ui_->lenient = true;
    Window().Dispatch(model);
    forms_.Expect({"", entries, {{431, 1}}});
    Window().Dispatch(212);
    Conti().maxEntropy = maxEntropy;
    ui_->transcript.clear();
    Window().Dispatch(213);
    Drain();
  }
};

// An exact fit (every value 0.5, which the TI noise takes whole: chi^2 = 0)
// is a result of every regularisation: rmsd 0, a finite distribution, no
// box, and the program goes on.
TEST_F(FeaturelessRuns, AnExactFitIsAResultOfEveryRegularization) {
  struct Row {
    int model;
    bool maxEntropy;
    std::vector<std::pair<int, std::string>> entries;
  };
  for (const Row& row : {Row{275, true, {{405, "30"}}}, Row{275, false, {{405, "30"}}},
                         Row{595, false, {{405, "15"}, {428, "4"}}}}) {
    SCOPED_TRACE(row.model * 10 + row.maxEntropy);
    StartAgain();
    RunOn(WriteFlat(0.5, 0.0, 4, 600, 1), row.model, row.entries, row.maxEntropy);
    for (const auto& shown : ui_->transcript) ADD_FAILURE() << shown.caption << ": " << shown.text;
    EXPECT_FALSE(platform::QuitRequested());
    EXPECT_EQ(Conti().lastRunFailed, 0);
    EXPECT_LT(CalcRmsd(), 1e-6f);
    const ContiSettings& cs = Conti();
    for (int i = 1; i <= cs.gridSize; ++i) EXPECT_TRUE(std::isfinite(cs.distribution[i])) << i;
  }
}


// The example's scans with every value replaced by `level` + N(0, noise):
// the first `scans` of them, their headers (times) kept.
std::vector<std::string> FeaturelessExample(const std::filesystem::path& folder, int scans, double level,
                                            double noise, unsigned seed) {
  std::filesystem::create_directories(folder);
  std::mt19937 gen(seed);
  std::normal_distribution<double> n01(0.0, 1.0);
  std::vector<std::string> paths;
  for (int k = 1; k <= scans; ++k) {
    char file[16];
    std::snprintf(file, sizeof file, "%05d.RA1", k);
    std::ifstream in(std::filesystem::path(TARNEL_SOURCE_DIR) / "examples/cofs" / file);
    std::string line, text;
    for (int n = 0; std::getline(in, line); ++n) {
      if (n < 2) {
        text += line + "\n";
        continue;
      }
      double r = 0;
      if (std::sscanf(line.c_str(), "%lf", &r) != 1) continue;
      char row[80];
      std::snprintf(row, sizeof row, "   %1.4f  %1.5e   %1.5e \n", r, level + noise * n01(gen), 0.0);
      text += row;
    }
    const std::string path = (folder / file).string();
    std::ofstream(path) << text;
    paths.push_back(path);
  }
  return paths;
}

// Featureless scans (0.5 + N(0, 0.01), pure noise, two scans) through the
// Runs of c(s) and c(s,f/f0) at their defaults on one thread end by
// themselves, finite, and say what they did. (The draw of seed 3 made the
// active set of NNLS cycle for hours under the regularisation of c(s,f/f0).)
TEST_F(FeaturelessRuns, FeaturelessExampleScansEndByThemselves) {
  struct Row {
    const char* name;
    int model;
    int scans;
    double level;
    unsigned seed;
    bool maxEntropy;
    std::vector<std::pair<int, std::string>> entries = {};
    // The search of alpha must end short of its ratio, and say so.
    bool shortOfTheRatio = false;
  };
  for (const Row& row : {Row{"cs-maxent", 275, 36, 0.5, 7, true}, Row{"cs-tikhonov", 275, 36, 0.5, 7, false, {}, true},
                         Row{"cs-noise", 275, 36, 0.0, 5, false, {}, true}, Row{"csff0-7", 595, 36, 0.5, 7, false, {}, true},
                         Row{"csff0-3", 595, 36, 0.5, 3, false, {}, true}, Row{"csff0-two", 595, 2, 0.5, 3, false, {}, true}}) {
    SCOPED_TRACE(row.name);
    StartAgain();
    Conti().multipleThreads = 0;
    RunOn(FeaturelessExample(dir_ / row.name, row.scans, row.level, 0.01, row.seed), row.model, row.entries, row.maxEntropy);
    const int trials = Regularization().trials;
    // Each trial solves the whole system again: once the ratio no longer
    // moves with alpha, a few more show that it cannot reach its target.
    if (row.shortOfTheRatio) {
      EXPECT_FALSE(Regularization().limitNote.empty());
      EXPECT_LE(trials, 12);
    }
    EXPECT_FALSE(platform::QuitRequested());
    const ContiSettings& cs = Conti();
    ASSERT_GT(cs.gridSize, 0);
    for (int i = 1; i <= cs.gridSize; ++i) EXPECT_TRUE(std::isfinite(cs.distribution[i])) << i;
    const float rmsd = CalcRmsd();
    EXPECT_TRUE(std::isfinite(rmsd) && rmsd < 0.02f) << rmsd;
    // A regularisation that did not reach its ratio says so, in its own
    // words or in the error box of the limit that ended it.
    const RegularizationState& reg = Regularization();
    if (!reg.limitNote.empty()) {
      bool said = false;
      for (const auto& shown : ui_->transcript)
        said = said || shown.text == reg.limitNote || (!reg.limitBox.empty() && shown.text == reg.limitBox);
      EXPECT_TRUE(said) << reg.limitNote;
    }
  }
}

// Featureless scans through a Fit of c(s) with f/f0, meniscus, bottom and
// baseline floated, and of c(s,f/f0) with meniscus, bottom and baseline,
// by the simplex, Marquardt-Levenberg and annealing on one thread: flat
// (every value 0.5, an exact fit), pure noise, 0.5 + noise, and two scans
// minutes or hours apart. Nothing in them settles f/f0, the meniscus or the
// bottom: the distribution lowers chi-square no more than its amplitudes
// fit noise, and every fit ends by itself from its start on the quantities
// the data do not determine, all of them named (never the time bound,
// never a stop), says so in one box, and leaves a finite result with f/f0
// within its ceiling. A key pressed after many evaluations would stop a fit
// that runs on, so that it fails here instead of hanging. With maximum
// entropy the search of alpha over a distribution that does not change with
// it (0 or flat) ends short of its ratio: that is said in the same one box.
TEST_F(FeaturelessRuns, FeaturelessFitsEndByThemselves) {
  struct Row {
    const char* name;
    int model;
    Method method;
    double level, noise;
    int scans;
    double apart;
    bool maxEntropy = false;
    bool example = false;  // the example's first `scans` scans, every value replaced
  };
  const Row rows[] = {
      {"cs simplex flat", 275, Method::Simplex, 0.5, 0.0, 4, 600},
      {"cs simplex noise", 275, Method::Simplex, 0.0, 0.01, 4, 600},
      {"cs simplex 0.5 + noise", 275, Method::Simplex, 0.5, 0.01, 4, 600},
      {"cs simplex two scans minutes apart", 275, Method::Simplex, 0.5, 0.01, 2, 300},
      {"cs simplex two scans hours apart", 275, Method::Simplex, 0.5, 0.01, 2, 3 * 3600},
      {"cs marquardt flat", 275, Method::Marquardt, 0.5, 0.0, 4, 600},
      {"cs marquardt noise", 275, Method::Marquardt, 0.0, 0.01, 4, 600},
      {"cs marquardt 0.5 + noise", 275, Method::Marquardt, 0.5, 0.01, 4, 600},
      {"cs marquardt two scans minutes apart", 275, Method::Marquardt, 0.5, 0.01, 2, 300},
      {"cs marquardt two scans hours apart", 275, Method::Marquardt, 0.5, 0.01, 2, 3 * 3600},
      {"csff0 simplex flat", 595, Method::Simplex, 0.5, 0.0, 4, 600},
      {"csff0 simplex 0.5 + noise", 595, Method::Simplex, 0.5, 0.01, 4, 600},
      {"csff0 marquardt noise", 595, Method::Marquardt, 0.0, 0.01, 4, 600},
      {"csff0 marquardt two scans hours apart", 595, Method::Marquardt, 0.5, 0.01, 2, 3 * 3600},
      {"cs annealing flat", 275, Method::Annealing, 0.5, 0.0, 4, 600},
      {"cs annealing 0.5 + noise", 275, Method::Annealing, 0.5, 0.01, 4, 600},
      {"cs annealing two scans hours apart", 275, Method::Annealing, 0.5, 0.01, 2, 3 * 3600},
      {"csff0 simplex two scans hours apart", 595, Method::Simplex, 0.5, 0.01, 2, 3 * 3600},
      {"csff0 annealing noise", 595, Method::Annealing, 0.0, 0.01, 4, 600},
      {"cs simplex maxent example 0.5 + noise", 275, Method::Simplex, 0.5, 0.01, 36, 300, true, true},
      {"cs simplex maxent flat", 275, Method::Simplex, 0.5, 0.0, 4, 600, true},
      {"cs simplex maxent two scans hours apart", 275, Method::Simplex, 0.5, 0.01, 2, 3 * 3600, true},
      {"cs marquardt maxent 0.5 + noise", 275, Method::Marquardt, 0.5, 0.01, 4, 600, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StartAgain();
    Conti().multipleThreads = 0;
    const std::vector<std::pair<int, std::string>> entries =
        row.model == 275 ? std::vector<std::pair<int, std::string>>{{405, "15"}, {406, "1"}, {407, "10"}, {435, "5.9000"}, {437, "7.2000"}}
                         : std::vector<std::pair<int, std::string>>{{405, "10"}, {406, "1"}, {407, "10"}, {428, "3"}, {435, "5.9000"}, {437, "7.2000"}};
    Shown();
    const std::filesystem::path folder = row.example ? dir_ / row.name : dir_;
    ASSERT_TRUE(LoadAllData(PickedFiles(folder, row.example ? FeaturelessExample(folder, row.scans, row.level, row.noise, 7)
                                                            : WriteFlat(row.level, row.noise, row.scans, row.apart, 7))));
    ui_->lenient = true;
    Window().Dispatch(row.model);
    std::vector<std::pair<int, int>> checks{{431, 1}, {432, 1}, {434, 1}, {436, 1}};
    if (row.model == 275) checks.push_back({416, 1});
    forms_.Expect({"", entries, checks});
    Window().Dispatch(212);
    Conti().maxEntropy = row.maxEntropy;
    Window().Dispatch(213);
    Drain();
    FitEngineState& fs = gFitEngineState;
    fs.meniscusMin = 5.8f;
    fs.meniscusMax = 5.95f;
    fs.bottomMin = 7.14f;
    fs.bottomMax = 7.6f;
    Choose(row.method);
    bool pressed = false;
    platform::SetEventPump([&pressed] { PressAfterManyEvaluations(pressed); });
    ui_->transcript.clear();
    const auto start = std::clock();
    Window().Dispatch(215);
    platform::SetEventPump({});
    Drain();
    std::printf("%s: %.1f s CPU, %s: %s\n", row.name, double(std::clock() - start) / CLOCKS_PER_SEC,
                FitEndKindName(LastFitEnd().kind).c_str(), LastFitEnd().text.c_str());
    EXPECT_FALSE(platform::QuitRequested());
    const FitEndKind end = LastFitEnd().kind;
    EXPECT_EQ(end, FitEndKind::Undetermined) << FitEndKindName(end) << ": " << LastFitEnd().text;
    const std::string named = row.model == 275 ? "the data do not determine f/f0, meniscus and bottom; "
                                               : "the data do not determine meniscus and bottom; ";
    EXPECT_EQ(LastFitEnd().text.rfind("the data show no sedimenting material beyond the noise (the ", 0), 0u)
        << LastFitEnd().text;
    EXPECT_NE(LastFitEnd().text.find(named), std::string::npos) << LastFitEnd().text;
    // One box in the end's own words, which say what the regularisation of
    // the result had to say.
    int boxes = 0;
    for (const auto& shown : ui_->transcript) boxes += shown.text == LastFitEnd().text;
    EXPECT_EQ(boxes, 1);
    if (!row.maxEntropy && !Regularization().limitNote.empty()) {
      EXPECT_NE(LastFitEnd().text.find(Regularization().limitNote), std::string::npos) << LastFitEnd().text;
    }
    // No other box: a solve that fails inside a trial rejects the trial.
    for (const auto& shown : ui_->transcript)
      if (shown.kind == platform::InteractionKind::MessageBox) {
        EXPECT_EQ(shown.text, LastFitEnd().text);
      }
    const ContiSettings& cs = Conti();
    for (int i = 1; i <= cs.gridSize; ++i) EXPECT_TRUE(std::isfinite(cs.distribution[i])) << i;
    EXPECT_TRUE(std::isfinite(CalcRmsd()));
    if (row.model == 275) {
      EXPECT_TRUE(cs.ffValue > 0.0f && cs.ffValue <= ContiFrictionalRatioCeilingInUse()) << cs.ffValue;
    }
    EXPECT_GE(gModelParams.meniscus, fs.meniscusMin);
    EXPECT_LE(gModelParams.meniscus, fs.meniscusMax);
  }
}

// Pure noise about 0.5 (N(0, 0.01)) through a Fit of c(s) with f/f0 and
// the meniscus floated and no noise terms, by the simplex and by
// Marquardt-Levenberg on one thread: the level is material, f/f0 has no
// say in it, and both methods end alike, finite, f/f0 within its ceiling.
// The end is shown as the fit left it: a Run of the end's parameters
// gives the same distribution, curves and rmsd to the bit.
TEST_F(FeaturelessRuns, PureNoiseAboutALevelWithoutNoiseTermsEndsAlikeByEveryMethod) {
  struct Row {
    const char* name;
    int scans;
    unsigned seed;
    bool example = false;  // the example's first `scans` scans, every value replaced
  };
  for (const Row& row : {Row{"six scans", 6, 7}, Row{"twenty scans", 20, 8}, Row{"the example's twenty scans", 20, 9, true}}) {
    std::vector<std::string> ends;
    for (Method method : {Method::Simplex, Method::Marquardt}) {
      SCOPED_TRACE(std::string(row.name) + (method == Method::Simplex ? " simplex" : " marquardt"));
      StartAgain();
      Conti().multipleThreads = 0;
      Shown();
      const std::filesystem::path folder = row.example ? dir_ / "example" : dir_;
      ASSERT_TRUE(LoadAllData(PickedFiles(folder, row.example ? FeaturelessExample(folder, row.scans, 0.5, 0.01, row.seed)
                                                              : WriteFlat(0.5, 0.01, row.scans, 600, row.seed))));
      ui_->lenient = true;
      Window().Dispatch(275);
      forms_.Expect({"", {{405, "15"}, {406, "1"}, {407, "10"}, {435, "5.9000"}}, {{431, 0}, {455, 0}, {432, 0}, {416, 1}, {434, 1}}});
      Window().Dispatch(212);
      Window().Dispatch(213);
      Drain();
      FitEngineState& fs = gFitEngineState;
      fs.meniscusMin = 5.8f;
      fs.meniscusMax = 5.95f;
      Choose(method);
      bool pressed = false;
      platform::SetEventPump([&pressed] { PressAfterManyEvaluations(pressed); });
      const auto start = std::clock();
      // An end away from a minimum says that a second Fit continues from
      // there: so it does, once more at most.
      for (int fit = 1; fit <= 3; ++fit) {
        Window().Dispatch(215);
        Drain();
        std::printf("%s, fit %d: %.1f s CPU, %s: %s\n", row.name, fit, double(std::clock() - start) / CLOCKS_PER_SEC,
                    FitEndKindName(LastFitEnd().kind).c_str(), LastFitEnd().text.c_str());
        if (LastFitEnd().kind != FitEndKind::NotReached) break;
        EXPECT_LT(fit, 3) << LastFitEnd().text;
      }
      platform::SetEventPump({});
      const ContiSettings& cs = Conti();
      EXPECT_NE(LastFitEnd().kind, FitEndKind::Stopped) << LastFitEnd().text;
      EXPECT_NE(LastFitEnd().kind, FitEndKind::Limit) << LastFitEnd().text;
      ends.push_back(FitEndKindName(LastFitEnd().kind) + ": " + LastFitEnd().text.substr(0, LastFitEnd().text.find(':')));
      for (int i = 1; i <= cs.gridSize; ++i) EXPECT_TRUE(std::isfinite(cs.distribution[i])) << i;
      EXPECT_TRUE(std::isfinite(CalcRmsd()));
      EXPECT_TRUE(cs.ffValue > 0.0f && cs.ffValue <= ContiFrictionalRatioCeilingInUse()) << cs.ffValue;
      EXPECT_GE(gModelParams.meniscus, fs.meniscusMin);
      EXPECT_LE(gModelParams.meniscus, fs.meniscusMax);
      // The level of 0.5 is the distribution's whole amplitude.
      EXPECT_NEAR(cs.totalAmplitude, 0.5, 0.02);
      const std::vector<float> curves = ModelCurves();
      const std::vector<float> distribution(cs.distribution + 1, cs.distribution + cs.gridSize + 1);
      const float rmsd = gFitEngineState.currentRmsd, total = cs.totalAmplitude;
      Window().Dispatch(213);
      Drain();
      EXPECT_TRUE(ModelCurves() == curves);
      EXPECT_TRUE(std::vector<float>(cs.distribution + 1, cs.distribution + cs.gridSize + 1) == distribution);
      EXPECT_EQ(gFitEngineState.currentRmsd, rmsd);
      EXPECT_EQ(cs.totalAmplitude, total);
    }
    EXPECT_EQ(ends[0], ends[1]);
  }
}

// The window's pixels when a box without caption (a fit's end) comes.
class PictureAtBox : public platform::ScriptedUserInterface {
 public:
  explicit PictureAtBox(TXLAWindow& w) : w_(w) {}
  int MessageBox(const std::string& caption, const std::string& text, platform::BoxButtons buttons,
                 platform::BoxIcon icon) override {
    if (caption.empty() && w_.Frame().Surface()) {
      busy = w_.FitBusy;
      pixels = w_.Frame().Surface()->CopyPixels(0, 0, 1000, 700);
    }
    return ScriptedUserInterface::MessageBox(caption, text, buttons, icon);
  }
  bool busy = true;
  platform::Bitmap pixels;

 private:
  TXLAWindow& w_;
};

// Featureless scans with f/f0 and the meniscus fitted end their fit by
// themselves with one box that says how, and that box stands over the
// picture of the end (the best model's curves, one report): over the
// picture of the start, with the end's report written beside the start's,
// the user read of kept parameters that the window did not show.
TEST_F(FeaturelessRuns, AFitsEndIsSaidOverThePictureOfThatEnd) {
  const std::vector<std::string> paths = FeaturelessExample(dir_ / "two", 2, 0.5, 0.01, 11);
  Shown();
  ASSERT_TRUE(LoadAllData(PickedFiles(dir_ / "two", paths)));
  ui_->lenient = true;
  Window().Dispatch(275);
  forms_.Expect({"", {{405, "30"}}, {{431, 0}, {416, 1}, {434, 1}}});
  Window().Dispatch(212);
  Window().Dispatch(213);
  Drain();
  for (Method method : {Method::Simplex, Method::Marquardt}) {
    SCOPED_TRACE(method == Method::Simplex ? "simplex" : "marquardt");
    scope_.reset();
    auto watch = std::make_unique<PictureAtBox>(Window());
    PictureAtBox& at = *watch;
    ui_ = std::move(watch);
    ui_->lenient = true;
    scope_ = std::make_unique<platform::ScopedUI>(*ui_);
    Choose(method);
    Window().Dispatch(215);
    Drain();
    // (Here the simplex ends saying that the data do not determine f/f0,
    // Marquardt at its minimum, in silence.)
    int ends = 0;
    for (const auto& t : ui_->transcript) ends += t.caption.empty();
    EXPECT_EQ(ends, LastFitEnd().kind == FitEndKind::Reached ? 0 : 1);
    if (ends == 0) continue;
    EXPECT_FALSE(at.busy);
    Window().Frame().Invalidate(true);
    Drain();
    EXPECT_TRUE(Window().Frame().Surface()->CopyPixels(0, 0, 1000, 700) == at.pixels);
  }
}

}  // namespace
