// The parameter listing: its exact text in the file and on the clipboard,
// the file name that follows the loaded data, and the overwrite question.
#include "fit/parameter_listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "platform/clipboard.h"
#include "platform/scripted_ui.h"
#include "tests/support/fit_state.h"
#include "tests/support/temp_folder.h"

namespace {

class ParameterListing : public ::testing::Test {
 protected:
  void SetUp() override {
    teststate::ResetFitState();
    LammSettings() = LammSolverSettings{};
    // Component 1: D 6.1 fixed, s 4.25 floated, loading 0.8; meniscus
    // floated, bottom and baseline fixed; rmsd 0.00456 over 2000 points.
    ModelParams& mp = gModelParams;
    gFitEngineState.molarMassParameters = 0;
    mp.included[1] = 1;
    mp.massOrD[1] = 6.1f;
    mp.s[1] = 4.25f;
    mp.sFit[1] = 1;
    mp.concentration[1] = 0.8f;
    mp.meniscus = 6.0512f;
    mp.meniscusFit = 1;
    mp.bottom = 7.2f;
    mp.baseline = 0.00123f;
    PackModelParameters();
    ScanSet& s = CurrentScanSet();
    s.leftFitLimit = 6.06f;
    s.rightFitLimit = 7.1f;
    gFitEngineState.currentRmsd = 0.00456f;
    gFitEngineState.rmsdPointCount = 2000;
    platform::SetClipboard(&clipboard_);
  }
  void TearDown() override {
    // A case's experimental start left on made later tests' models the data.
    teststate::ResetFitState();
    LammSettings() = LammSolverSettings{};
    platform::SetClipboard(nullptr);
    ScanSet& s = CurrentScanSet();
    s.count = 0;
    s.fileNames.clear();
    s.leftFitLimit = s.rightFitLimit = 0;
  }
  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream t;
    t << in.rdbuf();
    return t.str();
  }
  // As a loader leaves the file list: one scan file.
  static void LoadedFile(const std::string& name) {
    CurrentScanSet().count = 1;
    CurrentScanSet().fileNames = {"", name};
  }

  teststate::TempFolder folder_;
  const std::filesystem::path dir_{folder_.path()};
  platform::MemoryClipboard clipboard_;
  platform::ScriptedUserInterface ui_;
};

TEST_F(ParameterListing, FileAndClipboardTextsOfAFittedComponent) {
  const std::string tail =
      "\n\nconcentrations = 0.800 | (first is total, next are fractions)"
      "\n\nmeniscus at \t6.0512 cm\t\t(floated)\n"
      "bottom at \t7.2000 cm\t\t(fixed)\n\n";
  // The clipboard's text has no line break after the component's last line.
  const auto text = [&](const char* afterComponent) {
    return "\n\ncomponent 1 included:\n"
           "D\t=\t6.100 *10^-7 cm^2/sec\t(fixed)\n"
           "s\t=\t4.250 S\t\t\t(floated)" +
           std::string(afterComponent) + tail +
           "baseline at \t0.00123 OD\t\t(fixed)\n"
           "\nfitted from 6.0600 to 7.1000 cm\n"
           "with constant initial distribution"
           "\nsimulation start time 0.000000 sec\t\t(fixed)\n"
           "\nrmsd=0.004560 (n=2000,SSR=0.041587)\n";
  };
  EXPECT_EQ(ParameterListingText(false), text("\n"));
  platform::ScopedUI scope(ui_);
  CopyParametersToClipboard();
  EXPECT_EQ(clipboard_.text, text(""));
  EXPECT_TRUE(ui_.transcript.empty());
  // A clipboard held by another program keeps its content, silently.
  clipboard_.refuseOpen = true;
  gModelParameterVector.P[9] = 0.5f;
  CopyParametersToClipboard();
  EXPECT_NE(clipboard_.text.find("0.800 |"), std::string::npos);
  EXPECT_TRUE(ui_.transcript.empty());
}

TEST_F(ParameterListing, SwitchesChangeTheirLines) {
  struct Case {
    const char* what;
    void (*set)();
    bool clipboard;
    std::string expected;
  };
  const Case cases[] = {
      {"no component", [] { gModelParams.included[1] = 0; }, false,
       "\n\nconcentrations = (first is total, next are fractions)\n\nmeniscus"},
      {"molar mass", [] {
         gFitEngineState.molarMassParameters = 1;
         gModelParams.massOrD[1] = 150000;
         gModelParams.massOrDFit[1] = 1;
       },
       false, "M\t=\t150000.000000 g/Mol\t(floated)\ns\t=\t4.250 S\t\t\t(floated)\n"},
      {"baseline as a linear amplitude", [] { gModelParams.baselineLinear = 1; }, true,
       "baseline at \t0.00123 OD\t\t(floated)\n\nfitted"},
      {"TI noise in the file", [] { gFitEngineState.fitTINoise = 1; }, false,
       "OD\t\t(fixed)\n\t\t(time independently fitted)\nfitted"},
      {"TI noise on the clipboard", [] { gFitEngineState.fitTINoise = 1; }, true,
       "OD\t\t(fixed)\n\t\ttime independent baseline fitted\n\nfitted"},
      {"second component", [] {
         gModelParams.included[3] = 1;
         gModelParameterVector.P[11] = 0.25f;
       },
       false, "concentrations = 0.800 | 0.250 | (first"},
      {"experimental start", [] {
         LammSettings().experimentalInitialDistribution = 1;
         gModelParams.startTime = 12.5f;
         gModelParams.startTimeFit = 1;
       },
       false, "with experimental initial distribution\nsimulation start time 12.500000 sec\t\t(floated)\n"},
  };
  for (const Case& k : cases) {
    SetUp();
    k.set();
    const std::string text = ParameterListingText(k.clipboard);
    EXPECT_NE(text.find(k.expected), std::string::npos) << k.what << "\n" << text;
    TearDown();
  }
}

TEST_F(ParameterListing, ATypedExtensionStandsAndThePlaceholderTakesTheDataExtension) {
  platform::ScopedUI scope(ui_);
  LoadedFile("00001.ra1");
  struct Case {
    const char* chosen;
    const char* written;
  } cases[] = {{"fitparams.txt", "fitparams.txt"},
               {"fitparams.rxx", "fitparams.ra1"},
               {"fitparams.RXX", "fitparams.ra1"},
               {"fitparams", "fitparams.ra1"},
               {"fitparams.RA2", "fitparams.RA2"}};
  for (const Case& c : cases) {
    const std::filesystem::path written = dir_ / c.written;
    EXPECT_EQ(SaveParametersToFile((dir_ / c.chosen).string()), written.string()) << c.chosen;
    EXPECT_TRUE(std::filesystem::exists(written)) << c.chosen;
    std::filesystem::remove(written);
  }
  EXPECT_TRUE(ui_.failures.empty());
}

TEST_F(ParameterListing, TheFileTakesTheDataExtensionAndAsksBeforeOverwriting) {
  platform::ScopedUI scope(ui_);
  LoadedFile("00001.ra1");
  const std::string chosen = (dir_ / "fitparams.rxx").string();
  const std::filesystem::path written = dir_ / "fitparams.ra1";
  EXPECT_EQ(SaveParametersToFile(chosen), written.string());
  EXPECT_NE(Read(written).find("D\t=\t6.100 *10^-7 cm^2/sec\t(fixed)\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(chosen));

  // Kept on No, replaced on Yes.
  std::ofstream(written) << "earlier";
  ui_.ExpectBox("ERROR", "file " + written.string() + " already exists!\nOverwrite?", platform::IDNO);
  ui_.ExpectBox("ERROR", "parameters not saved");
  EXPECT_EQ(SaveParametersToFile(chosen), "");
  EXPECT_EQ(Read(written), "earlier");
  ui_.ExpectBox("ERROR", "already exists", platform::IDYES);
  EXPECT_EQ(SaveParametersToFile(chosen), written.string());
  EXPECT_EQ(Read(written), ParameterListingText(false));
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();

  // Without loaded scans the chosen name stands.
  CurrentScanSet().count = 0;
  CurrentScanSet().fileNames.clear();
  EXPECT_EQ(SaveParametersToFile(chosen), chosen);
  EXPECT_EQ(Read(chosen), ParameterListingText(false));

  // A folder that does not exist.
  const std::string nowhere = (dir_ / "missing" / "fitparams.txt").string();
  ui_.ExpectBox("Error", "could not open " + nowhere);
  EXPECT_EQ(SaveParametersToFile(nowhere), "");
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
}

// A c(s) keeps its grid in the species slots: the listing names the grid,
// not a component of M = s min and s = s max.
TEST_F(ParameterListing, ADistributionListsItsGridInsteadOfComponents) {
  ModelParameterVector& v = gModelParameterVector;
  gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
  v.P[1] = 0.0f;
  v.P[5] = 12.0f;
  v.P[9] = 100.0f;
  v.P[2] = 0.68f;
  v.P[11] = 1.3f;
  v.F[11] = 1;
  v.F[5] = 1;
  UnpackModelParameters();
  gModelParams.included[1] = 1;
  const std::string text = ParameterListingText(false);
  EXPECT_EQ(text.find("component"), std::string::npos) << text;
  EXPECT_EQ(text.find("concentrations"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("\n\ndistribution:\n"
                       "s min\t=\t0.000\ns max\t=\t12.000\nresolution\t=\t100\n"
                       "confidence level\t=\t0.680\nf/f0\t=\t1.300\t(floated)"
                       "\n\nmeniscus at \t6.0512 cm\t\t(floated)\n",
                       0),
            0u)
      << text;
}

}  // namespace
