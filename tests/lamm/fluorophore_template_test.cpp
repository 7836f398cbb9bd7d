// The solver's fluorophore template: an own copy, refused with its message
// when missing or for a wavelength the fluorophore does not have, and
// carried over when the solver's settings are copied.
#include <gtest/gtest.h>

#include "data/fluorophore.h"
#include "lamm/lamm_ideal.h"
#include "platform/scripted_ui.h"

namespace {

TEST(FluorophoreTemplate, RefusalsNameTheirReason) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  CFluorophore f;
  f.SetWavelengthCount(2);
  CLammIdeal L;
  struct Case {
    const CFluorophore* f;
    int wavelength;
    const char* message;
  };
  for (const Case& c : {Case{nullptr, 1, "Error pFlotmpl ==0 in CLammIdeal"},
                        Case{&f, 0, "Error loading wl < 1 in CLammIdeal"},
                        Case{&f, 3, "Error loading wl > max in CLammIdeal"}}) {
    ui.ExpectBox("Error", c.message);
    EXPECT_FALSE(L.LoadFluorophoreTemplate(c.f, c.wavelength));
    EXPECT_EQ(L.FluorophoreTemplate(), nullptr);
  }
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  EXPECT_TRUE(ui.AllConsumed());
}

TEST(FluorophoreTemplate, TheSolverKeepsAnOwnCopyThatTravelsWithItsSettings) {
  CFluorophore f;
  f.SetWavelengthCount(2);
  f.pRateConstantsOn[2] = 0.5f;
  const float resets[] = {0, 3600};
  f.bSwitching = 1;
  f.SetResetTimes(1, resets);
  f.LoadRecoveryLevels(2, 1, 0.9f);
  CLammIdeal L;
  ASSERT_TRUE(L.LoadFluorophoreTemplate(&f, 2));
  f.pRateConstantsOn[2] = 2.0f;  // the template is not a view of the caller's
  ASSERT_NE(L.FluorophoreTemplate(), nullptr);
  EXPECT_FLOAT_EQ(L.FluorophoreTemplate()->pRateConstantsOn[2], 0.5f);
  EXPECT_EQ(L.FluorophoreWavelength(), 2);

  CLammIdeal copy;
  copy.CopySettings(L);
  ASSERT_NE(copy.FluorophoreTemplate(), nullptr);
  EXPECT_NE(copy.FluorophoreTemplate(), L.FluorophoreTemplate());
  EXPECT_TRUE(copy.FluorophoreTemplate()->Equals(L.FluorophoreTemplate()));
  EXPECT_DOUBLE_EQ(TimeDecayFactor(*copy.FluorophoreTemplate(), 2, 5400.0),
                   TimeDecayFactor(*L.FluorophoreTemplate(), 2, 5400.0));
  // Copying from a solver without one removes it.
  CLammIdeal none;
  copy.CopySettings(none);
  EXPECT_EQ(copy.FluorophoreTemplate(), nullptr);
}

}  // namespace
