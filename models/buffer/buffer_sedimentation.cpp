#include "models/buffer/buffer_sedimentation.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "distributions/conti_run.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report_inputs.h"
#include "fit/fit_vector.h"
#include "fit/lamm_scan_output.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "models/buffer/buffer_sed_solver.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"
#include "platform/sounds.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

BufferSedSettings gBufferSedSettings;
double BufferPassD = 0.0;
double BufferPassS = 0.0;
double BufferPassAmplitude = 0.0;
double BufferPassMeniscus = 0.0;
double BufferPassBottom = 0.0;
bool BufferPassIsReference = false;

namespace {

constexpr double kGasConstant = 8.31451e7;  // erg / (mol K)

BufferSedSettings& B() { return gBufferSedSettings; }

bool ContinuousModel() { return gModelSelectorFlags.DistributionModel != 0; }
bool TIAndRINoise() { return gFitEngineState.fitTINoise && gModelParams.riNoiseFit; }

bool IncompatibleModel() {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  return f.LsgStarWith1DiscreteModel || f.HybridCSLsgModel || f.CSWith1DiscreteModel ||
         f.CSWith1DiscreteComponent || f.NonidealCSModel || f.CSWithMsTableModel ||
         CurrentScanSet().equilibriumMode || CurrentDataTypeFlags().dls ||
         LammSettings().experimentalInitialDistribution || f.LsgExtrapolationModel ||
         f.SedTransformModel || f.ZoneCentrifugationModel || f.ZoneCentrifugationCSModel ||
         f.ZoneCentrifugationLsgModel || f.ExternalLoadingCellModel || f.ElectrophoresisCVModel ||
         f.ElectrophoresisLammModel || f.ElectrophoresisLsgModel;
}

double RT() {
  if (CurrentScanSet().count < 1) return kBufferDefaultRT;
  return kGasConstant * gSolutionConditions.temperature;
}

// s, D and Mb of both sides made consistent with the parametrisation.
void MakeConsistent() {
  BufferSedSettings& b = B();
  const double rt = RT();
  if (gFitEngineState.molarMassParameters) {
    for (double* mb : {&b.SampleBufferMb, &b.ReferenceBufferMb})
      if (*mb < 10.0) *mb = 10.0;
    b.SampleBufferD = std::fabs(b.SampleBufferS) * 1e-6 * rt / std::fabs(b.SampleBufferMb);
    b.ReferenceBufferD = std::fabs(b.ReferenceBufferS) * 1e-6 * rt / std::fabs(b.ReferenceBufferMb);
    if (b.SampleBufferS < 0.0) b.SampleBufferS = -b.SampleBufferS;
  } else {
    struct Side {
      double *D, *Mb, *s;
    };
    for (Side side : {Side{&b.SampleBufferD, &b.SampleBufferMb, &b.SampleBufferS},
                      Side{&b.ReferenceBufferD, &b.ReferenceBufferMb, &b.ReferenceBufferS}}) {
      if (*side.D < 0.0) *side.D = 0.01;
      if (*side.D > 1000.0) *side.D = 1000.0;
      *side.Mb = *side.D > 0.0 ? 1e-6 * *side.s * rt / *side.D : 10.0;
      if (*side.Mb < 10.0) *side.Mb = 10.0;
    }
  }
  if (b.RelativeConcentration == 0.0) b.RelativeConcentration = 1e-6;
}

double PassD(double d) {
  const double D = std::fabs(d) * 1e-7;
  return D == 0.0 ? 1e-10 : D;
}

enum class Destination { Subtract, AddToModels, SpeciesCurves, Kernel };

Destination CurrentDestination() {
  if (B().SubtractFromData) return Destination::Subtract;
  if (ContinuousModel()) return Destination::Kernel;
  const ScanSet& ss = CurrentScanSet();
  // The buffer goes where the species of this evaluation go.
  return CurvesOnCommonGrid() && ss.gridLength > 0 ? Destination::SpeciesCurves
                                                    : Destination::AddToModels;
}

float* DestinationRow(Destination d, int j) {
  ScanSet& ss = CurrentScanSet();
  if (d == Destination::Kernel) {
    float*** k = WorkBlock().lammSolutions;
    return k && k[1] ? k[1][j] : nullptr;
  }
  if (d == Destination::SpeciesCurves) {
    std::vector<float*>& c = ss.species[kBufferSpecies].onGridPerScan;
    return static_cast<int>(c.size()) > j ? c[j] : nullptr;
  }
  return nullptr;
}

// The buffer slot's curves or the kernel column start empty, so that a pass
// that writes nothing (amplitude 0) leaves no profile of an earlier
// evaluation behind.
void ClearDestination(Destination d) {
  ScanSet& ss = CurrentScanSet();
  if (d == Destination::SpeciesCurves) EnsureSpeciesCurves(kBufferSpecies);
  if (d != Destination::SpeciesCurves && d != Destination::Kernel) return;
  for (int j = 1; j <= ss.count; ++j)
    if (float* row = DestinationRow(d, j))
      for (int p = 1; p <= ss.gridLength; ++p) row[p] = 0.0f;
}

double ScanTime(const ScanRecord& rec) {
  return LammSettings().rampRotorSpeed && !CurrentDataTypeFlags().dls ? rec.time : rec.timeRead;
}

}  // namespace

BufferSedHooks& CurrentBufferSedHooks() {
  static BufferSedHooks hooks;
  return hooks;
}

void InstallBufferSedimentationHooks(std::function<FitHost*()> host) {
  ModelEvaluationHooks& m = CurrentModelEvaluationHooks();
  m.bufferSedimentationOn = [] { return gBufferSedSettings.BufferSedOn; };
  m.bufferSignal = []() -> double& { return gBufferSedSettings.BufferSignal; };
  m.updateBufferSedimentation = [](FitHost* h) { UpdateBufferSedimentation(h); };
  ContiRunHooks& c = ContiHooks();
  c.updateBufferSedimentation = [host] {
    // A floating amplitude is found by the c(s) solve: the column holds a
    // unit profile.
    if (gBufferSedSettings.FloatBufferSignal) gBufferSedSettings.BufferSignal = 1.0;
    UpdateBufferSedimentation(host ? host() : nullptr);
  };
  c.bufferConcentrationSolved = [](double concentration) {
    gBufferSedSettings.BufferSignal = concentration;
  };
  PublishBufferSedimentation();
}

void PublishBufferSedimentation() {
  ContiRunHooks& c = ContiHooks();
  c.bufferCorrection = B().BufferSedOn;
  c.bufferConcentrationFitted = B().BufferSedOn && B().FloatBufferSignal;
}

void SetBufferSedimentationMenuCheck() {
  if (CurrentBufferSedHooks().checkMenuItem) CurrentBufferSedHooks().checkMenuItem(false);
  if (!gModelSelectorFlags.LammDiscreteModel) return;
  ModelParams& mp = gModelParams;
  const int n = kBufferSpecies;
  mp.included[n] = 0;
  mp.concentrationFit[n] = mp.massOrDFit[n] = mp.sFit[n] = 0;
  int* F = gModelParameterVector.F;
  F[2 * n + n] = F[n] = F[n + n] = 0;
}

bool CheckBufferSedimentationModel() {
  BufferSedSettings& b = B();
  if (IncompatibleModel()) {
    platform::Tell("Attention",
                   "buffer sedimentation model is incompatible with this model\nswitching buffer sedimentation off");
    SetBufferSedimentationMenuCheck();
    b.BufferSedOn = false;
    PublishBufferSedimentation();
    return false;
  }
  if (!CurrentDataTypeFlags().interference && !b.InterferenceNoteShown) {
    platform::Tell("Attention", "Note: buffer sedimentation model is intended only for interference data");
    b.InterferenceNoteShown = true;
  }
  ModelParams& mp = gModelParams;
  const int n = kBufferSpecies;
  if (gModelSelectorFlags.LammDiscreteModel) {
    if (mp.massOrD[n] != 0.0f || mp.s[n] != 0.0f) {
      platform::Tell("Attention",
                     "Note: Component 4 of non-interacting model cannot be used with buffer sedimentation "
                     "model.\nSwitching off Component 4.");
      mp.massOrD[n] = mp.s[n] = 0.0f;
    }
    mp.included[n] = 1;
    // The slot's concentration is the buffer's amplitude only where the
    // loadings are solved linearly; otherwise the amplitude is a fit
    // option of its own and the slot's concentration changes no point of
    // the model: fitted, it would be a quantity no data determine.
    mp.concentrationFit[n] = b.FloatBufferSignal && mp.concentrationsLinear ? 1 : 0;
    mp.massOrDFit[n] = mp.sFit[n] = 0;
    gModelParameterVector.F[n] = gModelParameterVector.F[2 * n] = 0;
  }
  if (ContinuousModel() && !TIAndRINoise()) b.FloatBufferSignal = true;
  PublishBufferSedimentation();
  return true;
}

void ApplyBufferSedimentationToFitFlags() {
  ModelParams& mp = gModelParams;
  const int n = kBufferSpecies;
  int* F = gModelParameterVector.F;
  if (gModelSelectorFlags.LammDiscreteModel) {
    if (mp.concentrationsLinear)
      for (int i = 1; i < n; ++i)
        if (mp.included[i]) mp.concentrationFit[i] = F[2 * n + i] = 1;
    mp.concentrationFit[n] = F[3 * n] = B().FloatBufferSignal ? 1 : 0;
  }
  ComponentDefaultsContext context;
  context.bufferSedimentation = B().BufferSedOn;
  context.bufferSedimentationFit = B().FloatBufferSignal;
  context.equilibriumMode = CurrentScanSet().equilibriumMode != 0;
  context.dlsData = CurrentDataTypeFlags().dls != 0;
  CheckComponentDefaults(context);
  PackModelParameters();
  if (B().BufferSedOn && CurvesOnCommonGrid()) EnsureSpeciesCurves(n);
  PublishBufferSedimentation();
}

void SimulateBufferSedimentation(FitHost* host) {
  ScanSet& ss = CurrentScanSet();
  if (ss.count < 1 || BufferPassAmplitude == 0.0) return;
  BufferSedPass pass;
  pass.D = BufferPassD;
  pass.s = BufferPassS;
  pass.amplitude = BufferPassAmplitude;
  pass.meniscus = BufferPassMeniscus;
  pass.bottom = BufferPassBottom;
  const ScanRecord& first = ss.records[ss.order[1]];
  pass.rpm = ss.records[ss.order[ss.count]].rpm;
  // The ramp exists only while scan times are elapsed times; with times
  // from w^2 t the scans stand for a rotor at full speed from the start.
  if (LammSettings().rampRotorSpeed && first.accelerationTime >= 10.0 && first.acceleration > 0) {
    pass.rampRate = first.acceleration;
    pass.rampEnd = first.accelerationTime;
  }
  for (int pos = 1; pos <= ss.count; ++pos) pass.outputTimes.push_back(ScanTime(ss.records[ss.order[pos]]));

  const Destination where = CurrentDestination();
  const double sign = BufferPassIsReference ? -B().SignalSign : B().SignalSign;
  std::vector<double> out(CBufferSedSolver::kNodes + 1);
  std::vector<float> onScan;
  static CBufferSedSolver solver;
  const double* r = solver.Radii();
  const auto sink = [&](int index, const double* c) {
    const int j = ss.order[index + 1];
    for (int i = 1; i <= CBufferSedSolver::kNodes; ++i) out[i] = sign * c[i];
    const int N = CBufferSedSolver::kNodes;
    switch (where) {
      case Destination::Subtract:
      case Destination::AddToModels: {
        float* target = where == Destination::Subtract ? ss.signals[j] : ss.model[j];
        if (!target || !ss.radii[j]) return;
        onScan.assign(static_cast<std::size_t>(ss.points[j]) + 1, 0.0f);
        InterpolateCellProfile(ss.points[j], ss.radii[j], onScan.data(), N, r, out.data());
        const float f = where == Destination::Subtract ? -1.0f : 1.0f;
        for (int p = 1; p <= ss.points[j]; ++p) target[p] += f * onScan[p];
        return;
      }
      case Destination::SpeciesCurves:
      case Destination::Kernel: {
        float* row = DestinationRow(where, j);
        if (!row) return;
        // The sample pass writes, the reference pass adds.
        if (BufferPassIsReference)
          InterpolateCellProfileAdd(ss.gridLength, ss.grid, row, N, r, out.data());
        else
          InterpolateCellProfile(ss.gridLength, ss.grid, row, N, r, out.data());
        return;
      }
    }
  };
  const auto stop = [] {
    if (!KeyPressed()) return false;
    platform::StopFlag() = true;
    return true;
  };
  if (solver.Run(pass, sink, stop) == BufferSedOutcome::Singular) {
    PlaySoundError();
    if (host)
      host->MessageBox("ERROR in simulation", "singular tridiagonal matrix in buffer sedimentation!",
                       platform::BoxIcon::None);
  }
}

void UpdateBufferSedimentation(FitHost* host) {
  BufferSedSettings& b = B();
  if (!b.BufferSedOn) return;
  if (!CheckBufferSedimentationModel()) return;
  ClearDestination(CurrentDestination());
  if (CurrentSpeedProfile.Active()) {
    // The buffer solver knows one constant rotor speed (and its ramp).
    if (host)
      host->MessageBox("ERROR in simulation", "Cannot account for variable rotor speed in this model!",
                       platform::BoxIcon::None);
    return;
  }
  MakeConsistent();
  const double meniscus = gModelParams.meniscus;
  BufferPassBottom = gModelParams.bottom;

  BufferPassD = PassD(b.SampleBufferD);
  BufferPassS = b.SampleBufferS;
  BufferPassMeniscus = meniscus;
  BufferPassAmplitude = b.BufferSignal;
  BufferPassIsReference = false;
  SimulateBufferSedimentation(host);
  if (platform::StopFlag()) return;

  if (b.DifferentReferenceBuffer) {
    BufferPassD = PassD(b.ReferenceBufferD);
    BufferPassS = b.ReferenceBufferS;
  }
  BufferPassMeniscus = meniscus - b.MeniscusDifference;
  BufferPassAmplitude = b.DifferentReferenceBuffer || b.MeniscusMismatch
                            ? b.BufferSignal / b.RelativeConcentration
                            : 0.0;
  BufferPassIsReference = true;
  SimulateBufferSedimentation(host);
}

void SubtractBufferSedimentationFromData(FitHost* host) {
  BufferSedSettings& b = B();
  // After a fit whose species amplitudes were solved linearly the signal
  // stands at 1 and the buffer's amplitude is the slot's scale factor.
  if (gModelSelectorFlags.LammDiscreteModel && gModelParams.concentrationsLinear)
    b.BufferSignal = std::fabs(gModelParams.scaleFactor[kBufferSpecies]);
  b.SubtractFromData = true;
  UpdateBufferSedimentation(host);
  b.SubtractFromData = false;
}

void SwitchOffBufferSedimentation() {
  B().BufferSedOn = false;
  SetBufferSedimentationMenuCheck();
  PublishBufferSedimentation();
}

// ---- fit engine, report and saved parameters ----------------------------------

void ProvideBufferFitOptions(FitOptionEntries& entries) {
  BufferSedSettings& b = B();
  if (!b.BufferSedOn) return;
  FitOptionEntry* e = entries.entry;
  // The amplitude is a fit parameter only where no linear solve finds it
  // (the concentrations of the discrete species solved algebraically, or
  // the c(s) kernel column).
  if (b.FloatBufferSignal && !gModelParams.riNoiseFit && !gModelParams.concentrationsLinear &&
      !ContinuousModel()) {
    e[kFitOptionBufferSignal].present = true;
    e[kFitOptionBufferSignal].d = &b.BufferSignal;
  }
  if (b.FloatSampleD) {
    e[kFitOptionBufferSize].present = true;
    e[kFitOptionBufferSize].massValue = &b.SampleBufferMb;
    e[kFitOptionBufferSize].diffusionValue = &b.SampleBufferD;
  }
  if (b.FloatSampleS) {
    e[kFitOptionBufferS].present = true;
    e[kFitOptionBufferS].d = &b.SampleBufferS;
  }
  if (b.MeniscusMismatch && b.FloatMeniscusDifference) {
    e[kFitOptionMeniscusDifference].present = true;
    e[kFitOptionMeniscusDifference].d = &b.MeniscusDifference;
  }
  if (b.MeniscusMismatch && b.FloatRelativeConcentration) {
    e[kFitOptionRelativeConcentration].present = true;
    e[kFitOptionRelativeConcentration].d = &b.RelativeConcentration;
  }
  if (b.DifferentReferenceBuffer && b.FloatReferenceD) {
    e[kFitOptionReferenceSize].present = true;
    e[kFitOptionReferenceSize].massValue = &b.ReferenceBufferMb;
    e[kFitOptionReferenceSize].diffusionValue = &b.ReferenceBufferD;
  }
  if (b.DifferentReferenceBuffer && b.FloatReferenceS) {
    e[kFitOptionReferenceS].present = true;
    e[kFitOptionReferenceS].d = &b.ReferenceBufferS;
  }
}

void FillBufferReportInputs(FitReportInputs& in) {
  const BufferSedSettings& b = B();
  FitReportInputs::Buffer& r = in.buffer;
  r.on = b.BufferSedOn;
  r.modeSwitch = b.ExcessInSample;
  r.signal = b.BufferSignal;
  r.signalFit = b.FloatBufferSignal;
  r.d = b.SampleBufferD;
  r.s = b.SampleBufferS;
  r.mb = b.SampleBufferMb;
  r.sizeFit = b.FloatSampleD;
  r.sFit = b.FloatSampleS;
  r.meniscusMismatch = b.MeniscusMismatch;
  r.meniscusDifference = b.MeniscusDifference;
  r.concentrationRatio = b.RelativeConcentration;
  r.meniscusDifferenceFit = b.FloatMeniscusDifference;
  r.concentrationRatioFit = b.FloatRelativeConcentration;
  r.reference = b.DifferentReferenceBuffer;
  r.refD = b.ReferenceBufferD;
  r.refS = b.ReferenceBufferS;
  r.refMb = b.ReferenceBufferMb;
  r.refSizeFit = b.FloatReferenceD;
  r.refSFit = b.FloatReferenceS;
}

std::string BufferComponentDisplayLine() {
  const BufferSedSettings& b = B();
  if (!b.BufferSedOn) return "";
  const bool mass = gFitEngineState.molarMassParameters != 0;
  std::string s;
  auto add = [&s](const char* format, double value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    s += text;
  };
  add("buffer: %.3f", b.ExcessInSample ? b.BufferSignal : -b.BufferSignal);
  if (b.FloatBufferSignal) s += "(fl)";
  auto floated = [&add, &s](bool on, const char* format, double value) {
    if (!on) return;
    add(format, value);
    s += "(fl)";
  };
  floated(b.FloatSampleD && !mass, ",D=%.2f", b.SampleBufferD);
  floated(b.FloatSampleS, ",s=%.4f", b.SampleBufferS);
  floated(b.FloatSampleD && mass, ", Mb=%.1f", b.SampleBufferMb);
  if (b.MeniscusMismatch || b.DifferentReferenceBuffer) {
    floated(b.FloatMeniscusDifference, ", meniscus diff (s-r)=%.4f", b.MeniscusDifference);
    floated(b.FloatRelativeConcentration, ", conc. ratio (s/r)=%.3f", b.RelativeConcentration);
  }
  if (b.DifferentReferenceBuffer) {
    floated(b.FloatReferenceD && !mass, ", refD=%.2f", b.ReferenceBufferD);
    floated(b.FloatReferenceS, ", refs=%.4f", b.ReferenceBufferS);
    floated(b.FloatReferenceD && mass, ", refMb=%.2f", b.ReferenceBufferMb);
  }
  return s;
}

namespace {

// Lines 100-118 in record order.
struct SavedLine {
  bool* flag;
  double* value;
};

std::vector<SavedLine> SavedLines() {
  BufferSedSettings& b = B();
  return {{&b.SubtractFromData, nullptr},       {nullptr, &b.SampleBufferD},
          {nullptr, &b.SampleBufferMb},         {nullptr, &b.SampleBufferS},
          {nullptr, &b.BufferSignal},           {&b.MeniscusMismatch, nullptr},
          {nullptr, &b.MeniscusDifference},     {nullptr, &b.RelativeConcentration},
          {&b.DifferentReferenceBuffer, nullptr}, {nullptr, &b.ReferenceBufferD},
          {nullptr, &b.ReferenceBufferMb},      {nullptr, &b.ReferenceBufferS},
          {&b.FloatSampleD, nullptr},           {&b.FloatSampleS, nullptr},
          {&b.FloatBufferSignal, nullptr},      {&b.FloatMeniscusDifference, nullptr},
          {&b.FloatRelativeConcentration, nullptr}, {&b.FloatReferenceD, nullptr},
          {&b.FloatReferenceS, nullptr}};
}

}  // namespace

float BufferSavedValue(int line) {
  const BufferSedSettings& b = B();
  switch (line) {
    case 96: return b.BufferSedOn ? 1.0f : 0.0f;
    case 97: return b.ExcessInSample ? 1.0f : 0.0f;
    case 98: return b.ExcessInReference ? 1.0f : 0.0f;
    case 99: return static_cast<float>(b.SignalSign);
    default: break;
  }
  if (line < 100 || line > 118) return 0.0f;
  const SavedLine l = SavedLines()[static_cast<std::size_t>(line - 100)];
  return l.flag ? (*l.flag ? 1.0f : 0.0f) : static_cast<float>(*l.value);
}

void SetBufferSavedValue(int line, float value, bool present) {
  BufferSedSettings& b = B();
  const bool on = present && value == 1.0f;
  switch (line) {
    case 96:
      b.BufferSedWasOn = b.BufferSedOn;
      b.BufferSedOn = on;
      return;
    case 97: b.ExcessInSample = present ? value == 1.0f : true; return;
    case 98: b.ExcessInReference = on; return;
    case 99: b.SignalSign = !present || value == 1.0f ? 1.0 : -1.0; return;
    case 100:
      // The subtraction is a one-shot of its command: a reloaded "on" would
      // take the buffer signal out of the scans at every evaluation.
      b.SubtractFromData = false;
      return;
    default: break;
  }
  if (line < 100 || line > 118) return;
  const SavedLine l = SavedLines()[static_cast<std::size_t>(line - 100)];
  if (l.flag)
    *l.flag = on;
  else if (present)
    *l.value = value;
}

void AfterBufferReload() {
  BufferSedSettings& b = B();
  if (b.BufferSedOn && !b.BufferSedWasOn && !CheckBufferSedimentationModel()) b.BufferSedOn = false;
  // The component defaults of the reload did not know the buffer slot.
  if (b.BufferSedOn)
    ApplyBufferSedimentationToFitFlags();
  else if (b.BufferSedWasOn)
    SetBufferSedimentationMenuCheck();
  if (CurrentBufferSedHooks().checkMenuItem) CurrentBufferSedHooks().checkMenuItem(b.BufferSedOn);
  PublishBufferSedimentation();
}
