// The c(M) variants with prior knowledge of the molar-mass relation: a
// diffusion coefficient independent of M (buoyant molar mass), a power law
// s(M) = a M^b, and vbar(M) = v0 + a (M / 10^s)^(1/3). The relations are
// applied by the c(M) run; the commands choose them and take their values.
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/commands/model/model_commands.h"
#include "app/window/txla_window.h"
#include "distributions/hydrodynamics.h"
#include "fit/model_ids.h"
#include "fit/model_selector.h"
#include "platform/error_box.h"
#include "platform/user_interface.h"

namespace {

// Asks one value, showing the one in use; false on Cancel.
bool Ask(double& value, const char* prompt) {
  float answer = static_cast<float>(value);
  if (!InputFloat(&answer, answer, true, prompt, nullptr)) return false;
  value = answer;
  return true;
}

}  // namespace

void TXLAWindow::CmCMInvariantDModel() {
  if (RefuseDlsData()) return;
  CmContinuousCMModel();
  ModelSelectorFlags& m = gModelSelectorFlags;
  m.CMInvariantDModel = 1;
  m.ElectrophoresisCVModel = 0;
  CheckMenuItem(kCmCMInvariantDModel, true);
  platform::Tell("", "distribution will be c(Mbuoyant)");
}

void TXLAWindow::CmCMPowerLawModel() {
  if (RefuseDlsData()) return;
  CmContinuousCMModel();
  ModelSelectorFlags& m = gModelSelectorFlags;
  m.CMPowerLawModel = 1;
  CheckMenuItem(kCmCMPowerLawModel, true);
  HydroModelConstants& h = HydroConstants();
  double a = h.powerLawA, b = h.powerLawB;
  if (Ask(a, "Using power-law s(M) = a*M^b. Enter a:") && Ask(b, "Using power-law s(M) = a*M^b. Enter b:")) {
    platform::Tell("", "using power law s(M) \n(disregard f/f0 and viscosity entry)");
    h.powerLawA = a;
    h.powerLawB = b;
  } else {
    platform::Tell("", "information missing, switching off s(M)");
    m.CMPowerLawModel = 0;
    CheckMenuItem(kCmCMPowerLawModel, false);
  }
}

void TXLAWindow::CmCMPriorVbarModel() {
  if (RefuseDlsData()) return;
  CmContinuousCMModel();
  ModelSelectorFlags& m = gModelSelectorFlags;
  m.CMPriorVbarModel = 1;
  CheckMenuItem(kCmCMPriorVbarModel, true);
  platform::Tell("", "using vbar(M)= v0 + a*[(M/10^s)]^1/3");
  HydroModelConstants& h = HydroConstants();
  double v0 = h.vbarOffset, a = h.vbarIncrement, scale = h.vbarMassExponent;
  if (Ask(v0, "Enter zero offset v0 (M=0):") && Ask(a, "Enter increment a:") && Ask(scale, "Enter M-scale s:")) {
    platform::Tell("", "using vbar(M) relationship \n(disregard vbar entry)");
    h.vbarOffset = v0;
    h.vbarIncrement = a;
    // Truncated to an integer exponent; an answer beyond the integers
    // keeps the nearest one rather than an undefined conversion.
    constexpr double lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
    if (!std::isnan(scale)) h.vbarMassExponent = static_cast<int>(std::clamp(std::trunc(scale), lo, hi));
  } else {
    platform::Tell("", "information missing, switching off vbar(M)");
    m.CMPriorVbarModel = 0;
    CheckMenuItem(kCmCMPriorVbarModel, false);
  }
}
