#include "app/commands/model/wiener_skew_entries.h"

#include <string>
#include <vector>

#include "app/dialogs/matrix_dialogs.h"
#include "data/wiener_skew.h"
#include "fit/fit_report_inputs.h"
#include "fit/fit_vector.h"
#include "platform/user_interface.h"

void ProvideWienerFitOptions(FitOptionEntries& entries) {
  WienerSkewSettings& w = CurrentWienerSkew();
  if (w.use && w.fit) entries.entry[kFitOptionWienerMagnitude] = {true, &w.magnitude};
}

bool AskWienerSkewingParameters(TXLAWindow& window) {
  (void)window;
  WienerSkewSettings& w = CurrentWienerSkew();
  const std::vector<std::string> labels = {"mag (dr/(dw/dr)) (1e-6cm^2ml/mg):", "signal per mg/ml:"};
  for (;;) {
    // Two rows of one cell: the magnitude with its fit switch, the signal
    // per concentration without one.
    float magnitude[2] = {0, 1e6f * w.magnitude}, signal[2] = {0, w.signalPerConcentration};
    float* values[3] = {nullptr, magnitude, signal};
    int fitMagnitude[2] = {0, w.fit ? 1 : 0}, fitSignal[2] = {0, 0};
    int* fitFlags[3] = {nullptr, fitMagnitude, fitSignal};
    int hasFitMagnitude[2] = {0, 1}, hasFitSignal[2] = {0, 0};
    int* hasFit[3] = {nullptr, hasFitMagnitude, hasFitSignal};
    if (GetMatrixFitBox::Run(2, 1, values, nullptr, fitFlags, hasFit, labels, "Wiener skewing parameters:") &&
        TakeWienerSkewEntries(magnitude[1], fitMagnitude[1] != 0, signal[1]))
      return true;
    if (!platform::AskYes("Error", "sorry: Wiener skewing parameter error - try again?")) {
      w.use = 0;
      return false;
    }
  }
}

void FillWienerReportInputs(FitReportInputs& in) {
  const WienerSkewSettings& w = CurrentWienerSkew();
  in.fds.wienerOn = w.use != 0;
  in.fds.wienerFit = w.fit != 0;
  in.fds.wienerMagnitude = w.magnitude;
  in.fds.wienerSignal = w.signalPerConcentration;
}
