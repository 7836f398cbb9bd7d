#include "app/dialogs/lamm_params_dialog.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/window/txla_window.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "data/speed_steps_at_load.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "fit/model_selector.h"
#include "fit/scan_times.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

namespace {

using Kind = FormControl::Kind;

constexpr int kAlgorithmGroup = 1;
constexpr int kTemporalGroup = 2;
constexpr const char* kCaption = "Numerical Control of Lamm Equation Solution";
constexpr const char* kAppCaption = "TARNEL";

std::string Format(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

std::string FormatInt(int v) { return std::to_string(v); }

FormControl Edit(int id, const char* label, std::string text, int row, int column) {
  FormControl c;
  c.id = id;
  c.kind = Kind::Edit;
  c.label = label;
  c.text = std::move(text);
  c.row = row;
  c.column = column;
  return c;
}

FormControl Button(int id, Kind kind, const char* label, bool on, int row, int column, int group = 0) {
  FormControl c;
  c.id = id;
  c.kind = kind;
  c.label = label;
  c.state = on ? 1 : 0;
  c.row = row;
  c.column = column;
  c.group = group;
  return c;
}

// The edits whose text must be a non-negative number, in the order they
// are tested.
constexpr int kNonNegative[] = {612, 614, 616, 617, 619, 618, 627, 628, 629, 835, 834};
constexpr int kGridSizes[] = {616, 619, 618};

// The value is above 0, or 0 written with a leading "0"; never NaN or infinite.
bool NonNegativeNumber(const std::string& text) {
  const double v = std::atof(text.c_str());
  if (!std::isfinite(v)) return false;
  return v > 0 || (v == 0 && !text.empty() && text[0] == '0');
}

// Any finite number; 0 only when written with a leading "0".
bool Number(const std::string& text) {
  const double v = std::atof(text.c_str());
  if (!std::isfinite(v)) return false;
  return v != 0 || (!text.empty() && text[0] == '0');
}

bool Refuse() {
  platform::UI().Beep();
  platform::Tell("Input Error", "Invalid Entry", platform::BoxIcon::Warning);
  return false;
}

// The values that count as a change: lines 1-26 and 28 of the preference
// file, each in its own type (check rotor acceleration, line 27, does not
// count).
struct Compared {
  LammSolverSettings s;
  float tolerance = 0;

  bool operator==(const Compared& o) const {
    const LammSolverSettings& a = s;
    const LammSolverSettings& b = o.s;
    return a.automaticSwitchS == b.automaticSwitchS && a.shutOffBackDiffusion == b.shutOffBackDiffusion &&
           a.backDiffusionLevel == b.backDiffusionLevel && a.automaticGridSize == b.automaticGridSize &&
           a.feGridSize == b.feGridSize && a.pointsPerSigma == b.pointsPerSigma &&
           a.gridSizeUpperLimit == b.gridSizeUpperLimit && a.gridSizeLowerLimit == b.gridSizeLowerLimit &&
           a.timesFromW2t == b.timesFromW2t && a.automaticAlgorithm == b.automaticAlgorithm &&
           a.fixedTimeStep == b.fixedTimeStep && a.claverieAlgorithm == b.claverieAlgorithm &&
           a.movingHatAlgorithm == b.movingHatAlgorithm && a.automaticSGrid == b.automaticSGrid &&
           a.gridS == b.gridS && tolerance == o.tolerance && a.maxDcOverC == b.maxDcOverC &&
           a.automaticSwitchSOptimised == b.automaticSwitchSOptimised &&
           a.optimiseTimeInvariantGrid == b.optimiseTimeInvariantGrid &&
           a.experimentalInitialDistribution == b.experimentalInitialDistribution &&
           a.truncateGrid == b.truncateGrid && a.truncationLevel == b.truncationLevel &&
           a.simulateTimeResolution == b.simulateTimeResolution &&
           a.simulateRadialResolution == b.simulateRadialResolution && a.scanVelocity == b.scanVelocity &&
           a.convolutionRange == b.convolutionRange &&
           a.variableSpeedDiffusionShutOff == b.variableSpeedDiffusionShutOff;
  }
};

Compared Snapshot() { return Compared{LammSettings(), gFitEngineState.maxRelativeChange}; }

// Intensity data and the zone-centrifugation models start from the model's
// own initial distribution.
void ForceModelInitialDistribution() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (!CurrentDataTypeFlags().intensity && !m.ZoneCentrifugationModel && !m.ZoneCentrifugationCSModel &&
      !m.ZoneCentrifugationLsgModel)
    return;
  LammSolverSettings& l = LammSettings();
  l.experimentalInitialDistribution = 0;
  l.modelInitialDistribution = 1;
}

bool InhomogeneousSolvent() {
  const StaticGridSolventHooks& h = CurrentStaticGridSolventHooks();
  return h.useInhomogeneousSolvent && h.useInhomogeneousSolvent();
}

// The confirmed entries against the texts the dialog showed: a field left
// as shown keeps its exact value (a text shows fewer digits than the
// value may have).
class Entries {
 public:
  Entries(const FormDialog& shown, const FormDialog& typed) : shown_(shown), typed_(typed) {}
  template <typename T>
  void Read(int id, T& value, double scale = 1.0) const {
    const FormControl* t = typed_.Find(id);
    const FormControl* s = shown_.Find(id);
    if (!t || (s && s->text == t->text)) return;
    value = static_cast<T>(std::atof(t->text.c_str()) * scale);
  }
  // Taken down to the integer below.
  void ReadCount(int id, std::int32_t& value) const {
    double v = value;
    Read(id, v);
    value = static_cast<std::int32_t>(std::floor(v));
  }
  void ReadLog(int id, double& value) const {
    const FormControl* t = typed_.Find(id);
    const FormControl* s = shown_.Find(id);
    if (!t || (s && s->text == t->text)) return;
    value = std::pow(10.0, std::atof(t->text.c_str()));
  }
  std::uint8_t State(int id) const {
    const FormControl* t = typed_.Find(id);
    return t && t->state ? 1 : 0;
  }

 private:
  const FormDialog& shown_;
  const FormDialog& typed_;
};

// Every scan's working time back to its recorded elapsed time.
void WorkingTimesFromElapsed() {
  const DataTypeFlags& f = CurrentDataTypeFlags();
  if (f.dls || f.linearGeometry) return;
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i) s.records[i].timeRead = s.records[i].time;
}

}  // namespace

LammPBox::LammPBox(const LammSolverSettings& l, float fitTolerance, bool profile) {
  form.templateId = 631;
  form.caption = kCaption;
  auto& c = form.controls;
  // Transfer order; left half columns 0-2, right half 3-5.
  c.push_back(Edit(612, "normalized s for automatic change", Format("%f", l.automaticSwitchS), 2, 0));
  c.push_back(Button(613, Kind::Check, "shut off back-diffusion", l.shutOffBackDiffusion, 7, 0));
  c.push_back(Edit(614, "level", Format("%.2e", l.backDiffusionLevel), 8, 0));
  c.push_back(Button(615, Kind::Check, "automatic dynamic grid size", l.automaticGridSize, 1, 3));
  c.push_back(Edit(616, "default FE grid size", FormatInt(l.feGridSize), 2, 3));
  c.push_back(Edit(617, "points per sigma", Format("%.1f", l.pointsPerSigma), 3, 3));
  c.push_back(Edit(619, "upper limit ", FormatInt(l.gridSizeUpperLimit), 4, 3));
  c.push_back(Edit(618, "lower limit", FormatInt(l.gridSizeLowerLimit), 5, 3));
  c.push_back(Button(620, Kind::Radio, "times from wwt", l.timesFromW2t, 8, 3, kTemporalGroup));
  c.push_back(Button(621, Kind::Radio, "ramp rotor speed", !l.timesFromW2t, 9, 3, kTemporalGroup));
  c.push_back(Button(924, Kind::Check, "check rotor acceleration", profile ? 0 : l.checkRotorAcceleration, 11, 3));
  c.push_back(Button(944, Kind::Radio, "using speedsteps", profile, 10, 3, kTemporalGroup));
  c.push_back(Button(622, Kind::Radio, "automatic finite element algorithm", l.automaticAlgorithm, 1, 0,
                     kAlgorithmGroup));
  c.push_back(Button(623, Kind::Check, "fix Lamm Eq. simulation timestep", l.fixedTimeStep, 12, 3));
  c.push_back(Button(624, Kind::Radio, "Claverie algorithm", l.claverieAlgorithm && !l.automaticAlgorithm, 4, 0,
                     kAlgorithmGroup));
  c.push_back(Button(625, Kind::Radio, "moving hat algorithm", l.movingHatAlgorithm && !l.automaticAlgorithm, 5,
                     0, kAlgorithmGroup));
  c.push_back(Button(626, Kind::Check, "automatic s_grid", l.automaticSGrid, 6, 0));
  c.push_back(Edit(627, "", Format("%.2f", l.gridS), 6, 0));
  c.push_back(Edit(628, "Tolerance", Format("%.3f", 100.0 * fitTolerance), 14, 0));
  c.push_back(Edit(629, "max dc/c", Format("%.2f", l.maxDcOverC), 13, 3));
  c.push_back(Button(630, Kind::Check, "Experimental Initial Distribution", l.experimentalInitialDistribution, 14, 3));
  c.push_back(Edit(639, "when optimized", Format("%.2f", l.automaticSwitchSOptimised), 3, 0));
  c.push_back(Button(640, Kind::Check, "optimize time-invariant grid spacing", l.optimiseTimeInvariantGrid, 6, 3));
  c.push_back(Button(641, Kind::Check, "dynamically truncate grid", l.truncateGrid, 7, 3));
  c.push_back(Edit(643, "", Format("%.2f", std::log10(l.truncationLevel)), 7, 3));
  c.push_back(Button(832, Kind::Check, "simulate time resolution", l.simulateTimeResolution, 10, 0));
  c.push_back(Button(833, Kind::Check, "simulate radial resolution", l.simulateRadialResolution, 11, 0));
  c.push_back(Edit(834, "radial range of convolution (cm)", Format("%.4f", l.convolutionRange), 12, 0));
  c.push_back(Edit(835, "scan velocity (cm/min)", Format("%.2f", l.scanVelocity), 13, 0));
  c.push_back(Edit(948, "Variable Speed D shut off at x-fold grid dist", Format("%.4f", l.variableSpeedDiffusionShutOff),
                   9, 0));
  // The five headed groups of the form; tolerance and the experimental
  // initial distribution stand below them.
  form.groupBoxes = {
      {"Finite Element Algorithm", 1, 0, 6, 3},
      {"Shut Off Diffusion", 7, 0, 3, 3},
      {"Account for Finite Resolution in ABS", 10, 0, 4, 3},
      {"Finite Element Spatial Discretization", 1, 3, 7, 3},
      {"Temporal Discretization", 8, 3, 6, 3},
  };
  form.canClose = &LammPBox::CanClose;
}

bool LammPBox::CanClose(const FormDialog& typed) {
  auto text = [&typed](int id) {
    const FormControl* c = typed.Find(id);
    return c ? c->text : std::string("0");
  };
  for (int id : kNonNegative)
    if (!NonNegativeNumber(text(id))) return Refuse();
  for (int id : kGridSizes)
    if (std::atof(text(id).c_str()) > kLargestLammGridSize) return Refuse();
  // Every solver refuses a step control that allows no change at all.
  if (std::atof(text(629).c_str()) == 0) return Refuse();
  if (!Number(text(643))) return Refuse();
  for (int id : {639, 948})
    if (!std::isfinite(std::atof(text(id).c_str()))) return Refuse();
  return true;
}

void TXLAWindow::CmLammEquationParameters() {
  LammSolverSettings& l = LammSettings();
  FitEngineState& fs = gFitEngineState;
  const LammSolverSettings before = l;
  ForceModelInitialDistribution();
  const Compared start = Snapshot();
  const bool profileBefore = CurrentSpeedProfile.Active();
  LammPBox box(l, fs.maxRelativeChange, profileBefore);
  const FormDialog shown = box.form;
  if (!RunFormDialog(box.form)) return;
  Entries in(shown, box.form);

  in.ReadLog(643, l.truncationLevel);
  in.Read(612, l.automaticSwitchS);
  in.Read(639, l.automaticSwitchSOptimised);
  l.truncateGrid = in.State(641);
  if (InhomogeneousSolvent())
    platform::Tell(
        kAppCaption,
        "make sure Lamm equation option 'dyanmically trucate grid' \nis not used when macromolecular flotation "
        "near meniscus can occur");
  l.shutOffBackDiffusion = in.State(613);
  in.Read(614, l.backDiffusionLevel);
  l.automaticGridSize = in.State(615);
  in.ReadCount(616, l.feGridSize);
  l.gridSizeInUse = l.feGridSize;
  Conti().lammGridSizeCopy = l.feGridSize;
  if (l.feGridSize != before.gridSizeInUse) SetLammGridSize(l.feGridSize);
  in.ReadCount(619, l.gridSizeUpperLimit);
  in.ReadCount(618, l.gridSizeLowerLimit);
  in.Read(617, l.pointsPerSigma);
  l.timesFromW2t = in.State(620);
  l.rampRotorSpeed = in.State(621);
  std::uint8_t checkRotorAcceleration = in.State(924);

  // The rotor-speed profile: read for the data when asked for, dropped when
  // deselected. While it is in use the scan times come from the ramps.
  if (in.State(944)) {
    if (!CurrentSpeedProfile.Active()) {
      if (CurrentScanSet().count <= 0) {
        ErrorBox("Error: Please Load SV Data First - speedsteps will be automatically loaded if speedsteps.txt is "
                 "present");
        checkRotorAcceleration = 1;
      } else {
        LoadSpeedStepsForData();
      }
    }
    l.rampRotorSpeed = 1;
    l.timesFromW2t = 0;
  } else if (CurrentSpeedProfile.inUse) {
    CurrentSpeedProfile.Clear();
  }

  l.timesFromW2t = l.rampRotorSpeed ? 0 : 1;
  if (l.timesFromW2t) {
    if (CurrentSpeedProfile.Active()) {
      ErrorBox("Error: In variable rotor speed run times from wwt is not possible");
      l.timesFromW2t = 0;
      l.rampRotorSpeed = 1;
    } else {
      SwitchOnTimesFromW2t();
    }
  } else {
    WorkingTimesFromElapsed();
  }

  l.checkRotorAcceleration = checkRotorAcceleration;
  l.optimiseTimeInvariantGrid = in.State(640);
  l.automaticAlgorithm = in.State(622);
  l.fixedTimeStep = in.State(623);
  l.claverieAlgorithm = in.State(624);
  l.movingHatAlgorithm = in.State(625);
  l.movingHatAlgorithm = l.claverieAlgorithm ? 0 : 1;
  if (l.movingHatAlgorithm != before.movingHatAlgorithm && CurrentLammGrid().GridAllocated) FreeLammArrays();

  l.automaticSGrid = in.State(626);
  in.Read(627, l.gridS);
  in.Read(628, fs.maxRelativeChange, 0.01);
  in.Read(629, l.maxDcOverC);
  if (l.maxDcOverC != before.maxDcOverC) {
    l.workingMaxDcOverC = l.maxDcOverC;
    l.lowerStepThreshold = 0.05 * l.maxDcOverC;
    l.upperStepThreshold = 0.2 * l.maxDcOverC;
  }

  l.simulateTimeResolution = in.State(832);
  if (l.simulateTimeResolution && CurrentDataTypeFlags().fluorescence) {
    l.simulateTimeResolution = 0;
    platform::Tell(kAppCaption, "scan time correction for fluorescence data not yet implemented, switching off");
  }
  l.simulateRadialResolution = in.State(833);
  in.Read(835, l.scanVelocity);
  in.Read(834, l.convolutionRange);
  in.Read(948, l.variableSpeedDiffusionShutOff);
  l.experimentalInitialDistribution = in.State(630);
  l.modelInitialDistribution = l.experimentalInitialDistribution ? 0 : 1;
  ForceModelInitialDistribution();
  if (l.experimentalInitialDistribution) {
    if (l.rampRotorSpeed) CancelTimesFromW2t(nullptr);
    if (l.timesFromW2t) SwitchOffTimesFromW2t(nullptr);
  }

  // Leaving an explicitly chosen moving hat with a fixed step: the fixed
  // step goes, and the dialog comes again for the new algorithm.
  const bool explicitMovingHat = before.movingHatAlgorithm && !before.automaticAlgorithm && before.fixedTimeStep;
  if (explicitMovingHat && !l.movingHatAlgorithm && l.fixedTimeStep) {
    l.fixedTimeStep = 0;
    platform::Tell(kAppCaption, "switching off fixed dt - confirm");
    CmLammEquationParameters();
  }

  if (Snapshot() == start) return;
  if (platform::UI().MessageBox("LAMM EQUATION PARAMETERS",
                                "save new parameters as default? (reset defaults by deleting the file "
                                "'tarnellammparams.ini' and restarting TARNEL)",
                                platform::BoxButtons::YesNo, platform::BoxIcon::Question) == platform::IDYES)
    SaveLammEqParameterPreferences(platform::ProgramPaths.LammParamsIniPath, l, fs.maxRelativeChange);
}
