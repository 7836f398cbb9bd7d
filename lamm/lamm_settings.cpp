#include "lamm/lamm_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lamm/lamm_ideal.h"
#include "numerics/whole_number.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {
thread_local LammSolverSettings* tOwnSettings = nullptr;
}

LammSolverSettings& LammSettings() {
  static LammSolverSettings settings;
  return tOwnSettings ? *tOwnSettings : settings;
}

void UseThreadLammSettings(LammSolverSettings* own) { tOwnSettings = own; }

namespace {

constexpr int kLines = 28;
constexpr int kLeastLines = 26;

float Switch(std::uint8_t on) { return on ? 1.0f : 0.0f; }
std::uint8_t SwitchFrom(float v) { return v > 0.0f ? 1 : 0; }

// Reads one "%f" number per line: blank lines before a number are skipped,
// the rest of its line is dropped, the first line that does not begin with a
// number ends the reading.
std::vector<float> ReadNumbers(std::FILE* f) {
  std::vector<float> values;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    const char* p = line;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (*p == '\0') continue;  // blank line
    char* end = nullptr;
    const float v = std::strtof(p, &end);
    if (end == p) break;
    values.push_back(v);
    // A line longer than the buffer: drop its remainder.
    while (!std::strchr(line, '\n') && std::fgets(line, sizeof line, f)) {
    }
  }
  return values;
}

}  // namespace

bool SaveLammEqParameterPreferences(const std::string& path, const LammSolverSettings& s,
                                    float fitTolerance) {
  const float v[kLines] = {
      s.automaticSwitchS,
      Switch(s.shutOffBackDiffusion),
      static_cast<float>(s.backDiffusionLevel),
      Switch(s.automaticGridSize),
      static_cast<float>(s.gridSize.setting),
      s.pointsPerSigma,
      static_cast<float>(s.gridSizeUpperLimit),
      static_cast<float>(s.gridSizeLowerLimit),
      Switch(s.timesFromW2t),
      Switch(s.automaticAlgorithm),
      Switch(s.fixedTimeStep),
      Switch(s.claverieAlgorithm),
      Switch(s.movingHatAlgorithm),
      Switch(s.automaticSGrid),
      static_cast<float>(s.gridS),
      fitTolerance,
      static_cast<float>(s.maxDcOverC),
      s.automaticSwitchSOptimised,
      Switch(s.optimiseTimeInvariantGrid),
      Switch(s.experimentalInitialDistribution),
      Switch(s.truncateGrid),
      // The level itself would not survive six decimals; its logarithm does.
      static_cast<float>(std::log10(s.truncationLevel)),
      Switch(s.simulateTimeResolution),
      Switch(s.simulateRadialResolution),
      s.scanVelocity,
      s.convolutionRange,
      Switch(s.checkRotorAcceleration),
      static_cast<float>(s.variableSpeedDiffusionShutOff),
  };
  // Whole or not at all: a full disk keeps the preferences saved before.
  platform::CheckedOutputFile file(path);
  std::FILE* f = file.get();
  if (!f) {
    char text[1100];
    std::snprintf(text, sizeof text, "Attention: could not open %s", path.c_str());
    ErrorBox(text);
    return false;
  }
  for (float x : v) std::fprintf(f, "%f\n", static_cast<double>(x));
  if (!file.Commit()) {
    char text[1100];
    std::snprintf(text, sizeof text, "Attention: could not write %s", path.c_str());
    ErrorBox(text);
    return false;
  }
  return true;
}

bool ReadLammEqParameterPreferences(const std::string& path, LammSolverSettings& s,
                                    float& fitTolerance) {
  const platform::CheckedInputFile in(platform::ToNative(path), platform::kSettingsFileLimit);
  if (!in) {
    // A missing file is the first start; anything else there is passed over with a note.
    if (in.error() != platform::FileReadError::Missing)
      platform::Tell(
          "LAMM EQUATION PARAMETERS",
          platform::FileReadErrorText(path, in.error(), platform::kSettingsFileLimit) + "\n -> using defaults now",
          platform::BoxIcon::None);
    return false;
  }
  const std::vector<float> v = ReadNumbers(in.get());
  const int n = static_cast<int>(v.size());
  if (n < kLeastLines) {
    char text[1200];
    std::snprintf(text, sizeof text,
                  "cannot find %s to initialize Lamm eq. preferences\n -> using defaults now",
                  path.c_str());
    platform::Tell("LAMM EQUATION PARAMETERS", text, platform::BoxIcon::None);
    return false;
  }
  // A NaN or infinite value is no setting either: it refuses the file, before
  // anything of it is taken (the grid lines are judged below as grid sizes).
  const int gridLines[3] = {5, 7, 8};
  for (int k = 0; k < n; ++k) {
    const int line = k + 1;
    const float value = v[static_cast<std::size_t>(k)];
    if (std::isfinite(value) || std::find(gridLines, gridLines + 3, line) != gridLines + 3) continue;
    char text[1300];
    std::snprintf(text, sizeof text,
                  "cannot use %s to initialize Lamm eq. preferences: line %d holds %g, which is no number\n"
                  " -> using defaults now",
                  path.c_str(), line, static_cast<double>(value));
    platform::Tell("LAMM EQUATION PARAMETERS", text, platform::BoxIcon::None);
    return false;
  }
  // The grid size and its limits are whole numbers: a line no int holds
  // refuses the file, before anything of it is taken.
  std::int32_t grid[3] = {};
  for (int k = 0; k < 3; ++k) {
    const float value = v[static_cast<std::size_t>(gridLines[k] - 1)];
    const std::optional<std::int32_t> whole = WholeNumberOf(value);
    if (!whole) {
      char text[1300];
      std::snprintf(text, sizeof text,
                    "cannot use %s to initialize Lamm eq. preferences: line %d holds %g, which is no grid size\n"
                    " -> using defaults now",
                    path.c_str(), gridLines[k], static_cast<double>(value));
      platform::Tell("LAMM EQUATION PARAMETERS", text, platform::BoxIcon::None);
      return false;
    }
    grid[k] = *whole;
  }
  s.automaticSwitchS = v[0];
  s.shutOffBackDiffusion = SwitchFrom(v[1]);
  s.backDiffusionLevel = v[2];
  s.automaticGridSize = SwitchFrom(v[3]);
  // (At start-up: the default is also the size in use.)
  SetGridSizeSetting(s.gridSize, grid[0]);
  s.pointsPerSigma = v[5];
  s.gridSizeUpperLimit = grid[1];
  s.gridSizeLowerLimit = grid[2];
  s.timesFromW2t = SwitchFrom(v[8]);
  s.rampRotorSpeed = s.timesFromW2t ? 0 : 1;
  s.automaticAlgorithm = SwitchFrom(v[9]);
  s.fixedTimeStep = SwitchFrom(v[10]);
  s.claverieAlgorithm = SwitchFrom(v[11]);
  s.movingHatAlgorithm = SwitchFrom(v[12]);
  s.automaticSGrid = SwitchFrom(v[13]);
  s.gridS = v[14];
  fitTolerance = v[15];
  s.maxDcOverC = v[16];
  s.automaticSwitchSOptimised = v[17];
  s.optimiseTimeInvariantGrid = SwitchFrom(v[18]);
  s.experimentalInitialDistribution = SwitchFrom(v[19]);
  s.truncateGrid = SwitchFrom(v[20]);
  s.truncationLevel = std::pow(10.0, static_cast<double>(v[21]));
  s.simulateTimeResolution = SwitchFrom(v[22]);
  s.simulateRadialResolution = SwitchFrom(v[23]);
  s.scanVelocity = v[24];
  s.convolutionRange = v[25];
  if (n >= 27) s.checkRotorAcceleration = SwitchFrom(v[26]);
  if (n >= 28) s.variableSpeedDiffusionShutOff = v[27];
  if (n < kLines) SaveLammEqParameterPreferences(path, s, fitTolerance);
  return true;
}

void SetModelOptionsFromSettings(CLammIdeal& L, const LammSolverSettings& st, double stepBase,
                                 int defaultNodes) {
  L.SetModelOptions({.minNodes = st.gridSizeLowerLimit, .maxNodes = st.gridSizeUpperLimit,
                     .pointsPerWidth = st.pointsPerSigma, .forceSteep = false,
                     .backDiffusionTolerance = st.backDiffusionLevel,
                     .backDiffusionCheck = st.shutOffBackDiffusion != 0,
                     .optimiseGrid = st.optimiseTimeInvariantGrid != 0,
                     .automaticGridSize = st.automaticGridSize != 0, .ff0 = 1.0f,
                     .linearRamp = st.rampRotorSpeed != 0, .fixedTimeStep = st.fixedTimeStep != 0,
                     .solverSetting = 0, .steadyTolerance = st.equilibriumThreshold,
                     .sGridValue = st.gridS, .automaticSGrid = st.automaticSGrid != 0,
                     .solverSwitch = false, .automaticAlgorithm = st.automaticAlgorithm != 0,
                     .stepTolerance = st.workingMaxDcOverC,
                     .stepLowerTolerance = st.lowerStepThreshold,
                     .stepTarget = st.upperStepThreshold, .stepBase = stepBase,
                     .defaultNodes = defaultNodes, .gridSetting = 0,
                     .movingFrame = st.movingHatAlgorithm != 0,
                     .staticGrid = st.claverieAlgorithm != 0, .truncationSetting = 1e-4f,
                     .truncationLevel = st.truncationLevel,
                     .truncateDynamically = st.truncateGrid != 0, .blend = 1.0, .stepFactor = 2.0,
                     .reducedSThreshold = st.automaticSwitchS,
                     .optimisedThreshold = st.automaticSwitchSOptimised});
}
