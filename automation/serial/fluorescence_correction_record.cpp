#include "automation/serial/fluorescence_correction_record.h"

#include <cstdio>

namespace {

class NoCorrections : public IFluorescenceCorrections {
 public:
  FluorescenceCorrectionValues Get() const override { return values_; }
  void Set(const FluorescenceCorrectionValues& values) override { values_ = values; }

 private:
  FluorescenceCorrectionValues values_;
};

NoCorrections g_standIn;
IFluorescenceCorrections* g_corrections = &g_standIn;

std::string Item(const char* format, double value) {
  char text[96];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

IFluorescenceCorrections& FluorescenceCorrections() { return *g_corrections; }

void SetFluorescenceCorrections(IFluorescenceCorrections* corrections) {
  g_corrections = corrections ? corrections : &g_standIn;
}

std::string FloatingCorrectionsLine(const FluorescenceCorrectionValues& v) {
  const bool bleaching = v.timeDependentOn && v.photobleachingOn;
  const bool any = (v.convolutionOn && v.convolutionFloating) || (v.shadowOn && v.shadowFloating) ||
                   (bleaching && v.alimFloating) || (v.timeDependentOn && v.kbleachFloating) ||
                   (v.gradientOn && v.gradientFloating);
  if (!any) return {};
  std::string line = "\t\t\t";
  if (v.convolutionOn && v.convolutionFloating) line += Item("convol = %.3f |", v.convolutionWidth);
  if (v.shadowOn && v.shadowFloating) line += Item("shadow = %.3f |", v.shadow);
  if (bleaching && v.kbleachFloating) line += Item(" - kbleach = %.4f 1/h (floating)", v.kbleach);
  if (bleaching && v.alimFloating) line += Item(" - Alim = %.4f %% (floating)", 100.0 * v.alim);
  if (v.timeDependentOn && v.driftOn && v.driftFloating)
    line += Item(" - drift = %.3f %%/h (floating)", 100.0 * v.drift);
  if (v.gradientOn && v.gradientFloating) line += Item("gradient = %.3f", v.gradient);
  return line + "\t\t\t\n";
}
