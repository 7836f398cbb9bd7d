#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fit/fit_report.h"
#include "fit/fit_vector.h"
#include "fit/scan_times.h"
#include "fit_test_support.h"
#include "lamm/lamm_settings.h"

namespace {

using FitReportTest = fittest::FitStateTest;

TEST_F(FitReportTest, WithoutDataOnlyTheHeaderAndTheCommonLines) {
  fittest::ClearScans();
  fittest::AnalyticHost host;
  FitInfoLines lines;
  ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
  EXPECT_EQ(lines.line[1], "no data loaded");
  EXPECT_EQ(lines.line[2], "");
  EXPECT_EQ(lines.line[3], "");
  EXPECT_EQ(lines.line[7], "Meniscus = 0.000000  ");
  EXPECT_EQ(lines.line[13], "vbar = 0.7300 (fix)");
}

TEST_F(FitReportTest, DiscreteSpeciesReport) {
  fittest::AnalyticHost host;
  fittest::LoadScans({{6.1f, 6.2f}, {6.1f, 6.2f}}, {{0, 0}, {0, 0}});
  CurrentScanSet().order[1] = 2;
  CurrentScanSet().order[2] = 1;
  gModelSelectorFlags.LammDiscreteModel = 1;
  gFitEngineState.molarMassParameters = 0;
  gModelParams.included[1] = gModelParams.included[3] = 1;
  P[1] = 5.0f;
  P[3] = 2.5f;
  P[5] = 4.0f;
  P[7] = 11.25f;
  P[9] = 0.5f;
  P[11] = 0.25f;
  P[13] = 6.05f;
  P[14] = 7.2f;
  P[15] = -0.01f;
  gFitEngineState.currentRmsd = 0.01f;
  gFitEngineState.rmsdPointCount = 400;
  gFitEngineState.minimiserRuns = 2;
  gFitEngineState.evaluationsThisRun = 17;
  LammSettings().rampRotorSpeed = 0;
  FitInfoLines lines;
  ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
  EXPECT_EQ(lines.line[1], "fitting files scan2.ra1 to scan1.ra1 with effective sedimentation time");
  EXPECT_EQ(lines.line[2], "s2, step #17     ");
  EXPECT_EQ(lines.line[3], "rmsd=0.010000 (n=400,SSR=0.040000)");
  EXPECT_EQ(lines.line[4], "D*10e7 = 5.000 | 2.500 | ");
  EXPECT_EQ(lines.line[5], "s = 4.000 | 11.250 | ");
  EXPECT_EQ(lines.line[6], "c = 0.500 | 0.250 | (first is total, next are fractions)");
  EXPECT_EQ(lines.line[7], "Meniscus = 6.050000  ");
  EXPECT_EQ(lines.line[8], "Bottom = 7.200000  ");
  EXPECT_EQ(lines.line[9], "fitting 6.0000 - 7.2000");
  EXPECT_EQ(lines.line[10], "Baseline = -0.010000  ");
  EXPECT_EQ(lines.line[12], "Runs test Z (#stddev) = 0.00, Residuals Histogram H = 0.0%");

  // Drawn at x = 10, y = 10 + 20 (k - 1); line 11 only for its models.
  ComposeFitInfoText(&host);
  ASSERT_EQ(host.texts.size(), 13u);
  EXPECT_EQ(host.texts[0], "10,10:" + lines.line[1]);
  EXPECT_EQ(host.texts[10], "10,230:" + lines.line[12]);

  // Signals of 1e19: rmsd^2 n overflows a float, not the sum it reports.
  gFitEngineState.currentRmsd = 8.5e18f;
  gFitEngineState.rmsdPointCount = 14;
  ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
  const double ssr = 8.5e18 * 8.5e18 * 14;
  EXPECT_NEAR(std::strtod(lines.line[3].substr(lines.line[3].find("SSR=") + 4).c_str(), nullptr) / ssr, 1.0, 1e-6);
}

TEST_F(FitReportTest, AnEarlierCsModelLeavesNoTraceInTheSpeciesReport) {
  // The c(s) switch survives the reset that selects the discrete species.
  fittest::AnalyticHost host;
  fittest::LoadScans({{6.1f, 6.2f}}, {{0, 0}});
  gModelSelectorFlags.CSModel = 1;
  gModelSelectorFlags.LammDiscreteModel = 1;
  gFitEngineState.molarMassParameters = 1;
  gModelParams.included[1] = 1;
  P[1] = 20000.0f;
  P[5] = 2.0f;
  FitInfoLines lines;
  ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
  EXPECT_EQ(lines.line[4], "M = 20000.000 | ");
  EXPECT_EQ(lines.line[5], "s = 2.000 | ");

  // With the distribution selected the line is the c(s) one, without caption.
  gModelSelectorFlags.LammDiscreteModel = 0;
  gModelSelectorFlags.DistributionModel = 1;
  ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
  EXPECT_EQ(lines.line[4].find("M = "), std::string::npos) << lines.line[4];
}

TEST_F(FitReportTest, TheCsVariantsReportAsTheCsFamily) {
  // Choosing a variant clears the plain c(s) switch.
  fittest::AnalyticHost host;
  fittest::LoadScans({{6.1f, 6.2f}}, {{0, 0}});
  gModelSelectorFlags.DistributionModel = 1;
  gFitEngineState.molarMassParameters = 1;
  struct Variant {
    unsigned char ModelSelectorFlags::*flag;
    bool discrete;  // the discrete component closes line 5
  };
  // (The nonideal c(s) names its discrete species only when that is ticked.)
  for (const Variant v : {Variant{&ModelSelectorFlags::NonidealCSModel, false},
                          Variant{&ModelSelectorFlags::CSWith1DiscreteModel, true},
                          Variant{&ModelSelectorFlags::CSWith1DiscreteComponent, true},
                          Variant{&ModelSelectorFlags::WormlikeChainCSModel, false}}) {
    gModelSelectorFlags.*v.flag = 1;
    FitInfoLines lines;
    ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
    EXPECT_EQ(lines.line[4].find("M = "), std::string::npos) << lines.line[4];
    EXPECT_FALSE(lines.line[5].empty());
    EXPECT_EQ(lines.line[5].find(" - [s1 = ") != std::string::npos, v.discrete) << lines.line[5];
    gModelSelectorFlags.*v.flag = 0;
  }
  struct TickedHost : fittest::AnalyticHost {
    void FillFitReportInputs(FitReportInputs& in) override { in.conti.nonidealExtraDiscrete = true; }
  } ticked;
  gModelSelectorFlags.NonidealCSModel = 1;
  FitInfoLines lines;
  ASSERT_TRUE(ComposeFitInfoLines(&ticked, lines));
  EXPECT_NE(lines.line[5].find(" - [s1 = "), std::string::npos) << lines.line[5];
}

// A fitted f/f0 pressed against either end of its range says which.
TEST_F(FitReportTest, AFrictionalRatioAtAnEndOfItsRangeSaysWhichEnd) {
  fittest::LoadScans({{6.1f, 6.2f}}, {{0, 0}});
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  struct Row {
    float value, ceiling, floor;
    const char* line;
  };
  const Row rows[] = {
      {1.3f, 100.0f, 1.0f, "frict ratio = 1.300000        "},
      {100.0f, 100.0f, 1.0f, "frict ratio = 100.000000        (at its upper limit 100.00)  "},
      {1.0f, 100.0f, 1.0f, "frict ratio = 1.000000        (at its lower limit 1.00)  "},
      {0.9f, 100.0f, 0.9f, "frict ratio = 0.900000        (at its lower limit 0.90)  "},
      {1.0f, 0.0f, 0.0f, "frict ratio = 1.000000        "},  // not fitted
  };
  for (const Row& r : rows) {
    struct RangeHost : fittest::AnalyticHost {
      Row row{};
      void FillFitReportInputs(FitReportInputs& in) override {
        in.conti.ffValue = row.value;
        in.conti.ffCeiling = row.ceiling;
        in.conti.ffFloor = row.floor;
      }
    } host;
    host.row = r;
    FitInfoLines lines;
    ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
    EXPECT_EQ(lines.line[5], r.line);
  }
}

// The species caption stands only before species: with no model chosen, or
// a distribution outside the c(s) family, line 4 stays empty.
TEST_F(FitReportTest, ACaptionWithoutSpeciesIsNoLine) {
  fittest::AnalyticHost host;
  fittest::LoadScans({{6.1f, 6.2f}}, {{0, 0}});
  for (const unsigned char byMass : {0, 1}) {
    gFitEngineState.molarMassParameters = byMass;
    gModelSelectorFlags = ModelSelectorFlags{};
    FitInfoLines lines;
    ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
    EXPECT_EQ(lines.line[4], "") << int{byMass};
    gModelSelectorFlags.DistributionModel = 1;
    gModelSelectorFlags.DlsIDModel = 1;
    ASSERT_TRUE(ComposeFitInfoLines(&host, lines));
    EXPECT_EQ(lines.line[4], "") << int{byMass};
  }
}

TEST_F(FitReportTest, CumulantsAndSelfAssociation) {
  fittest::AnalyticHost host;
  fittest::LoadScans({{1.0f}}, {{0.0f}});
  CurrentDataTypeFlags().dls = 1;
  gFitEngineState.molarMassParameters = 0;
  gModelSelectorFlags.LammDiscreteModel = gModelSelectorFlags.DlsCumulantModel = 1;
  P[1] = 2.0f;
  P[2] = 1.0f;
  FitInfoLines lines;
  ComposeFitInfoLines(&host, lines);
  EXPECT_EQ(lines.line[1], "fitting file scan1.ra1");
  EXPECT_EQ(lines.line[4], "D or mu = 2.000e+00 | 1.000e+00 | 0.000e+00 | 0.000e+00 | ");
  EXPECT_EQ(lines.line[5], "mu2/(mu1^2) (polydispersity) = 0.250");
  // The ends of the log time axis are no meniscus and bottom.
  P[13] = -7.0f;
  P[14] = 0.0f;
  ComposeFitInfoLines(&host, lines);
  EXPECT_EQ(lines.line[7], "");
  EXPECT_EQ(lines.line[8], "");
  // Light scattering data take neither s nor vbar: the Stokes radii show
  // their radii and amplitudes only.
  gModelSelectorFlags.DlsCumulantModel = 0;
  gModelSelectorFlags.DlsStokesRadiiModel = 1;
  gModelParams.included[1] = 1;
  P[5] = 4.0f;
  ComposeFitInfoLines(&host, lines);
  EXPECT_EQ(lines.line[4], "R(nm) = 2.000 | ");
  EXPECT_EQ(lines.line[5], "");
  EXPECT_EQ(lines.line[13], "");
  PrintFitInfoLines print;
  ComposePrintFitInfoLines(&host, print);
  for (const std::string& line : print.line) {
    EXPECT_EQ(line.find("vbar"), std::string::npos) << line;
    EXPECT_EQ(line.find("Meniscus"), std::string::npos) << line;
    EXPECT_EQ(line.find("Bottom"), std::string::npos) << line;
  }
  gModelParams.included[1] = 0;

  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.MonomerDimerModel = 1;
  gFitEngineState.molarMassParameters = 1;
  P[1] = 40000;
  P[2] = 80000;
  P[5] = 3.5f;
  P[6] = 5.25f;
  P[11] = 0.7f;
  P[3] = 4.5f;
  ComposeFitInfoLines(&host, lines);
  EXPECT_EQ(lines.line[4], "M1 = 40000.000, M2 = 80000.000");
  EXPECT_EQ(lines.line[5], "s1 = 3.500, s2 = 5.250");
  EXPECT_EQ(lines.line[6], "c=0.700,lgK=4.500");
}

TEST_F(FitReportTest, LongFileNamesAreNotCut) {
  fittest::AnalyticHost host;
  fittest::LoadScans({{1.0f}}, {{0.0f}});
  const std::string name(900, 'x');
  CurrentScanSet().fileNames[1] = name;
  CurrentScanSet().radialResolution = 0.002f;
  FitInfoLines lines;
  ComposeFitInfoLines(&host, lines);
  EXPECT_EQ(lines.line[1], "fitting files " + name + " to " + name + ", radial resolution 0.0020 cm");
}

TEST_F(FitReportTest, NonidealMultipleSpeciesShowsOnlyPresentSpeciesAndLineEleven) {
  fittest::AnalyticHost host;
  fittest::LoadScans({{1.0f}}, {{0.0f}});
  gModelSelectorFlags.NonidealMultipleSpeciesModel = 1;
  P[1] = 6;
  P[5] = 4;
  P[9] = 1;
  P[10] = -2;
  P[11] = -1;
  FitInfoLines lines;
  ComposeFitInfoLines(&host, lines);
  EXPECT_EQ(lines.line[4], "D1 = 6.000");
  EXPECT_EQ(lines.line[5], "s1 = 4.000");
  EXPECT_EQ(lines.line[6], "c1 = 1.000");
  EXPECT_EQ(lines.line[11],
            "non-ideality with repulsive ks = 1.000e-02 (log10 = -2.000), repulsive kD = 1.000e-01 (log10 = "
            "-1.000)/(mg/ml), with (mass signal)/(mg/ml) = 1.000");
  PrintFitInfoLines print;
  EXPECT_FALSE(ComposePrintFitInfoLines(&host, print));

  // Fitted, log10 ks and kd stay where ks c lies from 1e-9 to 0.99 and kd c
  // from 1e-9 to 1000 (c the total loading in mg/ml: components 1 and 2,
  // 1 + 1.5 signal at 2 signal per mg/ml, 1.25 mg/ml), the range following
  // a loading that moves; ends beyond are held there and marked.
  F[10] = F[11] = 1;
  P[27] = 1.5f;
  CurrentScanSet().signalPerConcentration = 2.0;
  {
    SpeciesFitRangesScope fit;
    struct Row {
      float loading, logKs, logKd;
      float ks, kd;  // after the evaluation
      const char* marks;
    };
    const float c = 1.25f, c2 = 2.75f;  // the loading by the third row: (4 + 1.5) / 2
    for (const Row& row :
         {Row{1.0f, -2.0f, -1.0f, -2.0f, -1.0f, ""},
          Row{1.0f, 0.5f, -30.0f, std::log10(0.99f / c), std::log10(1e-9f / c),
              " | log10(ks) at its upper fit limit -0.101 | log10(kd) at its lower fit limit -9.097"},
          Row{4.0f, -3.0f, 5.0f, -3.0f, std::log10(1000.0f / c2), " | log10(kd) at its upper fit limit 2.561"}}) {
      SCOPED_TRACE(testing::Message() << "log10 ks " << row.logKs << ", kd " << row.logKd);
      P[9] = row.loading;
      float v[3] = {0, row.logKs, row.logKd};
      UnpackFitVectorForEvaluation(v);
      EXPECT_NEAR(P[10], row.ks, 1e-5f);
      EXPECT_NEAR(P[11], row.kd, 1e-5f);
      EXPECT_EQ(v[1], P[10]);
      EXPECT_EQ(v[2], P[11]);
      ComposeFitInfoLines(&host, lines);
      const std::string& line = lines.line[11];
      EXPECT_EQ(line.substr(line.find("(mg/ml) = 2.000") + 15), row.marks);
      // The upper end is one a minimum may lie beyond: an end of
      // Levenberg-Marquardt pressed there says so; the lower one has no effect.
      unsigned char ranged[3] = {};
      FitVectorEntriesInSpeciesRanges(2, ranged);
      const std::string marks = row.marks;
      EXPECT_EQ(ranged[1], marks.find("ks) at its upper") != std::string::npos);
      EXPECT_EQ(ranged[2], marks.find("kd) at its upper") != std::string::npos);
    }
  }
  // A start below the least widens the range: a fit never moves a value the
  // user set; outside a fit nothing is held.
  P[9] = 1.0f;
  P[11] = -12.0f;
  EXPECT_NEAR(SpeciesFitRangesForCurrentFit().kdLoadMin, 1.25e-12, 1e-16);
  EXPECT_FALSE(SpeciesFitRangesForCurrentFit().on);
  float v[3] = {0, 3.0f, 9.0f};
  UnpackFitVectorForEvaluation(v);
  EXPECT_EQ(P[10], 3.0f);
  EXPECT_EQ(P[11], 9.0f);
  CurrentScanSet().signalPerConcentration = 1.0;

  // Fitted, the components' D0 stay in the discrete species' range of D:
  // from a boundary spread over half a radial spacing by the last scan to
  // one spread over the whole column by the first (2 scans at 1200 and 2400 s,
  // 100 points from 6.0 to 7.15 cm), never narrower than the start (D2 at
  // 0.01). A D0 asked beyond is held at the end and marked.
  fittest::LoadEvenScans(2, 100, 1200, 1200);
  F[10] = F[11] = 0;
  F[1] = F[29] = 1;
  P[1] = 6;
  P[29] = 4;
  const double dr = 1.15 / 99, column = gFitEngineState.bottomMax - gFitEngineState.meniscusMin;
  const float dMax = static_cast<float>(column * column / (2 * 1200.0) * 1e7);
  EXPECT_NEAR(SpeciesFitRangesForCurrentFit().dMin, dr * dr / (8 * 2400.0) * 1e7, 1e-6);
  EXPECT_FLOAT_EQ(SpeciesFitRangesForCurrentFit().dMax, dMax);
  P[29] = 0.01f;
  {
    SpeciesFitRangesScope fit;
    struct Row {
      float d1, d2;
      float held1, held2;  // after the evaluation
      const char* line;
    };
    for (const Row& row :
         {Row{5.5f, 4.0f, 5.5f, 4.0f, "D1 = 5.500 | D2 = 4.000"},
          Row{-1e-6f, 0.005f, 0.01f, 0.01f,
              "D1 = 0.010 (at its lower fit limit 0.01) | D2 = 0.010 (at its lower fit limit 0.01)"},
          Row{3e6f, 7.0f, dMax, 7.0f, nullptr}}) {
      SCOPED_TRACE(testing::Message() << "D1 " << row.d1 << ", D2 " << row.d2);
      float w[3] = {0, row.d1, row.d2};
      UnpackFitVectorForEvaluation(w);
      EXPECT_FLOAT_EQ(P[1], row.held1);
      EXPECT_FLOAT_EQ(P[29], row.held2);
      EXPECT_EQ(w[1], P[1]);
      EXPECT_EQ(w[2], P[29]);
      EXPECT_EQ(gModelParams.nonidealTerm[5], P[29]);
      ComposeFitInfoLines(&host, lines);
      char upper[100];
      std::snprintf(upper, sizeof upper, "D1 = %.3f (at its upper fit limit %.5g) | D2 = 7.000", dMax, dMax);
      EXPECT_EQ(lines.line[4], row.line ? row.line : upper);
      // Levenberg-Marquardt's end pressed against either end says so.
      unsigned char ranged[3] = {};
      FitVectorEntriesInSpeciesRanges(2, ranged);
      EXPECT_EQ(ranged[1], 1);
      EXPECT_EQ(ranged[2], 1);
    }
  }
  float d[3] = {0, 1e-6f, 1e6f};
  UnpackFitVectorForEvaluation(d);  // outside a fit nothing is held
  EXPECT_EQ(P[1], 1e-6f);
  EXPECT_EQ(P[29], 1e6f);
}

TEST(ScanTimesTest, TimesFromW2tAndBack) {
  fittest::LoadScans({{1.0f}, {1.0f}}, {{0.0f}, {0.0f}});
  LammSettings() = LammSolverSettings{};
  CurrentDataTypeFlags() = DataTypeFlags{};
  ScanSet& ss = CurrentScanSet();
  ss.records[1].rpm = 50000;
  ss.records[1].w2t = 2.7415568e10;
  ss.records[1].time = ss.records[1].timeRead = 1090;
  ss.records[2].rpm = 0;  // no speed: keeps its elapsed time
  ss.records[2].time = ss.records[2].timeRead = 500;
  SwitchOnTimesFromW2t();
  EXPECT_EQ(LammSettings().timesFromW2t, 1);
  EXPECT_EQ(LammSettings().rampRotorSpeed, 0);
  EXPECT_NEAR(ss.records[1].timeRead, 1000.0, 1e-3);
  EXPECT_EQ(ss.records[2].timeRead, 500.0);
  EXPECT_EQ(ss.records[1].time, 1090.0);
  RestoreScanTimes();
  EXPECT_EQ(LammSettings().timesFromW2t, 0);
  EXPECT_EQ(ss.records[1].timeRead, 1090.0);
  ss.records[1].timeRead = 7;
  SwitchOffTimesFromW2t(nullptr);  // already off: times untouched
  EXPECT_EQ(ss.records[1].timeRead, 7.0);
  CurrentDataTypeFlags().dls = 1;
  SwitchOnTimesFromW2t();
  EXPECT_EQ(ss.records[1].timeRead, 7.0);
  EXPECT_EQ(LammSettings().timesFromW2t, 1);
  CurrentDataTypeFlags() = DataTypeFlags{};
  LammSettings() = LammSolverSettings{};
  fittest::ClearScans();
}

class CorrectionsHost : public fittest::AnalyticHost {
 public:
  void FillFitReportInputs(FitReportInputs& in) override {
    in.buffer.on = true;
    in.buffer.modeSwitch = false;  // printed negated
    in.buffer.signal = 0.012;
    in.buffer.signalFit = true;
    in.buffer.d = 10;
    in.buffer.s = 0.2;
    in.buffer.mb = 150;
    in.buffer.sizeFit = true;
    in.solvent.inhomogeneous = true;
    in.solvent.apparentVbarOn = true;
    in.solvent.apparentVbar = 0.75f;
    in.fds.wienerOn = true;
    in.fds.wienerMagnitude = 2e-6f;
    in.fds.wienerSignal = 3.3f;
    in.fds.driftOn = in.fds.linearDriftOn = true;
    in.fds.linearDrift = 0.015f;
    in.fds.linearDriftFit = true;
    in.fitT0 = true;
  }
};

TEST(FitReportCorrections, BufferVbarFluorescenceAndT0Lines) {
  fittest::ResetFitState();
  fittest::LoadScans({{1.0f}}, {{0.0f}});
  LammSettings() = LammSolverSettings{};
  CurrentDataTypeFlags() = DataTypeFlags{};
  gFitEngineState.fitVbar = 1;
  gModelParameterVector.P[24] = 12.5f;
  CorrectionsHost host;
  FitInfoLines lines;
  ComposeFitInfoLines(&host, lines);
  EXPECT_EQ(lines.line[1], "fitting files scan1.ra1 to scan1.ra1 with inhomogeneous solvent model");
  EXPECT_EQ(lines.line[13], "vbar = 0.7300 (fix), apparent vbar = 0.7500 (floating)");
  EXPECT_EQ(lines.line[14],
            "buffer: -0.012(fl), D=10.00, s=0.2000, Mb=150.0(fl) W-skew = 0.0000 (fix) - drift = 1.500 %/h "
            "(floating)");
  EXPECT_EQ(lines.line[10], "Baseline = 0.000000   | Wiener skew with 2.000e-06 cm^2/(mg/ml) at 3.300 signal/(mg/ml)  ");
  EXPECT_EQ(lines.line[11], "t0 for simulation is at 12.500000 sec");
  ComposeFitInfoText(&host);
  EXPECT_EQ(host.texts.size(), 14u);  // line 11 is drawn with the t0 fit
  PrintFitInfoLines print;
  ASSERT_TRUE(ComposePrintFitInfoLines(&host, print));
  EXPECT_EQ(print.line[11], lines.line[13]);
  EXPECT_EQ(print.line[2], "s0, step #0     ");
  fittest::ClearScans();
  fittest::ResetFitState();
}

}  // namespace
