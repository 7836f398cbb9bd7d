#include "distributions/conti_context.h"

#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"

#include "platform/error_box.h"
#include "platform/user_interface.h"

ContiRunContext& ContiContext() {
  static ContiRunContext context;
  return context;
}

bool SerialFitRunning() { return gSerialFitSettings.running != 0; }

bool FitRunning() { return gFitEngineState.fitRunning != 0; }

void UpdateContiShapeFromModel(bool bufferConcentrationFitted) {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  ContiRunContext& c = ContiContext();
  c.twoDimensional = m.AnyCsff0Model();
  // A fixed buffer concentration is not among the solved amplitudes: only a
  // fitted one takes the place of amplitude 1.
  c.firstAmplitudeSeparate =
      m.FirstPointOutsideDistribution(bufferConcentrationFitted, Conti().hybridDiscrete != 0);
  c.timeCourse = m.DlsIRhTimeCourseModel;
}

void ContiErrorOrCode(const std::string& text, int serialCode) {
  if (SerialFitRunning()) {
    gSerialFitSettings.errorCode = serialCode;
    return;
  }
  ErrorBox(text.c_str(), false);
}

void ContiStatusLine(int y, const std::string& text) {
  if (!ContiContext().drawingEnabled) return;
  if (DistributionPlotHost* host = GetDistributionPlotHost()) host->DrawText(10, y, text);
  platform::UI().StatusText(text);
}
