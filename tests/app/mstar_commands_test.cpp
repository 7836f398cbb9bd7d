// The M* analysis from the window: closed-form equilibrium scans written as
// files and loaded as equilibrium data, the screen taking and giving back
// the data plot, the loaders waiting, and the clipboard copies.
#include <memory>
#include <string>
#include <vector>

#include "app/commands/equilibrium/mstar_commands.h"
#include "app/screens/mstar_screen.h"
#include "distributions/model_entries.h"
#include "equilibrium/mstar/mstar_hinge.h"
#include "equilibrium/mstar/mstar_state.h"
#include "fit/clear_model_selection.h"
#include "numerics/arrays.h"
#include "platform/clipboard.h"
#include "plot/cwinplot.h"
#include "plot/mstar_plots.h"
#include "mstar_window_support.h"

using namespace mstar_test;

namespace {

// Rows of a clipboard table as (x, y) pairs.
std::vector<std::pair<double, double>> Rows(const std::string& text) {
  std::vector<std::pair<double, double>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    double x = 0, y = 0;
    if (std::sscanf(line.c_str(), "%lf\t%lf", &x, &y) == 2) rows.emplace_back(x, y);
  }
  return rows;
}

// c(M) smoothing needs data from the meniscus to the bottom: points beyond
// both, as a user appends them.
Profile CoveringSingleSpecies() {
  Profile p = SingleSpecies();
  p.first = 6.895;
  p.last = 7.205;
  return p;
}

}  // namespace

TEST_F(MStarWindowTest, TransformationTakesTheDataPlotPlaceAndResetGivesItBack) {
  LoadEquilibrium({SingleSpecies()});
  TXLAWindow& w = Window();
  PlotWindowSet& plots = CurrentPlotWindows();
  CWINPlot* const dataPlot = plots.dataPlot;
  const int top = plots.dataTop, bottom = plots.dataBottom;
  ASSERT_NE(dataPlot, nullptr);

  w.OnCommand(896);
  ExpectNoFailures();
  const MStarState& st = CurrentMStarState();
  ASSERT_TRUE(MStarScreenShown());
  EXPECT_NEAR(st.mwLin[1], 50.0, 0.05);
  EXPECT_NEAR(st.mwavg[1], 50.0, 0.25);
  const MStarPlotSet& p = CurrentMStarPlots();
  ASSERT_TRUE(p.signal && p.mstar && p.lnc && p.mwapp);
  EXPECT_EQ(plots.dataPlot, p.signal.get());
  EXPECT_EQ(plots.dataTop, 50);
  EXPECT_EQ(plots.dataBottom, 450);
  // Groups of one: profile, baseline, meniscus extrapolation, marker.
  EXPECT_EQ(p.signal->curveCount, 4);
  EXPECT_EQ(p.mstar->curveCount, 3);
  EXPECT_EQ(p.lnc->curveCount, 3);
  EXPECT_EQ(p.mwapp->curveCount, 1);
  EXPECT_EQ(p.mstar->yLabel, "M* (kDa)");
  EXPECT_EQ(p.mwapp->yLabel, "Mwapp(c) [=(1/k)*{(1/2)(1/(c*r))*(dc/dr)}] (kDa)");
  EXPECT_LE(p.mstar->yMax, 1.5f * st.mwavg[1] * 1.06f);
  EXPECT_NE(p.signal->lastMetafile, 0u);
  w.Paint(true);

  // A second transformation replaces the first.
  w.OnCommand(896);
  EXPECT_EQ(plots.dataPlot, CurrentMStarPlots().signal.get());
  ResetMStarAnalysis(w);
  EXPECT_FALSE(MStarScreenShown());
  EXPECT_EQ(plots.dataPlot, dataPlot);
  EXPECT_EQ(plots.dataTop, top);
  EXPECT_EQ(plots.dataBottom, bottom);
  EXPECT_FALSE(CurrentMStarPlots().Built());
  w.Paint(true);
  ExpectNoFailures();
}

TEST_F(MStarWindowTest, LoadersWaitWhileShownAndLoadAfterAModelCommandClosedTheScreen) {
  LoadEquilibrium({SingleSpecies()});
  TXLAWindow& w = Window();
  CWINPlot* const dataPlot = CurrentPlotWindows().dataPlot;
  w.OnCommand(896);
  // No file dialog opens while the screen is shown (an unexpected one
  // fails); a box says what to do first.
  for (int i = 0; i < 3; ++i)
    ui_->ExpectBox("M* transformation",
                   "the M* screen shows the loaded data:\npress Esc to end the M* analysis, then load");
  w.CmLoadNewFiles();
  w.CmAddMoreFiles();
  w.CmLoadEquilibriumData();
  EXPECT_TRUE(ui_->AllConsumed());
  ui_->transcript.clear();
  EXPECT_EQ(CurrentScanSet().count, 1);
  // A model command takes the screen away and leaves the results to copy.
  ClearModelSelection();
  EXPECT_FALSE(MStarScreenShown());
  EXPECT_TRUE(CurrentMStarState().analysisActive);
  EXPECT_EQ(CurrentPlotWindows().dataPlot, dataPlot);
  EXPECT_TRUE(MStarButtons().empty());
  ui_->ExpectBox("COPY M* DATA", "r vs M*(r) is in clipboard - paste before continuing");
  ui_->ExpectBox("COPY M* DATA", "extrapolation of r vs M*(r) is in clipboard - paste before continuing");
  w.OnCommand(919);
  EXPECT_EQ(clipboard_->tables.size(), 2u);
  EXPECT_TRUE(ui_->AllConsumed());
  // The next load ends what is left of the analysis and loads.
  LoadEquilibrium({SingleSpecies(15000), SingleSpecies(10000)});
  EXPECT_FALSE(CurrentMStarState().analysisActive);
  EXPECT_FALSE(CurrentMStarState().HasData());
  ExpectNoFailures();
}

TEST_F(MStarWindowTest, NewDataPlotsEndTheScreenFirst) {
  LoadEquilibrium({SingleSpecies()});
  TXLAWindow& w = Window();
  w.OnCommand(896);
  // Anything that lays out new data plots takes the place back first.
  SetPlotAxisTitles();
  EXPECT_FALSE(MStarScreenShown());
  EXPECT_NE(CurrentPlotWindows().dataPlot, nullptr);
  EXPECT_EQ(CurrentPlotWindows().dataTop, 50);
  w.Paint(true);
  DeletePlotWindows();
  ExpectNoFailures();
}

TEST_F(MStarWindowTest, RefusedWithoutEquilibriumDataOrWithUnusableGeometry) {
  TXLAWindow& w = Window();
  ui_->ExpectBox("ERROR", "equilibrium data set must be loaded for MSTAR");
  w.OnCommand(896);
  LoadEquilibrium({SingleSpecies()});
  gModelParams.meniscus = 7.3f;
  ui_->ExpectBox("M* transformation", "meniscus (7.300 cm) must lie below the bottom (7.200 cm)");
  w.OnCommand(896);
  EXPECT_FALSE(MStarScreenShown());
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
}

TEST_F(MStarWindowTest, CopiesWithoutSmoothingComeOneTableAfterAnother) {
  LoadEquilibrium({SingleSpecies()});
  TXLAWindow& w = Window();
  // Nothing to copy before an analysis.
  w.OnCommand(918);
  EXPECT_TRUE(clipboard_->tables.empty());
  w.OnCommand(896);
  const MStarDataSet& s = CurrentMStarState().sets[1];
  ui_->ExpectBox("COPY LNC DATA", "r^2 vs ln(c) is in clipboard - paste before continuing");
  ui_->ExpectBox("COPY LNC DATA", "r^2 vs smoothed ln(c) is in clipboard - paste before continuing");
  ui_->ExpectBox("COPY LNC DATA", "r^2 vs linear fit of ln(c) is in clipboard - paste before continuing");
  w.OnCommand(918);
  ASSERT_EQ(clipboard_->tables.size(), 3u);
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(clipboard_->tables[k].boxesBefore, k);
  const auto raw = Rows(clipboard_->tables[0].text);
  ASSERT_EQ(static_cast<int>(raw.size()), s.iLast - s.iFirst);
  EXPECT_NEAR(raw.front().first, s.r2[static_cast<size_t>(s.iFirst)], 1e-3);
  EXPECT_NEAR(raw.front().second, std::log(0.17 * std::exp(Sigma(50000, 15000) * (6.91 * 6.91 - 6.9 * 6.9))),
              1e-3);
  EXPECT_EQ(Rows(clipboard_->tables[1].text).size(), static_cast<size_t>(s.iLast - 21 - (s.iFirst + 20) + 1));
  // "%g" cells, tab-separated, one LF per row.
  char first[64];
  std::snprintf(first, sizeof first, "%g\t%g\n", s.r2[static_cast<size_t>(s.iFirst)],
                s.lncLine[static_cast<size_t>(s.iFirst)]);
  EXPECT_EQ(clipboard_->tables[2].text.rfind(first, 0), 0u);

  clipboard_->tables.clear();
  ui_->transcript.clear();
  ui_->ExpectBox("COPY M* DATA", "r vs M*(r) is in clipboard - paste before continuing");
  ui_->ExpectBox("COPY M* DATA", "extrapolation of r vs M*(r) is in clipboard - paste before continuing");
  w.OnCommand(919);
  ASSERT_EQ(clipboard_->tables.size(), 2u);
  EXPECT_EQ(clipboard_->tables[1].boxesBefore, 1u);
  const auto extrapolated = Rows(clipboard_->tables[1].text);
  ASSERT_EQ(extrapolated.size(), 100u);
  EXPECT_NEAR(extrapolated.back().first, 7.2, 1e-5);
  EXPECT_NEAR(extrapolated.back().second, CurrentMStarState().mwavg[1], 1e-3);
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
}

TEST_F(MStarWindowTest, CopiesAskForTheDataSetAndRefuseOnesThatDoNotExist) {
  LoadEquilibrium({SingleSpecies(15000), SingleSpecies(10000)});
  TXLAWindow& w = Window();
  w.OnCommand(896);
  ui_->ExpectPrompt("COPY MW DATA", "which data set?", "3");
  ui_->ExpectBox("COPY MW DATA", "there is no data set 3: data sets are numbered 1 to 2");
  w.OnCommand(920);
  EXPECT_TRUE(clipboard_->tables.empty());

  ui_->ExpectPrompt("COPY MW DATA", "which data set?", "2.7");
  ui_->ExpectBox("COPY MW DATA", "for c vs Mapp(c), subtract baseline?", platform::IDYES);
  ui_->ExpectBox("COPY MW DATA", "c vs Mapp(c) is in clipboard - paste before continuing");
  w.OnCommand(920);
  ASSERT_EQ(clipboard_->tables.size(), 1u);
  const MStarDataSet& s = CurrentMStarState().sets[2];
  const auto rows = Rows(clipboard_->tables[0].text);
  ASSERT_EQ(static_cast<int>(rows.size()), s.iLast - 31 - (s.iFirst + 30) + 1);
  // The signal less the baseline, against the apparent molar mass of 50 kDa.
  EXPECT_NEAR(rows.front().first, s.y[static_cast<size_t>(s.iFirst + 30)] - cell_.baseline, 1e-5);
  for (const auto& row : rows) EXPECT_NEAR(row.second, 50.0, 0.5);
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
}

TEST_F(MStarWindowTest, CofMSmoothingComputesTheCofMOfTheDataAndSwitchesOn) {
  LoadEquilibrium({CoveringSingleSpecies()});
  TXLAWindow& w = Window();
  w.OnCommand(896);
  ResetMStarAnalysis(w);
  w.OnCommand(kCmContinuousCMModel);
  ui_->transcript.clear();
  // No c(M) of these data yet: Yes goes through the set-up, which computes it.
  ui_->ExpectBox("M* transformation", "use c(M) smoothing?", platform::IDYES);
  ui_->ExpectPrompt("M* transformation", "min Mw (kDa)", "20");
  ui_->ExpectPrompt("M* transformation", "max Mw (kDa)", "100");
  ui_->ExpectBox("M* transformation", "determine Baseline from c(M)?", platform::IDYES);
  w.OnCommand(896);
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
  const MStarState& st = CurrentMStarState();
  ASSERT_TRUE(MStarScreenShown());
  ASSERT_TRUE(st.settings.cmSmoothing);
  // The fitted signal is the profile's, inside the fit limits.
  const MStarDataSet& set = st.sets[1];
  ASSERT_EQ(set.f.size(), static_cast<size_t>(set.n) + 1);
  int compared = 0;
  for (int i = 1; i <= set.n; ++i) {
    const double r = set.r[static_cast<size_t>(i)];
    if (r < cell_.left || r > cell_.right) continue;
    EXPECT_NEAR(set.f[static_cast<size_t>(i)], Concentration(SingleSpecies(), cell_, r) + cell_.baseline, 2e-3) << r;
    ++compared;
  }
  EXPECT_GT(compared, 200);
  const std::vector<std::string> lines = CofMSummaryLines(st);
  ASSERT_EQ(lines.size(), 5u);
  double mw = 0;
  ASSERT_EQ(std::sscanf(lines[2].c_str(), "signal average Mw = %lf kDa", &mw), 1) << lines[2];
  EXPECT_NEAR(mw, 50.0, 1.0);
  // Mwavg from the smoothed signal, within the c(M)'s resolution.
  EXPECT_NEAR(st.mwavg[1], 50.0, 0.5);
  // The c(M) over the M range answered, its peak at the data's 50 kDa, and
  // the baseline it was asked to determine.
  const ContiSettings& cs = Conti();
  ASSERT_GT(cs.gridSize, 2);
  EXPECT_FLOAT_EQ(cs.molarMasses[1], 20000.0f);
  EXPECT_FLOAT_EQ(cs.molarMasses[cs.gridSize], 100000.0f);
  const int peak = PeakIndex(cs);
  EXPECT_NEAR(cs.molarMasses[peak], 50000.0, cs.molarMasses[peak + 1] - cs.molarMasses[peak]);
  EXPECT_NEAR(gModelParams.baseline, cell_.baseline, 1e-3);
}

TEST_F(MStarWindowTest, CofMOfSeveralDataSetsIsFittedWithTheBottomAndSmoothingSwitchesOn) {
  // One loading at two speeds: one c(M) serves both.
  auto loaded = [](double rpm) {
    Profile p = CoveringSingleSpecies();
    p.rpm = rpm;
    p.meniscusSignal = -1;
    p.species = {{50000, 0.4}};
    return p;
  };
  LoadEquilibrium({loaded(15000), loaded(20000)});
  TXLAWindow& w = Window();
  w.OnCommand(896);
  ui_->transcript.clear();
  // The bottom may move between the right fit limit and 7.21 cm.
  gFitEngineState.bottomMin = 7.195f;
  gFitEngineState.bottomMax = 7.21f;
  ui_->ExpectPrompt("M* transformation", "min Mw (kDa)", "20");
  ui_->ExpectPrompt("M* transformation", "max Mw (kDa)", "100");
  ui_->ExpectBox("M* transformation", "determine Baseline from c(M)?", platform::IDYES);
  MStarTransformationSetup(w);
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
  EXPECT_EQ(gModelParameterVector.F[14], 1);
  ASSERT_TRUE(MStarScreenShown());
  EXPECT_TRUE(CurrentMStarState().settings.cmSmoothing);
  EXPECT_NEAR(gModelParams.bottom, cell_.bottom, 0.01);
  const ContiSettings& cs = Conti();
  ASSERT_GT(cs.gridSize, 2);
  const int peak = PeakIndex(cs);
  EXPECT_NEAR(cs.molarMasses[peak], 50000.0, 2 * (cs.molarMasses[peak + 1] - cs.molarMasses[peak]));
}

// The c(M) of the set-up is chosen as from the menu: the discrete species
// chosen before keep what was typed for them.
TEST_F(MStarWindowTest, CofMSetUpKeepsTheEntriesOfTheModelLeft) {
  LoadEquilibrium({CoveringSingleSpecies()});
  TXLAWindow& w = Window();
  ui_->lenient = true;
  w.Dispatch(198);
  ModelParams& mp = gModelParams;
  mp.included[1] = 1;
  mp.concentration[1] = 0.45f;
  mp.massOrD[1] = 6.1f;
  mp.s[1] = 4.5f;
  PackModelParameters();
  w.OnCommand(896);
  ui_->ExpectPrompt("M* transformation", "min Mw (kDa)", "20");
  ui_->ExpectPrompt("M* transformation", "max Mw (kDa)", "100");
  ui_->ExpectBox("M* transformation", "determine Baseline from c(M)?", platform::IDNO);
  MStarTransformationSetup(w);
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_EQ(SelectedModelKey(), 235);
  w.Dispatch(198);
  ui_->lenient = false;
  EXPECT_EQ(SelectedModelKey(), 198);
  EXPECT_FLOAT_EQ(mp.concentration[1], 0.45f);
  EXPECT_FLOAT_EQ(mp.massOrD[1], 6.1f);
  EXPECT_FLOAT_EQ(mp.s[1], 4.5f);
}

TEST_F(MStarWindowTest, CofMSetUpHandlesBaselinesAndItsMRange) {
  LoadEquilibrium({CoveringSingleSpecies()});
  TXLAWindow& w = Window();
  w.OnCommand(896);
  MStarState& st = CurrentMStarState();
  // A proposal needs positive molar masses.
  const float kept = st.mwavg[1];
  st.mwavg[1] = -3.0f;
  ui_->ExpectBox("M* transformation", "no positive Mwavg");
  MStarTransformationSetup(w);
  EXPECT_TRUE(MStarScreenShown());
  st.mwavg[1] = kept;
  ui_->ExpectPrompt("M* transformation", "min Mw (kDa)", "80");
  ui_->ExpectPrompt("M* transformation", "max Mw (kDa)", "20");
  ui_->ExpectBox("M* transformation", "0 < min Mw < max Mw");
  MStarTransformationSetup(w);
  EXPECT_TRUE(ui_->AllConsumed());

  // Individual baselines without RI values: fixing the baseline writes them.
  gModelParams.riNoiseFit = 1;
  ScanSet& scans = CurrentScanSet();
  free_vector(scans.riNoise, 1, scans.count);
  scans.riNoise = nullptr;
  ui_->ExpectPrompt("M* transformation", "min Mw (kDa)", "24");
  ui_->ExpectPrompt("M* transformation", "max Mw (kDa)", "100");
  ui_->ExpectBox("M* transformation", "determine Baseline from c(M)?", platform::IDNO);
  MStarTransformationSetup(w);
  EXPECT_TRUE(ui_->AllConsumed());
  ASSERT_NE(CurrentScanSet().riNoise, nullptr);
  EXPECT_FLOAT_EQ(CurrentScanSet().riNoise[1], static_cast<float>(cell_.baseline));
  EXPECT_EQ(gModelParams.riNoiseFit, 0);
  EXPECT_FLOAT_EQ(Conti().sMin, 24000.0f);
  EXPECT_FLOAT_EQ(Conti().sMax, 100000.0f);
  EXPECT_TRUE(gModelSelectorFlags.DistributionModel);
  // Back on the screen, smoothing with the c(M) just computed.
  EXPECT_TRUE(MStarScreenShown());
  EXPECT_TRUE(st.settings.cmSmoothing);
  ExpectNoFailures();
}

TEST_F(MStarWindowTest, HingeMarksStandAtTheHingeOnThreePlots) {
  LoadEquilibrium({SingleSpecies()});
  TXLAWindow& w = Window();
  w.OnCommand(896);
  ui_->ExpectBox("HINGE POINT INFO", "manual override?", platform::IDNO);
  ui_->ExpectPrompt("HINGE POINT INFO", "radial interval for smoothing Mapp(r_hinge)", "0.01");
  ui_->ExpectBox("HINGE POINT INFO", "Mwapp(rhinge=");
  ShowMStarHingePointInfo(w);
  EXPECT_TRUE(ui_->AllConsumed());
  const MStarHinge& h = CurrentMStarState().hinge[1];
  ASSERT_TRUE(h.found);
  EXPECT_NEAR(h.mwapp, 50.0, 0.6);
  platform::RecordingDC dc;
  DrawMStarHingeMarks(dc, CurrentMStarState(), 1);
  std::vector<std::pair<int, int>> moves, lines;
  for (const auto& op : dc.Ops()) {
    if (op.kind == platform::DrawOp::Kind::MoveTo) moves.emplace_back(op.a, op.b);
    if (op.kind == platform::DrawOp::Kind::LineTo) lines.emplace_back(op.a, op.b);
  }
  ASSERT_EQ(lines.size(), 5u);
  const MStarPlotSet& p = CurrentMStarPlots();
  // Verticals at r_hinge, r_hinge^2 and at the loading on the signal axis.
  EXPECT_EQ(moves[0].first, p.signal->ToPixelX(h.radius));
  EXPECT_EQ(lines[0].second, p.signal->plotBottom);
  EXPECT_EQ(moves[1].first, p.lnc->ToPixelX(h.radius * h.radius));
  EXPECT_EQ(moves[2].first, p.mwapp->ToPixelX(h.loading + static_cast<float>(cell_.baseline)));
  // Horizontals at c0 + b_d from meniscus to bottom, and at Mwapp(r_hinge).
  EXPECT_EQ(moves[3].second, p.signal->ToPixelY(h.loading + static_cast<float>(cell_.baseline)));
  EXPECT_EQ(moves[3].first, p.signal->ToPixelX(6.9f));
  EXPECT_EQ(lines[3].first, p.signal->ToPixelX(7.2f));
  EXPECT_EQ(moves[4].second, p.mwapp->ToPixelY(h.mwapp));
  w.Paint(true);
  ExpectNoFailures();
}
