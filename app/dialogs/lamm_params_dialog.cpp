#include "app/dialogs/lamm_params_dialog.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/window/txla_window.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "data/speed_steps_at_load.h"
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
           a.gridSize.setting == b.gridSize.setting && a.pointsPerSigma == b.pointsPerSigma &&
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

// What the dialog shows its values from, and where the entries go.
struct Shown {
  const LammSolverSettings& l;
  float fitTolerance;
  bool profile;
};
struct Taken {
  LammSolverSettings& l;
  FitEngineState& fs;
};

// What OK asks of an edit's text; every failure is the same "Invalid Entry".
enum class Check {
  None,
  NonNegative,
  GridSize,     // non-negative and at most kLargestLammGridSize
  StepControl,  // non-negative and not 0: every solver refuses a step control that allows no change at all
  Number,
  Finite,
};

// One control of the form: built from `show`, checked by `check`, read back
// by `take`. An edit without a format shows an integer. A row without
// `take` is read by the command itself (a choice, not a stored value) or
// not at all (the moving hat follows from the Claverie choice).
struct Row {
  int id;
  Kind kind;
  const char* label;
  const char* format;
  int row, column, group;
  Check check;
  double (*show)(const Shown&);
  void (*take)(const Entries&, int id, Taken&);
};

constexpr int kSpeedSteps = 944;

// Transfer order; three columns of groups (columns 0-2, 3-5 and 6-8), so
// that the form is low enough for a laptop screen.
const Row kRows[] = {
    {612, Kind::Edit, "normalized s for automatic change", "%f", 2, 0, 0, Check::NonNegative,
     [](const Shown& s) -> double { return s.l.automaticSwitchS; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.automaticSwitchS); }},
    {613, Kind::Check, "shut off back-diffusion", nullptr, 7, 0, 0, Check::None,
     [](const Shown& s) -> double { return s.l.shutOffBackDiffusion; },
     [](const Entries& in, int id, Taken& t) { t.l.shutOffBackDiffusion = in.State(id); }},
    {614, Kind::Edit, "level", "%.2e", 8, 0, 0, Check::NonNegative,
     [](const Shown& s) -> double { return s.l.backDiffusionLevel; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.backDiffusionLevel); }},
    {615, Kind::Check, "automatic dynamic grid size", nullptr, 1, 3, 0, Check::None,
     [](const Shown& s) -> double { return s.l.automaticGridSize; },
     [](const Entries& in, int id, Taken& t) { t.l.automaticGridSize = in.State(id); }},
    {616, Kind::Edit, "default FE grid size", nullptr, 2, 3, 0, Check::GridSize,
     [](const Shown& s) -> double { return s.l.gridSize.setting; },
     [](const Entries& in, int id, Taken& t) { in.ReadCount(id, t.l.gridSize.setting); }},
    {617, Kind::Edit, "points per sigma", "%.1f", 3, 3, 0, Check::NonNegative,
     [](const Shown& s) -> double { return s.l.pointsPerSigma; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.pointsPerSigma); }},
    {619, Kind::Edit, "upper limit ", nullptr, 4, 3, 0, Check::GridSize,
     [](const Shown& s) -> double { return s.l.gridSizeUpperLimit; },
     [](const Entries& in, int id, Taken& t) { in.ReadCount(id, t.l.gridSizeUpperLimit); }},
    {618, Kind::Edit, "lower limit", nullptr, 5, 3, 0, Check::GridSize,
     [](const Shown& s) -> double { return s.l.gridSizeLowerLimit; },
     [](const Entries& in, int id, Taken& t) { in.ReadCount(id, t.l.gridSizeLowerLimit); }},
    {620, Kind::Radio, "times from wwt", nullptr, 1, 6, kTemporalGroup, Check::None,
     [](const Shown& s) -> double { return s.l.timesFromW2t; },
     [](const Entries& in, int id, Taken& t) { t.l.timesFromW2t = in.State(id); }},
    {621, Kind::Radio, "ramp rotor speed", nullptr, 2, 6, kTemporalGroup, Check::None,
     [](const Shown& s) -> double { return !s.l.timesFromW2t; },
     [](const Entries& in, int id, Taken& t) { t.l.rampRotorSpeed = in.State(id); }},
    {924, Kind::Check, "check rotor acceleration", nullptr, 4, 6, 0, Check::None,
     [](const Shown& s) -> double { return s.profile ? 0 : s.l.checkRotorAcceleration; },
     [](const Entries& in, int id, Taken& t) { t.l.checkRotorAcceleration = in.State(id); }},
    {kSpeedSteps, Kind::Radio, "using speedsteps", nullptr, 3, 6, kTemporalGroup, Check::None,
     [](const Shown& s) -> double { return s.profile; }, nullptr},
    {622, Kind::Radio, "automatic finite element algorithm", nullptr, 1, 0, kAlgorithmGroup, Check::None,
     [](const Shown& s) -> double { return s.l.automaticAlgorithm; },
     [](const Entries& in, int id, Taken& t) { t.l.automaticAlgorithm = in.State(id); }},
    {623, Kind::Check, "fix Lamm Eq. simulation timestep", nullptr, 5, 6, 0, Check::None,
     [](const Shown& s) -> double { return s.l.fixedTimeStep; },
     [](const Entries& in, int id, Taken& t) { t.l.fixedTimeStep = in.State(id); }},
    {624, Kind::Radio, "Claverie algorithm", nullptr, 4, 0, kAlgorithmGroup, Check::None,
     [](const Shown& s) -> double { return s.l.claverieAlgorithm && !s.l.automaticAlgorithm; },
     [](const Entries& in, int id, Taken& t) { t.l.claverieAlgorithm = in.State(id); }},
    {625, Kind::Radio, "moving hat algorithm", nullptr, 5, 0, kAlgorithmGroup, Check::None,
     [](const Shown& s) -> double { return s.l.movingHatAlgorithm && !s.l.automaticAlgorithm; }, nullptr},
    {626, Kind::Check, "automatic s_grid", nullptr, 6, 0, 0, Check::None,
     [](const Shown& s) -> double { return s.l.automaticSGrid; },
     [](const Entries& in, int id, Taken& t) { t.l.automaticSGrid = in.State(id); }},
    {627, Kind::Edit, "", "%.2f", 6, 0, 0, Check::NonNegative,
     [](const Shown& s) -> double { return s.l.gridS; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.gridS); }},
    {628, Kind::Edit, "Tolerance", "%.3f", 8, 3, 0, Check::NonNegative,
     [](const Shown& s) -> double { return 100.0 * s.fitTolerance; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.fs.maxRelativeChange, 0.01); }},
    {629, Kind::Edit, "max dc/c", "%.2f", 6, 6, 0, Check::StepControl,
     [](const Shown& s) -> double { return s.l.maxDcOverC; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.maxDcOverC); }},
    {630, Kind::Check, "Experimental Initial Distribution", nullptr, 9, 3, 0, Check::None,
     [](const Shown& s) -> double { return s.l.experimentalInitialDistribution; },
     [](const Entries& in, int id, Taken& t) { t.l.experimentalInitialDistribution = in.State(id); }},
    {639, Kind::Edit, "when optimized", "%.2f", 3, 0, 0, Check::Finite,
     [](const Shown& s) -> double { return s.l.automaticSwitchSOptimised; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.automaticSwitchSOptimised); }},
    {640, Kind::Check, "optimize time-invariant grid spacing", nullptr, 6, 3, 0, Check::None,
     [](const Shown& s) -> double { return s.l.optimiseTimeInvariantGrid; },
     [](const Entries& in, int id, Taken& t) { t.l.optimiseTimeInvariantGrid = in.State(id); }},
    {641, Kind::Check, "dynamically truncate grid", nullptr, 7, 3, 0, Check::None,
     [](const Shown& s) -> double { return s.l.truncateGrid; },
     [](const Entries& in, int id, Taken& t) { t.l.truncateGrid = in.State(id); }},
    {643, Kind::Edit, "", "%.2f", 7, 3, 0, Check::Number,
     [](const Shown& s) -> double { return std::log10(s.l.truncationLevel); },
     [](const Entries& in, int id, Taken& t) { in.ReadLog(id, t.l.truncationLevel); }},
    {832, Kind::Check, "simulate time resolution", nullptr, 7, 6, 0, Check::None,
     [](const Shown& s) -> double { return s.l.simulateTimeResolution; },
     [](const Entries& in, int id, Taken& t) { t.l.simulateTimeResolution = in.State(id); }},
    {833, Kind::Check, "simulate radial resolution", nullptr, 8, 6, 0, Check::None,
     [](const Shown& s) -> double { return s.l.simulateRadialResolution; },
     [](const Entries& in, int id, Taken& t) { t.l.simulateRadialResolution = in.State(id); }},
    {834, Kind::Edit, "radial range of convolution (cm)", "%.4f", 9, 6, 0, Check::NonNegative,
     [](const Shown& s) -> double { return s.l.convolutionRange; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.convolutionRange); }},
    {835, Kind::Edit, "scan velocity (cm/min)", "%.2f", 10, 6, 0, Check::NonNegative,
     [](const Shown& s) -> double { return s.l.scanVelocity; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.scanVelocity); }},
    {948, Kind::Edit, "Variable Speed D shut off at x-fold grid dist", "%.4f", 9, 0, 0, Check::Finite,
     [](const Shown& s) -> double { return s.l.variableSpeedDiffusionShutOff; },
     [](const Entries& in, int id, Taken& t) { in.Read(id, t.l.variableSpeedDiffusionShutOff); }},
};

FormControl Control(const Row& r, const Shown& s) {
  FormControl c;
  c.id = r.id;
  c.kind = r.kind;
  c.label = r.label;
  c.row = r.row;
  c.column = r.column;
  c.group = r.group;
  const double v = r.show(s);
  if (r.kind != Kind::Edit)
    c.state = v != 0 ? 1 : 0;
  else
    c.text = r.format ? Format(r.format, v) : std::to_string(static_cast<int>(v));
  return c;
}

bool Passes(Check check, const std::string& text) {
  const double v = std::atof(text.c_str());
  switch (check) {
    case Check::None: return true;
    case Check::NonNegative: return NonNegativeNumber(text);
    case Check::GridSize: return NonNegativeNumber(text) && v <= kLargestLammGridSize;
    case Check::StepControl: return NonNegativeNumber(text) && v != 0;
    case Check::Number: return Number(text);
    case Check::Finite: return std::isfinite(v);
  }
  return true;
}

}  // namespace

LammPBox::LammPBox(const LammSolverSettings& l, float fitTolerance, bool profile) {
  form.templateId = 631;
  form.caption = kCaption;
  const Shown shown{l, fitTolerance, profile};
  for (const Row& r : kRows) form.controls.push_back(Control(r, shown));
  // The five headed groups of the form; tolerance and the experimental
  // initial distribution stand below the spatial group.
  form.groupBoxes = {
      {"Finite Element Algorithm", 1, 0, 6, 3},
      {"Shut Off Diffusion", 7, 0, 3, 3},
      {"Finite Element Spatial Discretization", 1, 3, 7, 3},
      {"Temporal Discretization", 1, 6, 6, 3},
      {"Account for Finite Resolution in ABS", 7, 6, 4, 3},
  };
  form.canClose = &LammPBox::CanClose;
}

bool LammPBox::CanClose(const FormDialog& typed) {
  for (const Row& r : kRows) {
    const FormControl* c = typed.Find(r.id);
    if (!Passes(r.check, c ? c->text : std::string("0"))) return Refuse();
  }
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
  // Nothing below reads a stored value before it has been taken, so every
  // entry is taken first.
  Taken taken{l, fs};
  for (const Row& r : kRows)
    if (r.take) r.take(in, r.id, taken);

  if (InhomogeneousSolvent())
    platform::Tell(
        kAppCaption,
        "make sure Lamm equation option 'dyanmically trucate grid' \nis not used when macromolecular flotation "
        "near meniscus can occur");
  // The field is the default: a size typed there is also the size in use
  // (the distribution's own while one is in use); a field left as shown
  // leaves the size in use, the distribution's too.
  const std::int32_t typedSize = l.gridSize.setting;
  l.gridSize = before.gridSize;
  if (typedSize != before.gridSize.setting) SetGridSizeSetting(l.gridSize, typedSize);
  if (l.gridSize.inUse != before.gridSize.inUse) SetLammGridSize(l.gridSize.inUse);

  // The rotor-speed profile: read for the data when asked for, dropped when
  // deselected. While it is in use the scan times come from the ramps.
  if (in.State(kSpeedSteps)) {
    if (!CurrentSpeedProfile.Active()) {
      if (CurrentScanSet().count <= 0) {
        ErrorBox("Error: Please Load SV Data First - speedsteps will be automatically loaded if speedsteps.txt is "
                 "present");
        l.checkRotorAcceleration = 1;
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

  l.movingHatAlgorithm = l.claverieAlgorithm ? 0 : 1;
  if (l.movingHatAlgorithm != before.movingHatAlgorithm && CurrentLammGrid().GridAllocated) FreeLammArrays();

  if (l.maxDcOverC != before.maxDcOverC) {
    l.workingMaxDcOverC = l.maxDcOverC;
    l.lowerStepThreshold = 0.05 * l.maxDcOverC;
    l.upperStepThreshold = 0.2 * l.maxDcOverC;
  }

  if (l.simulateTimeResolution && CurrentDataTypeFlags().fluorescence) {
    l.simulateTimeResolution = 0;
    platform::Tell(kAppCaption, "scan time correction for fluorescence data not yet implemented, switching off");
  }
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
