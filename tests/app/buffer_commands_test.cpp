// Command 552 and its dialog "Buffer Mismatch" through the window: entries
// as stored and shown again, the checks against the selected model, and the
// buffer-mismatch subtraction 576 on loaded scans.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/commands/options/buffer_commands.h"
#include "app/dialogs/form_dialog.h"
#include "app_fixture.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_run.h"
#include "fit/solvent_gradient.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "models/buffer/buffer_sedimentation.h"
#include "tests/fit/fit_test_support.h"

namespace {

class BufferCommands : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    gFitEngineState.molarMassParameters = 0;
    WriteAgreedDefaults();
    ui_->lenient = true;
    formScope_ = std::make_unique<ScopedFormRunner>(forms_);
    window_ = MakeWindow();
  }
  void TearDown() override {
    formScope_.reset();
    window_.reset();
    fittest::ClearScans();
    ContiHooks() = ContiRunHooks{};
    AppTest::TearDown();
  }
  void Open(std::vector<std::pair<int, std::string>> texts, std::vector<std::pair<int, int>> states,
            bool accept = true) {
    forms_.Expect({"Buffer Mismatch", std::move(texts), std::move(states), accept});
    window_->Dispatch(552);
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> b;
    for (const auto& t : ui_->transcript) b.push_back(t.caption + "|" + t.text);
    return b;
  }
  // Two interference scans of signal 4 at 600 and 1200 s.
  static void LoadTwoScans() {
    std::vector<std::vector<float>> x(2), y(2);
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 61; ++i) {
        x[j].push_back(6.0f + 1.2f * i / 60);
        y[j].push_back(4.0f);
      }
    fittest::LoadScans(x, y);
    ScanSet& ss = CurrentScanSet();
    for (int j = 1; j <= 2; ++j) {
      ss.records[j].rpm = 50000;
      ss.records[j].time = ss.records[j].timeRead = 600.0 * j;
    }
    CurrentDataTypeFlags().interference = 1;
  }
  bool Shown(const std::string& box) const {
    for (const std::string& b : Boxes())
      if (b == box) return true;
    return false;
  }

  ScriptedFormRunner forms_;
  std::unique_ptr<ScopedFormRunner> formScope_;
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(BufferCommands, NegativeSignalIsTheReferenceSideAndShowsAgain) {
  gModelSelectorFlags.LammDiscreteModel = 1;
  Open({{560, "-12.5"}}, {{553, 1}});
  const BufferSedSettings& b = gBufferSedSettings;
  EXPECT_TRUE(b.BufferSedOn);
  EXPECT_EQ(b.BufferSignal, 12.5);
  EXPECT_EQ(b.SignalSign, -1.0);
  EXPECT_TRUE(b.ExcessInReference);
  EXPECT_FALSE(b.ExcessInSample);
  EXPECT_TRUE(window_->IsMenuItemChecked(552));
  // No scans: 20 degC; Mb = 1e-6 s RT / D.
  EXPECT_TRUE(Shown("|assuming t = 20 'C"));
  EXPECT_NEAR(b.SampleBufferMb, 59.48, 0.005);
  // The buffer takes the fourth species.
  EXPECT_EQ(gModelParams.included[kBufferSpecies], 1);
  Open({}, {}, false);
  ASSERT_EQ(forms_.seen.size(), 2u);
  EXPECT_EQ(forms_.seen[1].templateId, 572);
  EXPECT_EQ(forms_.seen[1].Find(560)->text, "-12.500 ");
  EXPECT_EQ(forms_.seen[1].Find(556)->text, "86.000 ");
  EXPECT_EQ(forms_.seen[1].Find(558)->text, "0.2100 ");
  EXPECT_EQ(forms_.seen[1].Find(553)->state, 1);
  EXPECT_TRUE(forms_.failures.empty());
}

TEST_F(BufferCommands, SizesByParametrisation) {
  struct Case {
    const char* name;
    bool mass;
    const char* entry;
    int templateId;
    const char* label;
    double D, Mb;
  };
  for (const Case& c : {Case{"negative D typed", false, "-40", 572, "buffer D (sample side)", 40, -1},
                        Case{"Mb 0 typed", true, "0", 575, "buffer Mb (sample side)", -1, 10}}) {
    SCOPED_TRACE(c.name);
    gFitEngineState.molarMassParameters = c.mass;
    forms_.seen.clear();
    Open({{556, c.entry}}, {});
    ASSERT_EQ(forms_.seen.size(), 1u);
    EXPECT_EQ(forms_.seen[0].templateId, c.templateId);
    EXPECT_EQ(forms_.seen[0].Find(557)->label, c.label);
    if (c.D >= 0) {
      EXPECT_EQ(gBufferSedSettings.SampleBufferD, c.D);
    }
    if (c.Mb >= 0) {
      EXPECT_EQ(gBufferSedSettings.SampleBufferMb, c.Mb);
      EXPECT_NEAR(gBufferSedSettings.SampleBufferD, 1e-6 * 0.21 * 2.436002e10 / 10, 1e-9);
    }
  }
}

TEST_F(BufferCommands, InvalidEntryKeepsTheDialogOpen) {
  forms_.Expect({"Buffer Mismatch", {{558, "abc"}}, {{553, 1}}, true});
  forms_.Expect({"Buffer Mismatch", {{558, "0.3"}}, {}, true});
  window_->Dispatch(552);
  EXPECT_EQ(forms_.canCloseRefusals, 1);
  EXPECT_TRUE(Shown("Input Error|Invalid Entry"));
  EXPECT_EQ(gBufferSedSettings.SampleBufferS, 0.3);
}

TEST_F(BufferCommands, ModelsThatRefuseTheCorrection) {
  // Nonideal c(s): switched off again, no check mark.
  gModelSelectorFlags.DistributionModel = gModelSelectorFlags.NonidealCSModel = 1;
  Open({}, {{553, 1}});
  EXPECT_FALSE(gBufferSedSettings.BufferSedOn);
  EXPECT_FALSE(window_->IsMenuItemChecked(552));
  EXPECT_TRUE(Shown("Attention|buffer sedimentation model is incompatible with this model\nswitching buffer "
                    "sedimentation off"));
  // c(s,ff0): refused before the dialog.
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSff0Model = 1;
  forms_.seen.clear();
  window_->Dispatch(552);
  EXPECT_TRUE(forms_.seen.empty());
  EXPECT_TRUE(Shown("ERROR|c(s,ff0) model does not work in buffer mismatch mode"));
}

TEST_F(BufferCommands, ContinuousModelWithTINoiseOnlyFloatsTheSignal) {
  gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 0;
  Open({}, {{553, 1}, {561, 0}});
  EXPECT_TRUE(gBufferSedSettings.FloatBufferSignal);
  EXPECT_TRUE(Shown("Attention|fixed buffer concentration in c(s) only implemented with TI and RI noise - "
                    "floating c now"));
  EXPECT_TRUE(ContiHooks().bufferCorrection);
  EXPECT_TRUE(ContiHooks().bufferConcentrationFitted);
}

// The parameter dialog of the discrete species shows the buffer in place of
// component 4's concentration and takes it back unchanged.
TEST_F(BufferCommands, ParameterDialogShowsTheBufferSlot) {
  LoadTwoScans();
  window_->Dispatch(198);  // "Non-Interacting Discrete Species"
  Open({}, {{553, 1}});
  gModelParams.concentration[kBufferSpecies] = 0.75f;
  PackModelParameters();
  forms_.Expect({"", {}, {}, true});
  window_->Dispatch(212);
  ASSERT_FALSE(forms_.seen.empty());
  EXPECT_EQ(forms_.seen.back().Find(426)->text, "buffer");
  for (const std::string& b : Boxes()) EXPECT_EQ(b.find("Input Error"), std::string::npos) << b;
  EXPECT_EQ(gModelParams.concentration[kBufferSpecies], 0.75f);
}

// 576 takes the current estimate out of the scans and switches the
// correction off.
TEST_F(BufferCommands, SubtractionCommandOnLoadedScans) {
  LoadTwoScans();
  ScanSet& ss = CurrentScanSet();
  gModelSelectorFlags.LammDiscreteModel = 1;
  Open({{558, "0"}, {560, "1.5"}}, {{553, 1}});
  ASSERT_TRUE(window_->IsMenuItemChecked(552));
  window_->Dispatch(576);
  for (int j = 1; j <= 2; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ASSERT_NEAR(ss.signals[j][p], 2.5f, 1e-5);
  EXPECT_FALSE(gBufferSedSettings.BufferSedOn);
  EXPECT_FALSE(window_->IsMenuItemChecked(552));
  EXPECT_EQ(gModelParams.included[kBufferSpecies], 0);
}


// The running c(s) fit's component and vbar lines through the window's own
// wiring: the buffer with only its floated values, the apparent vbar of the
// inhomogeneous solvent next to vbar.
TEST_F(BufferCommands, RunningContiFitShowsTheBufferAndTheApparentVbar) {
  struct Case {
    const char* what;
    void (*set)(BufferSedSettings&, SolventGradientSettings&);
    bool massMode;
    const char* component;
    const char* vbar;
  };
  const Case cases[] = {
      {"both off", [](BufferSedSettings&, SolventGradientSettings&) {}, false, "", "vbar = 0.7200 (fix)"},
      {"buffer with floating amplitude and D",
       [](BufferSedSettings& b, SolventGradientSettings&) {
         b.BufferSedOn = true;
         b.BufferSignal = 12.5;
         b.FloatSampleD = true;
       },
       false, "buffer: 12.500(fl),D=86.00(fl)", "vbar = 0.7200 (fix)"},
      {"negated amplitude, Mb mode, reference buffer, apparent vbar",
       [](BufferSedSettings& b, SolventGradientSettings& sg) {
         b.BufferSedOn = true;
         b.ExcessInSample = false;
         b.FloatBufferSignal = false;
         b.FloatSampleD = b.FloatSampleS = true;
         b.DifferentReferenceBuffer = true;
         b.FloatRelativeConcentration = b.FloatReferenceS = b.FloatReferenceD = true;
         sg.UseInhomogeneousSolvent = sg.DynamicGradient = true;
         sg.EffectiveVbar = 0.695f;
       },
       true,
       "buffer: -30.000,s=0.2100(fl), Mb=60.0(fl), conc. ratio (s/r)=1.000(fl), refs=0.1000(fl), refMb=100.00(fl)",
       "vbar = 0.7200 (fix), apparent vbar = 0.6950 (fix)"},
      {"inhomogeneous solvent without its own apparent vbar",
       [](BufferSedSettings&, SolventGradientSettings& sg) {
         sg.UseInhomogeneousSolvent = true;
         sg.EffectiveVbar = 0.695f;
       },
       false, "", "vbar = 0.7200 (fix)"},
  };
  const SolventGradientSettings savedSolvent = CurrentSolventGradientSettings();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gBufferSedSettings = BufferSedSettings{};
    CurrentSolventGradientSettings() = savedSolvent;
    c.set(gBufferSedSettings, CurrentSolventGradientSettings());
    gFitEngineState.molarMassParameters = c.massMode ? 1 : 0;
    gSolutionConditions.vbar = 0.72f;
    const std::array<std::string, 8> lines = ComposeContiFitLines();
    EXPECT_EQ(lines[5], c.component);
    EXPECT_EQ(lines[6], c.vbar);
  }
  CurrentSolventGradientSettings() = savedSolvent;
}

}  // namespace
