#include <string>
#include <utility>
#include <vector>

#include "automation/commands.h"
#include "data/wiener_skew.h"
#include "fit/saved_params.h"
#include "fit/serial_fit_settings.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/lamm_settings.h"
#include "tests/automation/automation_test_support.h"
#include "tests/support/file_text.h"

using autotest::ReadFile;

namespace {

class SavedParams : public autotest::Scratch {
 protected:
  SavedParams() {
    autotest::ResetAnalysisState();
    LammSettings() = LammSolverSettings{};
    ConnectSavedParamsToDistributions();
    path = (dir / "~tmppars.RA1").string();
  }
  ~SavedParams() override {
    autotest::ResetAnalysisState();
    gAssociationModelParams = AssociationModelParams{};
    LammSettings() = LammSolverSettings{};
    CurrentWienerSkew() = WienerSkewSettings{};
  }

  std::vector<std::string> Lines() { return teststate::FileLines(path); }

  // The file cut to the first `count` of its lines.
  void WriteFirst(const std::vector<std::string>& lines, std::size_t count) {
    std::string text;
    for (std::size_t k = 0; k < count; ++k) text += lines[k] + "\n";
    autotest::WriteFile(path, text);
  }

  std::string path;
};

}  // namespace

TEST_F(SavedParams, AnAnalysisComesBackAsItWasSaved) {
  ModelParams& mp = gModelParams;
  mp.included[2] = 1;
  mp.s[2] = 4.5f;
  mp.sFit[2] = 1;
  mp.meniscus = 6.02f;
  mp.meniscusFit = 1;
  mp.bottom = 7.19f;
  mp.riNoiseFit = 1;
  // The user's limits are saved, not the part of them these scans allowed.
  CurrentScanSet().enteredLeftFitLimit = 6.05f;
  CurrentScanSet().enteredRightFitLimit = 7.1f;
  CurrentScanSet().leftFitLimit = 6.5f;
  CurrentScanSet().rightFitLimit = 6.9f;
  gFitEngineState.meniscusMin = 5.99f;
  gFitEngineState.bottomMax = 7.3f;
  gFitEngineState.fitTINoise = 1;
  gSolutionConditions.vbar = 0.74f;
  gSolutionConditions.vbar20 = 0.74f;
  gSolutionConditions.density = 1.01f;
  LammSettings().gridSize.setting = 600;
  LammSettings().scanVelocity = 3.5f;
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSff0Model = 1;
  Conti().ffMin = 1.1f;
  Conti().ffMax = 2.5f;
  Conti().logSpacedGrid = 1;
  gAssociationModelParams.repulsive = 0;
  gAssociationModelParams.dimerNonideal = 1;
  gAssociationModelParams.csClSD = 1;
  CurrentWienerSkew() = WienerSkewSettings{1, 2.5e-6f, 1, 3.25f};
  PackModelParameters();

  ASSERT_TRUE(TmpSaveBestParams(path, false));
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 208u);
  // Line 1: a finished save; 16: s of component 2; 73: c(s,ff0); 193 to 197:
  // attractive ks and kd; 204 to 207: Wiener skewing on, its magnitude in
  // 1e-6 cm^2 ml/mg, signal per mg/ml, fit.
  const std::pair<int, const char*> expected[] = {
      {1, "1.000000"},   {16, "4.500000"},  {40, "6.020000"},  {42, "6.050000"},  {43, "7.100000"},
      {73, "3.000000"},  {85, "1.000000"},
      {86, "1.100000"},  {200, "1.000000"}, {193, "0.000000"}, {195, "1.000000"}, {197, "1.000000"},
      {204, "1.000000"}, {205, "2.500000"}, {206, "3.250000"}, {207, "1.000000"}};
  for (const auto& [line, value] : expected) EXPECT_EQ(lines[line - 1], value) << "line " << line;

  autotest::ResetAnalysisState();
  CurrentWienerSkew() = WienerSkewSettings{};
  LammSettings() = LammSolverSettings{};
  Conti().ffMin = 1.0f;
  Conti().logSpacedGrid = 0;
  gAssociationModelParams = AssociationModelParams{};
  ASSERT_EQ(ReloadParameters(path), 1);
  EXPECT_EQ(gAssociationModelParams.repulsive, 0);
  EXPECT_EQ(gAssociationModelParams.hardSphere, 0);
  EXPECT_EQ(gAssociationModelParams.dimerNonideal, 1);
  EXPECT_EQ(gAssociationModelParams.polynomialSD, 0);
  EXPECT_EQ(gAssociationModelParams.csClSD, 1);
  EXPECT_FLOAT_EQ(gModelParams.s[2], 4.5f);
  EXPECT_EQ(gModelParams.sFit[2], 1);
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.02f);
  EXPECT_FLOAT_EQ(gModelParams.bottom, 7.19f);
  EXPECT_EQ(gModelParams.riNoiseFit, 1);
  EXPECT_FLOAT_EQ(CurrentScanSet().leftFitLimit, 6.05f);
  EXPECT_FLOAT_EQ(CurrentScanSet().enteredLeftFitLimit, 6.05f);
  EXPECT_FLOAT_EQ(CurrentScanSet().enteredRightFitLimit, 7.1f);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.99f);
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  EXPECT_FLOAT_EQ(gSolutionConditions.vbarRho, 0.74f * 1.01f);
  // The distribution's own size is in use; the default is not the file's.
  EXPECT_EQ(LammSettings().gridSize.inUse, 600);
  EXPECT_TRUE(DistributionGridSizeInUse(LammSettings().gridSize));
  EXPECT_FLOAT_EQ(LammSettings().scanVelocity, 3.5f);
  EXPECT_EQ(gModelSelectorFlags.DistributionModel, 1);
  EXPECT_EQ(gModelSelectorFlags.CSff0Model, 1);
  EXPECT_FLOAT_EQ(Conti().ffMin, 1.1f);
  EXPECT_EQ(Conti().logSpacedGrid, 1);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[13], 6.02f);
  const WienerSkewSettings& w = CurrentWienerSkew();
  EXPECT_EQ(w.use, 1);
  EXPECT_NEAR(w.magnitude, 2.5e-6f, 1e-12);
  EXPECT_FLOAT_EQ(w.signalPerConcentration, 3.25f);
  EXPECT_EQ(w.fit, 1);
}

TEST_F(SavedParams, ShortFilesGiveTheLaterValuesTheirDefaults) {
  ASSERT_TRUE(TmpSaveBestParams(path, false));
  std::vector<std::string> lines = Lines();
  lines[123 - 1] = "1.000000";  // a zone model, beyond what the short file keeps
  lines[73 - 1] = "7001.000000";
  WriteFirst(lines, 98);
  gModelParams.meniscus = 5.5f;
  EXPECT_EQ(ReloadParameters(path), 0);  // refused, nothing changed
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 5.5f);

  WriteFirst(lines, 99);
  gAssociationModelParams.repulsive = 0;
  gAssociationModelParams.csClSD = 1;
  LammSettings().scanVelocity = 9.0f;
  gModelSelectorFlags.ZoneCentrifugationModel = 1;
  CurrentWienerSkew() = WienerSkewSettings{1, 2.5e-6f, 1, 3.25f};
  ASSERT_EQ(ReloadParameters(path), 1);
  EXPECT_EQ(CurrentWienerSkew().use, 0);  // absent: off
  EXPECT_EQ(CurrentWienerSkew().fit, 0);
  EXPECT_FLOAT_EQ(LammSettings().scanVelocity, 9.0f);     // absent: unchanged
  EXPECT_EQ(gModelSelectorFlags.ZoneCentrifugationModel, 0);  // absent: off
  EXPECT_EQ(gAssociationModelParams.repulsive, 1);               // absent: repulsive
  EXPECT_EQ(gAssociationModelParams.csClSD, 0);
  EXPECT_EQ(gModelSelectorFlags.NonidealCSModel, 1);  // code 7001: the variant
  EXPECT_EQ(gModelSelectorFlags.NonidealCSVariant, 1);
  EXPECT_EQ(gFitEngineState.molarMassParameters, 1);
  EXPECT_EQ(ReloadParameters((dir / "none").string()), 0);
}

// Codes, counts, switches and fit flags are read as whole numbers: a value
// that no int holds (its cast would be undefined) or a distribution model
// the program does not know refuses the file, which is named with the line,
// and nothing of it is taken.
TEST_F(SavedParams, ValuesNoLineCanHoldRefuseTheFileAndChangeNothing) {
  ASSERT_TRUE(TmpSaveBestParams(path, false));
  const std::vector<std::string> saved = Lines();
  const struct {
    int line;
    const char* value;
    const char* why;
  } cases[] = {
      {2, "nan", "line 2 holds nan, which is no whole number"},  // component 1 included
      {4, "inf", "line 4 holds inf, which is no whole number"},  // its concentration fit
      {33, "-inf", "line 33 holds -inf, which is no whole number"},  // component 4's s fit
      {39, "1e30", "line 39 holds 1e+30, which is no whole number"},  // baseline fit
      {44, "2147483648", "line 44 holds 2.14748e+09, which is no whole number"},  // Lamm grid size
      {46, "-3e9", "line 46 holds -3e+09, which is no whole number"},  // meniscus fit
      {73, "99", "line 73 holds 99, which is no distribution model"},
      {73, "-2", "line 73 holds -2, which is no distribution model"},
      {73, "nan", "line 73 holds nan, which is no whole number"},
      {94, "1e30", "line 94 holds 1e+30, which is no whole number"},  // grid-size upper limit
      {128, "inf", "line 128 holds inf, which is no whole number"},   // zone fit
      {149, "nan", "line 149 holds nan, which is no whole number"},   // tenth nonideal term's fit
      {201, "1e20", "line 201 holds 1e+20, which is no whole number"},  // minimum s of the log grid
      {207, "nan", "line 207 holds nan, which is no whole number"},   // skew fit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.line) + " " + c.value);
    std::vector<std::string> lines = saved;
    lines[static_cast<std::size_t>(c.line - 1)] = c.value;
    WriteFirst(lines, lines.size());
    autotest::ResetAnalysisState();
    gModelSelectorFlags.MonomerDimerModel = 1;
    gModelParams.meniscus = 5.5f;
    gModelParams.included[3] = 1;
    LammSettings().gridSize.setting = 777;
    Conti().minimumSValue = 3.0f;
    ui.lenient = false;
    ui.ExpectBox("reload parameters", "cannot restore parameters from " + path + ":\n" + c.why);
    EXPECT_EQ(ReloadParameters(path), -1);
    EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
    EXPECT_TRUE(ui.AllConsumed());
    EXPECT_EQ(gModelSelectorFlags.MonomerDimerModel, 1);
    EXPECT_EQ(gModelSelectorFlags.LammDiscreteModel + gModelSelectorFlags.DistributionModel, 0);
    EXPECT_FLOAT_EQ(gModelParams.meniscus, 5.5f);
    EXPECT_EQ(gModelParams.included[3], 1);
    EXPECT_EQ(LammSettings().gridSize.setting, 777);
    EXPECT_FLOAT_EQ(Conti().minimumSValue, 3.0f);
    ui.lenient = true;
  }
  // Whole numbers beyond the written ones are still whole numbers; an
  // integer part is what is read.
  std::vector<std::string> lines = saved;
  lines[44 - 1] = "2147483520.000000";
  lines[73 - 1] = "7001.9";
  WriteFirst(lines, lines.size());
  ASSERT_EQ(ReloadParameters(path), 1);
  EXPECT_EQ(LammSettings().gridSize.inUse, 2147483520);
  EXPECT_EQ(gModelSelectorFlags.NonidealCSVariant, 1);
}

// The file keeps the model in use in its last line; a model that the
// switches of the other lines cannot name is restored into the one they
// name, and the reload says so.
TEST_F(SavedParams, AModelTheSwitchesCannotNameIsSaidAtTheReload) {
  const struct {
    std::uint8_t ModelSelectorFlags::*own;
    int saved;
    const char* note;
  } cases[] = {
      {&ModelSelectorFlags::LinearLammModel, 280, "its entries were loaded into \"model 198\""},
      {&ModelSelectorFlags::Model267, 267,
       "its entries were loaded, but no model is chosen (choose one in the Model menu)"},
      {&ModelSelectorFlags::MonomerDimerModel, 197, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.saved);
    autotest::ResetAnalysisState();
    gModelSelectorFlags.LammDiscreteModel = c.saved == 280;
    gModelSelectorFlags.*c.own = 1;
    ASSERT_TRUE(TmpSaveBestParams(path, false));
    EXPECT_EQ(Lines()[208 - 1], std::to_string(c.saved) + ".000000");
    ui.lenient = false;
    if (c.note)
      ui.ExpectBox("reload parameters", "the model of " + path + ", \"model " + std::to_string(c.saved) +
                                            "\", cannot be restored from it:\n" + c.note);
    ASSERT_EQ(ReloadParameters(path), 1);
    EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
    EXPECT_TRUE(ui.AllConsumed());
    ui.lenient = true;
  }
  // Files of before, whose last line held no model, are read without a note.
  std::vector<std::string> lines = Lines();
  ui.transcript.clear();
  for (const char* last : {"0.000000", "12345.000000", "nan"}) {
    lines[208 - 1] = last;
    WriteFirst(lines, lines.size());
    ui.lenient = false;
    EXPECT_EQ(ReloadParameters(path), 1) << last;
    EXPECT_TRUE(ui.transcript.empty()) << last;
    ui.transcript.clear();
    ui.lenient = true;
  }
  // A serial fit reloads its file for every set: the note comes once, not once a set.
  autotest::ResetAnalysisState();
  gModelSelectorFlags.LammDiscreteModel = 1;
  gModelSelectorFlags.LinearLammModel = 1;
  ASSERT_TRUE(TmpSaveBestParams(path, false));
  gSerialFitSettings.running = 1;
  ui.transcript.clear();
  for (int set = 0; set < 3; ++set) EXPECT_EQ(ReloadParameters(path), 1);
  gSerialFitSettings.running = 0;
  EXPECT_EQ(ui.transcript.size(), 1u);
  ui.transcript.clear();
}

TEST_F(SavedParams, TheStickySphereChoiceComesBack) {
  // (saved choice, lines kept in the file, restored choice)
  const struct {
    unsigned char saved;
    std::size_t lines;
    unsigned char restored;
  } cases[] = {{1, 208, 1}, {0, 208, 0}, {1, 129, 0}};
  for (const auto& c : cases) {
    StickyHardSphereFlag = c.saved;
    ASSERT_TRUE(TmpSaveBestParams(path, false));
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 208u);
    EXPECT_EQ(lines[130 - 1], c.saved ? "1.000000" : "0.000000");
    WriteFirst(lines, c.lines);
    StickyHardSphereFlag = c.saved ? 0 : 1;
    ASSERT_EQ(ReloadParameters(path), 1);
    EXPECT_EQ(StickyHardSphereFlag, c.restored) << int(c.saved) << " " << c.lines;
    // The restored choice is what the coefficients use: attraction only when sticky.
    EXPECT_EQ(StickySphereAttractionTerm(0.1f, 0.2f) > 0.0, c.restored == 1);
  }
  StickyHardSphereFlag = 0;
}

TEST_F(SavedParams, TheSavedAnalysisIsOfferedOnlyToAPerson) {
  ASSERT_TRUE(TmpSaveBestParams(path, true));  // taken during a fit
  gModelParams.meniscus = 5.5f;
  EXPECT_FALSE(OfferRestorePreviousAnalysis(path, true));
  EXPECT_TRUE(ui.transcript.empty());
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 5.5f);

  ui.lenient = false;
  ui.ExpectBox("", "restore previous data?", platform::IDNO)
      .ExpectBox("", "load previous analysis?", platform::IDYES);
  EXPECT_TRUE(OfferRestorePreviousAnalysis(path, false));
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 0.0f);
  EXPECT_FALSE(TmpSaveBestParams("", false));  // nothing loaded: nowhere to save
}
