// One analysis must not leave anything behind that changes the next: the
// same c(s) of the bundled example, from a fresh program and after each of
// the other analyses a session may have run first, gives the same
// distribution and rmsd.
#include <cmath>
#include <string>
#include <vector>

#include "app/dialogs/form_dialog.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "fit/rmsd.h"
#include "numerics/ccurve.h"
#include "fit/model_table.h"
#include "numerics/cvector.h"
#include "plot/cwinplot.h"
#include "road_support.h"

namespace {

struct CsResult {
  double rmsd = 0;
  std::vector<float> s, c;
  std::vector<std::string> errors;  // error boxes of the Run
};

class AnalysisSequence : public RoadTest {
 protected:
  // A fresh copy of the example's scans in a folder of its own.
  std::vector<std::string> CopyExample(const std::string& name) { return CopyExampleScans(dir_ / name, 3); }
  FormDialog shown_;  // the c(s) dialog as it opened the last time
  // Meniscus and noise choices as the last load left them.
  float loadedMeniscus_ = 0;
  int loadedTINoise_ = 0, loadedRINoise_ = 0;
  // Load, "Continuous c(s) Distribution", the entries a user types, Run.
  CsResult RunCs(const std::string& name) {
    LoadChosen(CopyExample(name));
    loadedMeniscus_ = gModelParams.meniscus;
    loadedTINoise_ = gFitEngineState.fitTINoise;
    loadedRINoise_ = gModelParams.riNoiseFit;
    const bool lenient = ui_->lenient;
    ui_->lenient = true;
    Window().Dispatch(275);
    forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)",
                   {{405, "100"}, {406, "0.5"}, {407, "12"}, {413, "0.68"}, {419, "1.3"}, {420, "0.73"},
                    {421, "1.0"}, {426, "0.01002"}, {435, "6.0100"}, {437, "7.2000"}},
                   {{431, 1}, {455, 1}, {434, 0}, {436, 0}, {432, 0}, {416, 0}, {417, 0}, {424, 0}}});
    const size_t seenBefore = forms_.seen.size();
    Window().Dispatch(212);
    if (forms_.seen.size() > seenBefore) shown_ = forms_.seen.back();
    const size_t told = ui_->transcript.size();
    Window().Dispatch(213);
    ui_->lenient = lenient;
    CsResult r;
    for (size_t k = told; k < ui_->transcript.size(); ++k)
      if (ui_->transcript[k].icon == platform::BoxIcon::Error) r.errors.push_back(ui_->transcript[k].text);
    r.rmsd = CalcRmsd();
    const ContiSettings& cs = Conti();
    for (int i = 1; i <= cs.gridSize; ++i) {
      r.s.push_back(cs.sValues[i]);
      r.c.push_back(cs.distribution[i]);
    }
    return r;
  }
};

std::vector<std::string> WriteDls(const std::filesystem::path& dir) {
  std::vector<std::string> paths;
  for (int k = 1; k <= 2; ++k) {
    std::string text = "start set\n";
    char line[160];
    std::snprintf(line, sizeof line, "A %f %d %.2f %f %f %f %e\n", 20.0, 30 * k, 1000.0, 1.333, 0.01002, 90.0, 6.33e-7);
    text += line;
    for (int p = 0; p < 80; ++p) {
      const double tau = std::pow(10.0, -7.0 + 6.0 * p / 79);
      std::snprintf(line, sizeof line, "   %1.5e  %1.5e \n", tau, 0.5 * std::exp(-2e4 * tau) + 1e-4 * std::sin(7.0 * p));
      text += line;
    }
    const std::string path = (dir / ("dls" + std::to_string(k) + ".dlsdat")).string();
    std::ofstream(path) << text;
    paths.push_back(path);
  }
  return paths;
}

// The analyses a session may run between two c(s) of the same data.
enum class Earlier { LsgStar, VanHoldeWeischet, Equilibrium, Generate, DlsIRh, DlsStokesRadii, ExcludeRegion };

class EarlierAnalyses : public AnalysisSequence {
 protected:
  void Run(Earlier e) {
    ui_->lenient = true;  // their own notes and questions are not the subject here
    switch (e) {
      case Earlier::LsgStar:
        Window().Dispatch(288);
        Window().Dispatch(213);
        EXPECT_EQ(gModelSelectorFlags.LsgStarModel, 1);
        EXPECT_EQ(LammSettings().timesFromW2t, 1);
        break;
      case Earlier::VanHoldeWeischet:
        ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", std::string("50"));
        Window().Dispatch(292);
        Window().Dispatch(213);
        EXPECT_EQ(gModelSelectorFlags.SedTransformModel, 1);
        EXPECT_TRUE(ExtrapolationPlot().shown);
        break;
      case Earlier::Equilibrium:
        ui_->ExpectFiles("select files in set 1 to fit", Chosen(CopyExample("eq")));
        Window().Dispatch(515);
        EXPECT_EQ(CurrentScanSet().equilibriumMode, 1);
        // The c(s) or the boundary transform of the earlier data left with them.
        EXPECT_FALSE(DistArrays().plotExists);
        EXPECT_FALSE(ExtrapolationPlot().shown);
        // The model stays only where it computes equilibrium data.
        if (const ModelRow* kept = FindModelRow(SelectedModelKey())) {
          EXPECT_NE(kept->accepts & kEquilibriumData, 0u) << kept->id;
        }
        Window().Dispatch(198);
        Window().Dispatch(213);
        Window().Dispatch(215);
        break;
      case Earlier::Generate: {
        gFitEngineState.molarMassParameters = 0;
        Window().Dispatch(198);
        ui_->ExpectBox("GENERATE DATA", "Fit with M and s instead D and s?", platform::IDNO)
            .ExpectPrompt("GENERATE DATA", "density of points dr (cm)", std::string("0.01"))
            .ExpectPrompt("GENERATE DATA", "rotor speed (rpm)", std::string("50000"))
            .ExpectBox("GENERATE DATA", "simulate with rotor acceleration phase?", platform::IDNO)
            .ExpectPrompt("GENERATE DATA", "time interval of scans (sec)", std::string("300"))
            .ExpectPrompt("GENERATE DATA", "number of simulated scans", std::string("5"))
            .ExpectPrompt("GENERATE DATA", "std of noise (OD)", std::string("0.01"));
        forms_.Expect({"noninteracting species model",
                       {{405, "1.0"}, {406, "6.0"}, {407, "4.0"}, {435, "6.2000"}, {437, "7.2000"}, {433, "0"}},
                       {{401, 1}, {408, 0}, {415, 0}, {422, 0}, {431, 0}, {455, 0}}});
        std::filesystem::create_directories(dir_ / "gen");
        ui_->ExpectFiles("save generated data as", Chosen({(dir_ / "gen" / "0000x.RA0").string()}));
        Window().Dispatch(214);
        EXPECT_EQ(CurrentScanSet().count, 5);
        break;
      }
      case Earlier::DlsIRh:
        ui_->ExpectFiles("select files in set 1 to fit", Chosen(WriteDls(dir_)));
        Window().Dispatch(298);
        EXPECT_FALSE(DistArrays().plotExists);
        Window().Dispatch(503);
        Window().Dispatch(213);
        EXPECT_EQ(gModelSelectorFlags.DlsIRhModel, 1);
        EXPECT_GT(Conti().gridSize, 0);
        break;
      case Earlier::DlsStokesRadii:
        // Discrete Stokes radii tick the baseline fit of light scattering.
        ui_->ExpectFiles("select files in set 1 to fit", Chosen(WriteDls(dir_)));
        Window().Dispatch(298);
        ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", std::string("0.01002"));
        Window().Dispatch(536);
        Window().Dispatch(213);
        EXPECT_EQ(gModelSelectorFlags.DlsStokesRadiiModel, 1);
        EXPECT_EQ(gModelParams.baselineFit, 1);
        break;
      case Earlier::ExcludeRegion:
        // The displayed radial range is what the command takes out.
        CurrentPlotWindows().dataPlot->SetRanges(6.5f, 6.6f, 0.0f, 1.0f);
        Window().Dispatch(581);
        break;
    }
    EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    ui_->lenient = false;
    ui_->transcript.clear();
  }

  // c(s), the earlier analyses, c(s) again of a fresh copy of the same scans:
  // the same dialog entries, the same distribution and rmsd.
  void ExpectTheSameCsAfter(const std::vector<Earlier>& earlier) {
    const CsResult first = RunCs("first");
    ASSERT_EQ(first.c.size(), 100u);
    ASSERT_TRUE(first.errors.empty()) << first.errors.front();
    for (Earlier e : earlier) Run(e);
    const CsResult again = RunCs("again");
    EXPECT_TRUE(again.errors.empty()) << again.errors.front();
    // The dialog opens with what was typed for the first c(s).
    const std::pair<int, const char*> typed[] = {
        {405, "100"}, {406, "0.50000"}, {407, "12.0"}, {413, "0.68000"}, {433, "0.00000"}};
    for (const auto& [id, text] : typed) {
      ASSERT_NE(shown_.Find(id), nullptr) << id;
      EXPECT_EQ(shown_.Find(id)->text, text) << id;
    }
    EXPECT_EQ(shown_.Find(432)->state, 0) << "baseline fit";
    // Meniscus and noise choices are those of the scans loaded last.
    EXPECT_NEAR(std::stof(shown_.Find(435)->text), loadedMeniscus_, 5e-5);
    EXPECT_EQ(shown_.Find(431)->state, loadedTINoise_) << "TI noise";
    EXPECT_EQ(shown_.Find(455)->state, loadedRINoise_) << "RI noise";
    EXPECT_NEAR(again.rmsd, first.rmsd, 1e-6);
    ASSERT_EQ(again.c.size(), first.c.size());
    for (size_t i = 0; i < first.c.size(); ++i) {
      EXPECT_EQ(again.s[i], first.s[i]) << i;
      EXPECT_NEAR(again.c[i], first.c[i], 1e-6) << "s = " << first.s[i];
    }
    for (const auto& f : ui_->failures) ADD_FAILURE() << f;
  }
};

TEST_F(EarlierAnalyses, CsAfterLsgStar) { ExpectTheSameCsAfter({Earlier::LsgStar}); }
TEST_F(EarlierAnalyses, CsAfterVanHoldeWeischet) { ExpectTheSameCsAfter({Earlier::VanHoldeWeischet}); }
TEST_F(EarlierAnalyses, CsAfterEquilibriumData) { ExpectTheSameCsAfter({Earlier::Equilibrium}); }
TEST_F(EarlierAnalyses, CsAfterGenerate) { ExpectTheSameCsAfter({Earlier::Generate}); }
TEST_F(EarlierAnalyses, CsAfterDlsIRh) { ExpectTheSameCsAfter({Earlier::DlsIRh}); }
TEST_F(EarlierAnalyses, CsAfterDlsStokesRadii) { ExpectTheSameCsAfter({Earlier::DlsStokesRadii}); }
TEST_F(EarlierAnalyses, CsAfterExcludeRegion) { ExpectTheSameCsAfter({Earlier::ExcludeRegion}); }
TEST_F(EarlierAnalyses, CsAfterAWholeSession) {
  ExpectTheSameCsAfter({Earlier::LsgStar, Earlier::VanHoldeWeischet, Earlier::Equilibrium, Earlier::Generate,
                        Earlier::DlsIRh, Earlier::ExcludeRegion});
}

// Another model takes the boundary transform's extrapolation plot away.
TEST_F(EarlierAnalyses, AnotherModelTakesTheVanHoldeWeischetPlotAway) {
  for (int model : {275, 198}) {
    LoadChosen(CopyExample("scans" + std::to_string(model)));
    Run(Earlier::VanHoldeWeischet);
    DispatchLenient(model);
    EXPECT_FALSE(ExtrapolationPlot().shown) << model;
  }
}

// Times from w^2t, switched on for ls-g*(s) and off again by the next
// model, gives the scans their ramped run-up back.
TEST_F(EarlierAnalyses, LeavingLsgStarRampsTheRotorAgain) {
  LoadChosen(CopyExample("scans"));
  ui_->lenient = true;
  Window().Dispatch(288);
  EXPECT_EQ(LammSettings().rampRotorSpeed, 0);
  Window().Dispatch(275);
  ui_->lenient = false;
  EXPECT_EQ(LammSettings().timesFromW2t, 0);
  EXPECT_EQ(LammSettings().rampRotorSpeed, 1);
}
// Grid point 1 of "Continuous c(s) With 1 Discrete Component" holds the
// discrete species (its s and amplitude); the graph draws the grid from
// point 2, so no line runs from the species across the distribution.
TEST_F(AnalysisSequence, TheDiscreteComponentIsNotJoinedToTheDistributionCurve) {
  LoadChosen(CopyExample("scans"));
  ui_->lenient = true;
  gFitEngineState.molarMassParameters = 0;
  Window().Dispatch(531);
  forms_.Expect({"Sedimentation Coefficient Distribution c(s) with 1 discrete component",
                 {{405, "100"}, {406, "0.05"}, {407, "8"}, {412, "3.0"}, {414, "8.0"}, {435, "6.0100"},
                  {437, "7.2000"}},
                 {{431, 1}, {455, 1}}});
  Window().Dispatch(212);
  Window().Dispatch(213);
  ui_->lenient = false;
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const ContiSettings& cs = Conti();
  ASSERT_EQ(cs.gridSize, 100);
  EXPECT_EQ(cs.sValues[1], 8.0f);  // the species, after the grid's last point
  const DistributionArrays& a = DistArrays();
  ASSERT_TRUE(a.plotExists);
  const CCurve* drawn = a.lastSpec.curves[0];
  ASSERT_NE(drawn, nullptr);
  ASSERT_EQ(drawn->Count(), 99);
  EXPECT_EQ(drawn->x->data[0], cs.sValues[2]);
  EXPECT_EQ(drawn->y->data[0], cs.distribution[2]);
  for (int k = 1; k < drawn->Count(); ++k) EXPECT_GT(drawn->x->data[k], drawn->x->data[k - 1]) << k;
  // The curve the peak walks use still counts the grid from point 1.
  EXPECT_EQ(a.distCurve->Count(), 100);
}

// The species slots carry the grid while a c(s) is chosen (s min as M,
// s max as s); the discrete species model gets its own species back, or the
// start-up species when the session began with the distribution.
TEST_F(AnalysisSequence, DiscreteSpeciesAfterCsStartFromTheirOwnEntries) {
  LoadChosen(CopyExample("scans"));
  gFitEngineState.molarMassParameters = 0;
  ui_->lenient = true;
  auto speciesShown = [&] {
    forms_.Expect({"", {}, {}, false});
    Window().Dispatch(212);
    const FormDialog& f = forms_.seen.back();
    return std::make_pair(f.Find(406)->text, f.Find(407)->text);
  };
  Window().Dispatch(275);
  forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)", {{406, "0"}, {407, "12"}}, {}});
  Window().Dispatch(212);
  Window().Dispatch(198);
  // The start-up species (s 4 S), not s min 0 and s max 12 of the grid.
  const auto startUp = speciesShown();
  EXPECT_NE(startUp.first, "0.00000");
  EXPECT_EQ(startUp.second, "4.00000");
  forms_.Expect({"noninteracting species model", {{406, "6.1"}, {407, "4.5"}}, {{401, 1}}});
  Window().Dispatch(212);
  Window().Dispatch(275);
  forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)", {{406, "0.5"}, {407, "12"}}, {}});
  Window().Dispatch(212);
  Window().Dispatch(198);
  EXPECT_EQ(speciesShown(), std::make_pair(std::string("6.10000"), std::string("4.50000")));
  ui_->lenient = false;
  EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
}

// log10 k = 0 means k = 1 ml/mg: "Nonideal c(s)" chosen the first time
// starts from the ideal limit instead, and its buffer-like discrete species
// does not become the start of "Continuous c(s) With 1 Discrete Component".
TEST_F(AnalysisSequence, NonidealCsStartsIdealAndLeavesTheOtherModelsDiscreteSpecies) {
  gAssociationModelParams = AssociationModelParams{};
  LoadChosen(CopyExample("scans"));
  ContiStore().discreteM = 20000.0f;
  ContiStore().discreteSecond = 2.0f;
  DispatchLenient(585);
  EXPECT_EQ(gModelSelectorFlags.NonidealCSModel, 1);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[20], -6.0f);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[21], -6.0f);
  EXPECT_FLOAT_EQ(gAssociationModelParams.logKs, -6.0f);
  EXPECT_FLOAT_EQ(ContiStore().discreteM, 20000.0f);
  EXPECT_FLOAT_EQ(ContiStore().discreteSecond, 2.0f);
  // An entered constant stays when the model is chosen again.
  gModelParameterVector.P[20] = gModelParameterVector.P[21] = 0.0f;
  UnpackModelParameters();
  ui_->lenient = true;
  Window().Dispatch(275);
  Window().Dispatch(585);
  ui_->lenient = false;
  EXPECT_FLOAT_EQ(gModelParameterVector.P[20], 0.0f);
}

}  // namespace
