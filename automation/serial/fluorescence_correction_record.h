#pragma once
// The fluorescence-detection corrections (radial convolution, excitation
// shadow, photobleaching, magnification drift, radial gradient) as the
// serial fits see them: a record they save at the start and put back, and
// whose floating values they report per set. The corrections themselves
// live elsewhere; until they register their own, a stand-in holds a record
// with every correction off, so saving and restoring change nothing.
#include <string>

struct FluorescenceCorrectionValues {
  bool convolutionOn = false, convolutionFloating = false;
  float convolutionWidth = 0.0f;
  bool shadowOn = false, shadowFloating = false;
  float shadow = 0.0f;
  bool timeDependentOn = false, photobleachingOn = false;
  bool kbleachFloating = false, alimFloating = false;
  float kbleach = 0.0f;  // 1/h
  float alim = 0.0f;     // fraction
  bool driftOn = false, driftFloating = false;
  float drift = 0.0f;  // fraction per hour
  bool gradientOn = false, gradientFloating = false;
  float gradient = 0.0f;
};

class IFluorescenceCorrections {
 public:
  virtual ~IFluorescenceCorrections() = default;
  virtual FluorescenceCorrectionValues Get() const = 0;
  virtual void Set(const FluorescenceCorrectionValues& values) = 0;
};

IFluorescenceCorrections& FluorescenceCorrections();
// Installs the corrections' own record (not owned); nullptr restores the stand-in.
void SetFluorescenceCorrections(IFluorescenceCorrections* corrections);

// The summary line of the corrections that float: "\t\t\t", the items that
// apply, "\t\t\t\n"; empty when none of convolution, shadow, photobleaching
// (kbleach or Alim) or gradient floats.
std::string FloatingCorrectionsLine(const FluorescenceCorrectionValues& v);
