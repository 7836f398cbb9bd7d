// The discrete DLS models through the window: a model of known radius is
// run, saved with "Save Fit Data" as g(2)-1, loaded back and fitted from
// elsewhere; Stokes radii and cumulants find what made the data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "distributions/conti_settings.h"
#include "fit/fit_end.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "dls_set_file.h"
#include "road_support.h"

namespace {

constexpr double kD5nm = 4.28582e-7;  // cm^2/s: Rh 5 nm in water at 20 degC

class DlsModels : public RoadTest {
 protected:
  // Two sets of 80 lag times 1e-7 .. 1e-1 s holding a g(2)-1 decay with
  // noise of 1e-4.
  std::vector<std::string> WriteSets(const std::string& stem) {
    std::vector<std::string> paths;
    std::mt19937 gen(11);
    std::normal_distribution<double> noise(0.0, 1e-4);
    for (int k = 1; k <= 2; ++k) {
      const std::string text = apptest::DlsSetText(k, 80, [&] { return noise(gen); });
      const std::string path = (dir_ / (stem + std::to_string(k) + ".dlsdat")).string();
      std::ofstream(path) << text;
      paths.push_back(path);
    }
    return paths;
  }
  void Load(const std::vector<std::string>& paths) {
    ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
    Window().Dispatch(298);
  }
  void StokesRadiiModel() {
    ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", "0.01002");
    Window().Dispatch(536);
  }
  // One slot: value, amplitude 0.9, the value floated or fixed.
  static void OneSlot(float value, bool fit) {
    ModelParams& mp = gModelParams;
    mp.included[1] = 1;
    mp.massOrD[1] = value;
    mp.massOrDFit[1] = fit;
    mp.concentration[1] = 0.9f;
    mp.concentrationFit[1] = 0;
    for (int k = 2; k <= 4; ++k) mp.included[k] = 0;
    PackModelParameters();
  }
};

TEST_F(DlsModels, ASavedStokesRadiusFitIsFoundAgainByRadiusAndByCumulants) {
  Window();  // reads the preferences
  Options().AlwaysLoadG2m1 = true;
  Load(WriteSets("start"));
  StokesRadiiModel();
  OneSlot(5.0f, false);
  Window().Dispatch(213);  // Run
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  // The model is (0.9 g1)^2 of Rh = 5 nm on the fitted baseline.
  const ScanSet& s = CurrentScanSet();
  const double tau = std::pow(10.0, static_cast<double>(s.radii[1][40]));
  const double g1 = std::exp(-1e-4 * kD5nm * 3.50141e14 * tau);
  EXPECT_NEAR(s.model[1][40] - gModelParams.baseline, 0.81 * g1 * g1, 2e-5);

  ui_->ExpectBox("SAVE PARAMETERS", "cannot save fit parameters of current model");
  ui_->ExpectFiles("save fitted data as", Chosen({(dir_ / "fit.dlsdat").string()}));
  ui_->ExpectBox("SAVE DLS DATA", "add noise?", platform::IDNO);
  ui_->ExpectBox("SAVE DLS DATA", "add noise?", platform::IDNO);
  Window().Dispatch(203);  // Save Fit Data
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();

  struct Case {
    const char* name;
    bool cumulants;
    float start;
    double expected;
    // Annealing, with the amplitude and s floated beside the radius: s has
    // no say in a DLS model, and the fit names it (it once ended NaN, or at
    // 5e35, told as kept).
    bool annealingWithS = false;
    // Not the saved sets: one set of 200 lag times holding
    // 0.5 exp(-2e4 tau) + N(0, 0.001) drawn from this seed.
    unsigned seed = 0;
  };
  const Case cases[] = {
      {"Stokes radius from 3 nm", false, 3.0f, 5.0},
      {"cumulant mean D from 3e-7 cm^2/s", true, 3.0f, kD5nm * 1e7},
      {"Stokes radius, amplitude and s by annealing", false, 3.0f, 5.0, true},
      // g(1) = sqrt(0.5) exp(-1e4 tau): D = 1e4 / (1e-4 q^2), a radius of
      // 5 nm x kD5nm / D.
      {"Stokes radius, amplitude and s by annealing, seed 1", false, 3.0f, 5.0 * kD5nm * 3.50141e10 / 1e4, true, 1},
      {"Stokes radius, amplitude and s by annealing, seed 2", false, 3.0f, 5.0 * kD5nm * 3.50141e10 / 1e4, true, 2},
      {"Stokes radius, amplitude and s by annealing, seed 3", false, 3.0f, 5.0 * kD5nm * 3.50141e10 / 1e4, true, 3},
      // The cumulants likewise, their mean D 1e4 / (1e-4 q^2): s walked to
      // some 9 700 S, and the steps that stalled on it named the baseline
      // too, moved by a tenth of its small value for no fall.
      {"cumulant mean D, amplitude and s by annealing, seed 1", true, 3.0f, 1e4 / 3.50141e10 * 1e7, true, 1},
      {"cumulant mean D, amplitude and s by annealing, seed 2", true, 3.0f, 1e4 / 3.50141e10 * 1e7, true, 2},
      {"cumulant mean D, amplitude and s by annealing, seed 3", true, 3.0f, 1e4 / 3.50141e10 * 1e7, true, 3},
      {"cumulant mean D, amplitude and s by annealing, seed 4", true, 3.0f, 1e4 / 3.50141e10 * 1e7, true, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.seed) {
      std::mt19937 gen(c.seed);
      std::normal_distribution<double> noise(0.0, 1e-3);
      const std::string path = (dir_ / ("drawn" + std::to_string(c.seed) + ".dlsdat")).string();
      std::ofstream(path) << apptest::DlsSetText(1, 200, [&] { return noise(gen); });
      Load({path});
      ASSERT_EQ(CurrentScanSet().count, 1);
    } else {
      // The saved sets take the first letter of the chosen name.
      Load({(dir_ / "ftart1.dlsdat").string(), (dir_ / "ftart2.dlsdat").string()});
      ASSERT_EQ(CurrentScanSet().count, 2);
    }
    if (c.cumulants) {
      Window().Dispatch(890);
    } else {
      StokesRadiiModel();
    }
    OneSlot(c.start, true);
    FitEngineState& fs = gFitEngineState;
    const FitEngineState kept = fs;
    if (c.annealingWithS) {
      ModelParams& mp = gModelParams;
      mp.concentrationsLinear = 0;
      mp.concentrationFit[1] = mp.sFit[1] = 1;
      mp.s[1] = 4.0f;
      PackModelParameters();
      fs.useSimplex = fs.useMarquardt = 0;
      fs.useAnnealing = 1;
    }
    DispatchLenient(215);  // Fit, its report and advice taken
    EXPECT_NEAR(gModelParameterVector.P[1], c.expected, 0.005 * c.expected);
    for (int k = 1; k <= kParameterSlots; ++k) EXPECT_TRUE(std::isfinite(gModelParameterVector.P[k])) << "P" << k;
    if (c.annealingWithS) {
      EXPECT_EQ(LastFitEnd().kind, FitEndKind::Undetermined) << LastFitEnd().text;
      const std::string named = LastFitEnd().text.substr(0, LastFitEnd().text.find(':'));
      EXPECT_EQ(named, "the data do not determine s1") << LastFitEnd().text;
      fs = kept;
    }
  }
}

// The cumulants keep their second and third moments in the slots of
// species 2 and 3, which the evaluation reads whether or not the species are
// included: a moment floated with its species off keeps its fit box.
TEST_F(DlsModels, ACumulantMomentFloatedWithItsSpeciesOffKeepsItsFitBox) {
  Window();
  Options().AlwaysLoadG2m1 = false;
  Load(WriteSets("start"));
  Window().Dispatch(890);
  ASSERT_EQ(gModelSelectorFlags.DlsCumulantModel, 1);
  // mu2 is species 2's first entry (413) with its fit box (410); 408 includes species 2.
  forms_.Expect({"Cumulant Analysis", {{413, "0.3"}}, {{408, 0}, {410, 1}}});
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_EQ(gModelParams.included[2], 0);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[2], 0.3f);
  EXPECT_EQ(gModelParameterVector.F[2], 1);
  // Shown again as the user left it.
  forms_.Expect({"Cumulant Analysis", {}, {}});
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const FormControl* box = forms_.seen.back().Find(410);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->state, 1);
  EXPECT_EQ(gModelParameterVector.F[2], 1);
}

// The Stokes radii read the species' D as a radius (nm). Light-scattering
// data loaded while the species are in the M-and-s form turn them into D:
// the first start is then a species of a few nm, whose model decays within
// the lag times (a mass read as D is a radius of 1e-4 nm, a flat model).
TEST_F(DlsModels, TheStokesRadiiStartFromASpeciesOfAFewNanometres) {
  Window();
  Options().AlwaysLoadG2m1 = false;
  gFitEngineState.molarMassParameters = 1;
  gModelParameterVector.P[1] = 50000;  // M (Da), s 4 S
  gModelParameterVector.P[5] = 4;
  UnpackModelParameters();
  Load(WriteSets("start"));
  EXPECT_EQ(gFitEngineState.molarMassParameters, 0);
  EXPECT_FALSE(Window().Frame().Menu().IsChecked(217));
  StokesRadiiModel();
  ASSERT_EQ(gModelSelectorFlags.DlsStokesRadiiModel, 1);
  // D = s R T / (M (1 - vbar rho)), R = k T / (6 pi eta D) at 20 C in water.
  const double T = 293.15, buoyancy = 1.0 - gSolutionConditions.vbarRho;
  const double D = 4e-13 * 8.31451e7 * T / (50000 * buoyancy);
  const double R = 1.380649e-16 * T / (6 * M_PI * 0.01002 * D) * 1e7;
  ASSERT_GT(R, 1.0);
  ASSERT_LT(R, 10.0);
  EXPECT_NEAR(gModelParameterVector.P[1], R, 0.01 * R);
  EXPECT_EQ(gModelParams.included[1], 1);
  Window().Dispatch(213);  // Run
  const ScanSet& s = CurrentScanSet();
  EXPECT_GT(s.model[1][1] - s.model[1][s.points[1]], 0.1);
}

TEST_F(DlsModels, TheStokesRadiiAfterDiscreteSpeciesTakeTheRadiusOfTheirD) {
  Window();
  Options().AlwaysLoadG2m1 = false;
  Load(WriteSets("start"));
  Window().Dispatch(198);
  OneSlot(static_cast<float>(kD5nm * 1e7), false);
  StokesRadiiModel();
  EXPECT_NEAR(gModelParameterVector.P[1], 5.0, 0.005);
}

TEST_F(DlsModels, TheDistributionsRunAndFitFromTheMenu) {
  Window();
  Options().AlwaysLoadG2m1 = false;
  Load(WriteSets("start"));
  // g(1) = sqrt(0.5) exp(-1e4 tau): D = 1e4 / (1e-4 q^2) cm^2/s.
  const double D = 1e4 / (1e-4 * 3.50141e14);
  struct Case {
    int command;
    bool fit;
  };
  for (const Case c : {Case{503, false}, Case{503, true}, Case{502, false}, Case{522, false}}) {
    SCOPED_TRACE(c.command);
    Window().Dispatch(c.command);
    ui_->lenient = c.fit;
    Window().Dispatch(c.fit ? 215 : 213);
    ui_->lenient = false;
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    const ContiSettings& cs = Conti();
    ASSERT_GT(cs.gridSize, 0);
    const int peak = PeakIndex(cs);
    // log10 D of the peak within two grid steps of the data's.
    const double step = std::fabs(cs.molarMasses[2] - cs.molarMasses[1]);
    EXPECT_NEAR(cs.molarMasses[peak], std::log10(D), 2.5 * step);
  }
  // The time course wrote its files beside the data: two sets, one window.
  EXPECT_EQ(ReadFile((dir_ / "times.dat").string()), "45.000000\n");
}

}  // namespace
