// Run planning through the window: the time-to-equilibrium parameter dialog
// (entries shown, refused and taken), its preferences at start-up, and the
// rotor-speed estimate of command 875 with its plot and message.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/dialogs/form_dialog.h"
#include "app/window/main_window_flags.h"
#include "app/commands/equilibrium/planning_commands.h"
#include "app_fixture.h"
#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/speed_profile_optimizer.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/cvector.h"
#include "platform/automatic_ui.h"
#include "platform/draw_context.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"

namespace {

class Planning : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    ResetTimeToEqParams(CurrentTimeToEqParams());
    saved_ = platform::ProgramPaths.SimAppEqParamsIniPath;
    platform::ProgramPaths.SimAppEqParamsIniPath = (dir_ / "tarnelsimappeqparams.ini").string();
    InstallPlanningShellServices(Services());
    WriteAgreedDefaults();
    formScope_ = std::make_unique<ScopedFormRunner>(forms_);
  }
  void TearDown() override {
    formScope_.reset();
    window_.reset();
    FreeAdHocPlotArrays();
    ResetTimeToEqParams(CurrentTimeToEqParams());
    platform::ProgramPaths.SimAppEqParamsIniPath = saved_;
    AppTest::TearDown();
  }
  TXLAWindow& Window() {
    if (!window_) window_ = MakeWindow();
    return *window_;
  }
  // The dialog with these entries typed in and OK pressed.
  void Accept(std::vector<std::pair<int, std::string>> texts, std::vector<std::pair<int, int>> states = {}) {
    forms_.Expect({"Parameters For Optimizing Time To Equilibrium", std::move(texts), std::move(states), true});
  }
  // The rotor-speed estimate answered with these entries.
  void Estimate(const char* lo, const char* hi, const char* bottom, const char* meniscus) {
    ui_->ExpectPrompt("ESTIMATE EQ ROTOR SPEED", "lowest Mw of interest (Da)", lo)
        .ExpectPrompt("ESTIMATE EQ ROTOR SPEED", "highest Mw of interest (Da)", hi)
        .ExpectPrompt("ESTIMATE EQ ROTOR SPEED", "bottom (cm)", bottom)
        .ExpectBox("ESTIMATE EQ ROTOR SPEED", "130 ul -> ~6.8 cm")
        .ExpectPrompt("ESTIMATE EQ ROTOR SPEED", "meniscus (cm)", meniscus);
  }
  std::string saved_;
  ScriptedFormRunner forms_;
  std::unique_ptr<ScopedFormRunner> formScope_;
  std::unique_ptr<TXLAWindow> window_;
};

}  // namespace

TEST_F(Planning, StartUpLoadsThePreferencesAndMakesTheSimulation) {
  TimeToEqParams p;
  p.finalRpm = 21000;
  p.simParamsPath = "kept?";
  ASSERT_TRUE(SaveTimeToEqPreferences(p, platform::ProgramPaths.SimAppEqParamsIniPath));
  CurrentTimeToEqParams().simParamsPath = "old/simparams.txt";
  ConstantSpeedSimulation().reset();
  Window();
  EXPECT_EQ(CurrentTimeToEqParams().finalRpm, 21000);
  EXPECT_TRUE(CurrentTimeToEqParams().simParamsPath.empty());
  ASSERT_TRUE(ConstantSpeedSimulation());
  EXPECT_EQ(ConstantSpeedSimulation()->nScans, 0);
}

TEST_F(Planning, DialogShowsTheRecordAndTakesTheEntries) {
  TimeToEqParams& p = CurrentTimeToEqParams();
  p.profileParameters.assign(6, 1.0f);
  Accept({{627, "130"}, {619, "5.9"}, {412, "-2"}}, {{832, 0}, {924, 1}, {621, 0}, {620, 1}});
  ASSERT_TRUE(RunTimeToEQPBox(Window()));
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  // As shown: the program's solvent filled in, the switches from the record.
  const FormDialog& shown = forms_.seen.front();
  EXPECT_EQ(shown.Find(639)->text, "15000");
  EXPECT_EQ(shown.Find(643)->text, "8.33");
  EXPECT_EQ(shown.Find(426)->text, "0.730");
  EXPECT_EQ(shown.Find(835)->text, "1.002000");  // water, in cP as labelled
  EXPECT_EQ(shown.Find(619)->text, "5");
  EXPECT_EQ(shown.Find(832)->state, 1);
  EXPECT_EQ(shown.Find(620)->state, 1);
  EXPECT_EQ(shown.Find(623)->state, 1);
  EXPECT_EQ(shown.Find(626)->state, 1);
  EXPECT_FALSE(shown.Find(420)->enabled);
  // As taken.
  EXPECT_NEAR(p.meniscus, 6.8291f, 1e-4);
  EXPECT_NEAR(p.leftLimit, 6.8491f, 1e-4);
  EXPECT_EQ(p.parameterCount, 5);
  EXPECT_EQ(p.profileParameters.size(), 6u);  // same count: kept
  EXPECT_EQ(p.continueHistory, 1);
  EXPECT_NEAR(p.viscosity, 0.001002f, 1e-9);
  EXPECT_NEAR(p.s1, 4.144f, 0.001f);  // by f/f0: s is derived, the typed -2 is replaced
  EXPECT_NEAR(p.D1, 5.755e-7f, 0.001e-7f);
  EXPECT_EQ(p.saveScans, 1);
  // Saved where the start-up reads.
  TimeToEqParams back;
  ASSERT_TRUE(LoadTimeToEqPreferences(back, platform::ProgramPaths.SimAppEqParamsIniPath));
  EXPECT_NEAR(back.meniscus, 6.8291f, 1e-4);

  // The initial speed box wins over the history box; a new count drops the vector.
  Accept({{627, "6.9"}, {619, "6"}, {612, "9000"}}, {{832, 1}, {924, 1}});
  ASSERT_TRUE(RunTimeToEQPBox(Window()));
  EXPECT_FLOAT_EQ(p.meniscus, 6.9f);
  EXPECT_EQ(p.continueHistory, 0);
  EXPECT_EQ(p.initialRpm, 9000);
  EXPECT_TRUE(p.profileParameters.empty());

  // Entries left as shown keep what the rounded text would lose.
  p.targetRmsd = 5e-5f;
  Accept({});
  ASSERT_TRUE(RunTimeToEQPBox(Window()));
  EXPECT_EQ(forms_.seen.back().Find(617)->text, "0.0000");
  EXPECT_EQ(forms_.seen.back().Find(643)->text, "8.33");
  EXPECT_EQ(p.targetRmsd, 5e-5f);
  EXPECT_EQ(p.overspeedTime, 30000.0f);
  Accept({{643, "10"}});
  ASSERT_TRUE(RunTimeToEQPBox(Window()));
  EXPECT_EQ(p.overspeedTime, 36000.0f);

  // The viscosity is typed in cP: water's 1.002 is water, and s by f/f0
  // goes as 1/viscosity.
  struct Viscosity {
    const char* typed;
    float stored, s1;
  } viscosities[] = {{"1.002", 0.001002f, 4.144f}, {"0.890", 0.00089f, 4.144f * 1.002f / 0.89f}};
  for (const Viscosity& v : viscosities) {
    Accept({{835, v.typed}}, {{621, 0}, {620, 1}});
    ASSERT_TRUE(RunTimeToEQPBox(Window()));
    EXPECT_NEAR(p.viscosity, v.stored, 1e-9) << v.typed;
    EXPECT_NEAR(p.s1, v.s1, 0.002f) << v.typed;
  }
  Accept({{835, "1.002"}});
  ASSERT_TRUE(RunTimeToEQPBox(Window()));

  // Cancel keeps everything.
  forms_.Expect({"", {{639, "30000"}}, {}, false});
  EXPECT_FALSE(RunTimeToEQPBox(Window()));
  EXPECT_EQ(p.finalRpm, 15000);
}

TEST_F(Planning, DialogStaysOpenForEntriesThePlanningCannotUse) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, std::string>> texts;
    std::vector<std::pair<int, int>> states;
  };
  const Case cases[] = {
      {"not a number", {{629, "warm"}}, {}},
      {"negative", {{614, "-1"}}, {}},
      {"meniscus at the bottom", {{627, "7.2"}}, {}},
      {"volume too large", {{627, "1e6"}}, {}},
      {"meniscus 0", {{627, "0"}}, {}},
      {"final speed 0", {{639, "0"}}, {}},
      {"molar mass 0", {{428, "0"}}, {}},
      {"f/f0 0", {{413, "0"}}, {}},
      {"viscosity 0", {{835, "0"}}, {}},
      {"s 0", {{412, "0"}}, {{621, 1}, {620, 0}}},
      {"no buoyancy", {{426, "1.25"}, {834, "0.8"}}, {}},
      {"fraction above 1", {{406, "1.5"}}, {{615, 1}}},
      {"second mass 0", {{414, "0"}}, {{615, 1}}},
      {"no parameters", {{619, "0.5"}}, {}},
      {"absurd parameters", {{619, "5000"}}, {}},
      {"right limit at the left limit", {{616, "6.77"}}, {}},
      {"right limit at the bottom", {{616, "7.2"}}, {}},
  };
  for (const Case& c : cases) {
    ScriptedFormRunner runner;
    ScopedFormRunner scope(runner);
    runner.Expect({"", c.texts, c.states, true});
    runner.Expect({"", {}, {}, false});  // then Cancel
    ui_->ExpectBox("Input Error", "Invalid Entry");
    EXPECT_FALSE(RunTimeToEQPBox(Window())) << c.what;
    EXPECT_EQ(runner.canCloseRefusals, 1) << c.what;
    EXPECT_TRUE(ui_->failures.empty()) << c.what << ": " << (ui_->failures.empty() ? "" : ui_->failures.front());
    ui_->failures.clear();
  }
  EXPECT_EQ(CurrentTimeToEqParams().meniscus, 6.75f);
  EXPECT_GE(ui_->beeps, 17);
  // A disabled second species is not judged.
  Accept({{406, "1.5"}, {414, "0"}}, {{615, 0}});
  EXPECT_TRUE(RunTimeToEQPBox(Window()));
}

TEST_F(Planning, RotorSpeedEstimateShowsSpeedsProfilesAndTime) {
  Estimate("20000", "200000", "7.2", "6.8");
  ui_->ExpectBox("ESTIMATE EQ ROTOR SPEED", "");
  Window().Dispatch(875);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  const std::string& text = ui_->transcript.back().text;
  EXPECT_EQ(text,
            "first rotor speed of 4700 rpm brings highest Mw in c(b)/c(m) = 5.0"
            "\nsecond rotor speed of 17800 rpm brings lowest Mw in c(b)/c(m) = 10.0"
            "\nthird rotor speed of 30000 rpm brings lowest Mw close to meniscus depletion"
            "\n\nWhat we see in the plot are the distributions for the lowest Mw (blue),\nthe highest Mw (red), "
            "and the average (black)\n(all normalized to unit loading concentration)."
            "\n\nAt 4C, moderately globular proteins would need at least 74 h to reach the first equilibrium at a "
            "constant rotor speed"
            "\n\nConsider smart overspeeding with toEQ tool");
  const AdHocPlotArrays& a = CurrentAdHocPlot();
  ASSERT_TRUE(a.adHocPlot);
  EXPECT_EQ(a.adHocCount, 100);
  EXPECT_EQ(a.adHocPlot->curveCount, 9);
  EXPECT_FLOAT_EQ(a.adHocArrays[1][1], 6.8f);
  EXPECT_FLOAT_EQ(a.adHocArrays[1][100], 7.2f);
  // Curve 1 is 200 kDa at 4700 rpm: bottom over meniscus just below 5.
  EXPECT_NEAR(a.adHocArrays[2][100] / a.adHocArrays[2][1], 5.0, 0.3);
  for (int i = 1; i <= 100; i += 9) EXPECT_FLOAT_EQ(a.adHocArrays[8][i], 0.5f * (a.adHocArrays[2][i] + a.adHocArrays[5][i]));
  // In the colours the message names: highest Mw red, lowest blue, mean black.
  for (int k = 0; k < 9; ++k)
    EXPECT_EQ(a.adHocPlot->GetCurveColor(k), k < 3 ? platform::kRed : k < 6 ? platform::kBlue : platform::kBlack) << k;
}

TEST_F(Planning, RotorSpeedEstimateRefusesAndSaysWhatItCannotFind) {
  // Cancel at the first prompt: nothing.
  ui_->ExpectPrompt("ESTIMATE EQ ROTOR SPEED", "lowest Mw of interest (Da)", std::nullopt);
  Window().Dispatch(875);
  EXPECT_FALSE(CurrentAdHocPlot().adHocPlot);
  // Each entry is checked as it is given: the default 0 Da is refused at
  // once and asked for again, a meniscus beyond the bottom likewise; the
  // entries given before stay.
  const char* c = "ESTIMATE EQ ROTOR SPEED";
  ui_->ExpectPrompt(c, "lowest Mw of interest (Da)", "0")
      .ExpectBox(c, "molar masses must be above 0")
      .ExpectPrompt(c, "lowest Mw of interest (Da)", "20000")
      .ExpectPrompt(c, "highest Mw of interest (Da)", "-5")
      .ExpectBox(c, "molar masses must be above 0")
      .ExpectPrompt(c, "highest Mw of interest (Da)", "200000")
      .ExpectPrompt(c, "bottom (cm)", "7.2")
      .ExpectBox(c, "130 ul -> ~6.8 cm")
      .ExpectPrompt(c, "meniscus (cm)", "7.3")
      .ExpectBox(c, "meniscus must lie below the bottom")
      .ExpectPrompt(c, "meniscus (cm)", "6.8")
      .ExpectBox(c, "first rotor speed of 4700 rpm");
  Window().Dispatch(875);
  ASSERT_TRUE(ui_->AllConsumed());
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(CurrentAdHocPlot().adHocPlot);
  // The same refused entry twice ends the command.
  ui_->ExpectPrompt(c, "lowest Mw of interest (Da)", "0")
      .ExpectBox(c, "molar masses must be above 0")
      .ExpectPrompt(c, "lowest Mw of interest (Da)", "0")
      .ExpectBox(c, "molar masses must be above 0");
  Window().Dispatch(875);
  ASSERT_TRUE(ui_->AllConsumed());
  // A solvent that floats everything is said before anything is asked.
  gSolutionConditions.vbar = 1.1f;
  ui_->ExpectBox(c, "1 - vbar * density must be above 0");
  Window().Dispatch(875);
  gSolutionConditions.vbar = 0.73f;
  // Too light to be depleted: no third speed, and none of its curves.
  Estimate("300", "2000", "7.2", "6.8");
  ui_->ExpectBox("ESTIMATE EQ ROTOR SPEED", "\nno rotor speed up to 60000 rpm brings lowest Mw close to");
  Window().Dispatch(875);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_TRUE(CurrentAdHocPlot().adHocPlot);
  EXPECT_EQ(CurrentAdHocPlot().adHocPlot->curveCount, 6);
}

TEST_F(Planning, HeadlessEstimateTakesTheOfferedEntriesAndEnds) {
  // Nobody answers: the offered 0 Da are refused, and the dialog stands as filled.
  platform::AutomaticUserInterface automatic;
  platform::ScopedUI scope(automatic);
  Window().Dispatch(875);
  EXPECT_FALSE(CurrentAdHocPlot().adHocPlot);
  const std::vector<std::string> log = automatic.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("molar masses must be above 0"), std::string::npos) << log.back();
  formScope_.reset();
  EXPECT_TRUE(RunTimeToEQPBox(Window()));
  EXPECT_EQ(CurrentTimeToEqParams().overspeedTime, 30000.0f);
  EXPECT_NEAR(CurrentTimeToEqParams().D1, 5.755e-7f, 0.001e-7f);
}

namespace {

// Command 874 on a scratch temporary folder, with bounded searches.
class MinimumTime : public Planning {
 protected:
  void SetUp() override {
    Planning::SetUp();
    savedTemp_ = platform::ProgramPaths.TempFolder;
    std::filesystem::create_directories(dir_ / "temp");
    platform::ProgramPaths.TempFolder = (dir_ / "temp").string() + "/";
    SpeedProfileOptimizer() = SpeedProfileOptimizerState{};
    SpeedProfileOptimizer().maxObjectiveCalls = 12;
    WindowFlags().TimeToEqSummaryPending = false;
  }
  void TearDown() override {
    SpeedProfileOptimizer() = SpeedProfileOptimizerState{};
    platform::ProgramPaths.TempFolder = savedTemp_;
    Planning::TearDown();
  }
  void Opening() {
    ui_->ExpectBox("CALCULATE MINIMUM TIME TO EQ", "Please Note:  This estimate is only a guide")
        .ExpectBox("CALCULATE MINIMUM TIME TO EQ", "switching to non-interacting species model");
  }
  void MethodPrompts() {
    ui_->ExpectPrompt("CALCULATE MINIMUM TIME TO EQ", "scan cycle time (sec)", "90")
        .ExpectPrompt("CALCULATE MINIMUM TIME TO EQ", "max # of scans per step", "1")
        .ExpectPrompt("CALCULATE MINIMUM TIME TO EQ", "# of final scans", "0");
  }
  std::filesystem::path Folder(int n) const {
    return dir_ / "temp" / ("optimizedoverspeedsteps" + std::to_string(n));
  }
  std::string savedTemp_;
};

}  // namespace

TEST_F(MinimumTime, PlansTheDefaultRunAndWritesItsFiles) {
  std::filesystem::create_directories(Folder(1));
  std::ofstream(Folder(1) / "optimizedoverspeedsteps1.txt") << "taken";
  Opening();
  Accept({}, {{626, 0}});  // stepwise, five parameters, one repeat
  MethodPrompts();
  Window().Dispatch(874);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const TimeToEqParams& p = CurrentTimeToEqParams();
  const CApproachToEqSim& constant = *ConstantSpeedSimulation();
  EXPECT_NEAR(constant.tEqRms / 3600, 39.0, 0.5);
  EXPECT_LE(p.optimisedTime, 36.5f);
  ASSERT_TRUE(SpeedProfileOptimizer().trial);
  EXPECT_LE(SpeedProfileOptimizer().trial->MaxBottomOverconcentration(), 1.55f);
  EXPECT_EQ(p.rpmStep, 100);

  const std::filesystem::path f = Folder(2);
  for (const char* name : {"optimizedoverspeedsteps2.txt", "optimizedoverspeedsteps2_rpmtimecourse.txt",
                           "simparams.txt", "optimizedoverspeedsteps2.EQU", "constantspeed_DeltaEQ.txt",
                           "optimized_DeltaEQ.txt", "00001.R00", "eq.R00"})
    EXPECT_TRUE(std::filesystem::exists(f / name)) << name;
  const std::string path = (f / "optimizedoverspeedsteps2.txt").string();
  char want[400];
  std::snprintf(want, sizeof want, "epsilon = 0.0010: t(const) = 39 h, t(opt) = %.0f h, saved in %s",
                p.optimisedTime, path.c_str());
  EXPECT_TRUE(WindowFlags().TimeToEqSummaryPending);
  EXPECT_EQ(WindowFlags().TimeToEqSummary, want);
  // The comparison plots wait for the next painting.
  const AdHocPlotArrays& a = CurrentAdHocPlot();
  ASSERT_TRUE(a.adHocPlot);
  EXPECT_EQ(a.adHocPlot->curveCount, 4);
  ASSERT_TRUE(a.adHocPlot2);
  EXPECT_EQ(a.adHocPlot2->curveCount, 2);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "temp" / "backupoptimizedoverspeedsteps1"));
}

TEST_F(MinimumTime, RunsAChosenSpeedFileAndReportsWhatFailed) {
  // A short column comes to equilibrium in a few hours.
  const std::string file = (dir_ / "steps.txt").string();
  std::ofstream(file) << "0\t30000\t280\n3600\t15000\t280";
  Opening();
  Accept({{627, "7.1"}, {616, "7.18"}}, {{640, 1}});
  ui_->ExpectFiles("Pick Rotor Speed File", {true, {file}});
  MethodPrompts();
  Window().Dispatch(874);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(WindowFlags().TimeToEqSummary.rfind("[" + file + "]epsilon = 0.0010: t(const) = ", 0), 0u)
      << WindowFlags().TimeToEqSummary;
  ASSERT_TRUE(SpeedProfileOptimizer().trial);
  EXPECT_EQ(SpeedProfileOptimizer().trial->nSteps, 2);
  EXPECT_EQ(SpeedProfileOptimizer().objectiveCalls, 1);

  // The speed file gone: nothing optimised is written, the summary says why.
  // The last run's parameters are offered with it.
  std::filesystem::remove(file);
  Accept({}, {{640, 1}});
  ui_->ExpectBox("CALCULATE MINIMUM TIME TO EQ", "Please Note")
      .ExpectFiles("Pick Rotor Speed File", {true, {file}})
      .ExpectBox("Pick Rotor Speed File", "also use associated simparams.txt file?", platform::IDNO)
      .ExpectBox("CALCULATE MINIMUM TIME TO EQ", "could not be simulated; no optimized files were written");
  ui_->lenient = true;  // the unreadable file's own message
  Window().Dispatch(874);
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_NE(WindowFlags().TimeToEqSummary.find("t(opt) = simulation failed, saved in "), std::string::npos)
      << WindowFlags().TimeToEqSummary;
  EXPECT_TRUE(std::filesystem::exists(Folder(2) / "constantspeed_DeltaEQ.txt"));
  EXPECT_FALSE(std::filesystem::exists(Folder(2) / "optimizedoverspeedsteps2.txt"));
  EXPECT_FALSE(std::filesystem::exists(Folder(2) / "optimized_DeltaEQ.txt"));
}

TEST_F(MinimumTime, EndsUnaidedUnderTheAutomaticInterface) {
  platform::AutomaticUserInterface automatic;
  platform::ScopedUI scope(automatic);
  Accept({{627, "7.1"}, {616, "7.18"}, {619, "3"}});
  Window().Dispatch(874);
  EXPECT_TRUE(std::filesystem::exists(Folder(1) / "optimizedoverspeedsteps1.EQU"));
  EXPECT_TRUE(std::filesystem::exists(Folder(1) / "optimized_DeltaEQ.txt"));
  EXPECT_EQ(WindowFlags().TimeToEqSummary.rfind("epsilon = 0.0010: t(const) = ", 0), 0u);
}

TEST_F(MinimumTime, ConvertsSpeedStepsAndMethodFiles) {
  const std::string steps = (dir_ / "mysteps.txt").string();
  std::ofstream(steps) << "0\t30000\t280\n3600\t15000\t280";
  const std::string equ = (dir_ / "mysteps.EQU").string();
  ui_->ExpectFiles("input file", {true, {steps}})
      .ExpectFiles("output file", {true, {equ}})
      .ExpectPrompt("create EQU method", "temperature (C)", "20")
      .ExpectPrompt("create EQU method", "scan cycle time (sec)", "90")
      .ExpectPrompt("create EQU method", "max # of scans per step", "1")
      .ExpectPrompt("create EQU method", "# of final scans", "0");
  Window().Dispatch(928);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_TRUE(std::filesystem::exists(equ));
  ASSERT_FALSE(processes_.calls.empty());
  EXPECT_EQ(processes_.calls.back(), "edit " + equ);

  // Back: speedsteps.txt in the method file's folder.
  std::filesystem::create_directories(dir_ / "back");
  std::filesystem::copy_file(equ, dir_ / "back" / "run.EQU");
  const std::string back = (dir_ / "back" / "speedsteps.txt").string();
  ui_->ExpectFiles("input file", {true, {(dir_ / "back" / "run.EQU").string()}})
      .ExpectFiles("output file", {true, {back}});
  Window().Dispatch(928);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(processes_.calls.back(), "edit " + back);
  int n = 0;
  FloatVec t, v, a;
  ASSERT_TRUE(ReadSpeedStepsForRun(back, n, t, v, a));
  EXPECT_EQ(v[1], 30000);
  EXPECT_EQ(v[n], 15000);

  // Cancel in either dialog writes nothing.
  const size_t calls = processes_.calls.size();
  ui_->ExpectFiles("input file", {false, {}});
  Window().Dispatch(928);
  ui_->ExpectFiles("input file", {true, {steps}}).ExpectFiles("output file", {false, {}});
  Window().Dispatch(928);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(processes_.calls.size(), calls);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "speedsteps.EQU"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "speedsteps.txt"));
}

// The planning switches to the non-interacting species for its own
// simulation, and puts the model in use back: the species of a fitted
// equilibrium model, its switch and the menu marks are what they were.
TEST_F(MinimumTime, LeavesTheModelsSpeciesAsTheyWere) {
  Window();
  gModelSelectorFlags.EquilibriumModel284 = 1;
  ModelParams& mp = gModelParams;
  for (int k = 1; k <= 3; ++k) {
    mp.included[k] = 1;
    mp.massOrD[k] = 50000.0f * static_cast<float>(k);
    mp.s[k] = 3.5f * static_cast<float>(k);
    mp.concentration[k] = 0.25f * static_cast<float>(k);
  }
  PackModelParameters();
  const ModelParams before = mp;
  const ModelParameterVector vector = gModelParameterVector;
  Opening();
  Accept({}, {{626, 0}});
  MethodPrompts();
  Window().Dispatch(874);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(mp.massOrD[k], before.massOrD[k]) << k;
    EXPECT_EQ(mp.s[k], before.s[k]) << k;
    EXPECT_EQ(mp.concentration[k], before.concentration[k]) << k;
    EXPECT_EQ(mp.included[k], before.included[k]) << k;
  }
  for (int i = 1; i <= mp.parameterCount; ++i) EXPECT_EQ(gModelParameterVector.P[i], vector.P[i]) << i;
  EXPECT_EQ(gModelSelectorFlags.EquilibriumModel284, 1);
  EXPECT_EQ(gModelSelectorFlags.LammDiscreteModel, 0);
  EXPECT_FALSE(Window().IsMenuItemChecked(198));
}
