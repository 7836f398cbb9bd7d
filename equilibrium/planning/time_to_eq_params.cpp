#include "equilibrium/planning/time_to_eq_params.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "distributions/hydrodynamics.h"
#include "fit/model_params.h"
#include "numerics/cvector.h"
#include "numerics/error_box.h"

TimeToEqParams& CurrentTimeToEqParams() {
  static TimeToEqParams params;
  return params;
}

void ResetTimeToEqParams(TimeToEqParams& p) { p = TimeToEqParams{}; }

namespace {

float Switch(std::uint8_t b) { return b ? 1.0f : 0.0f; }
std::uint8_t SwitchFrom(float v) { return v > 0 ? 1 : 0; }
std::int32_t CountFrom(float v) { return static_cast<std::int32_t>(std::floor(v)); }

std::string Formatted(const char* format, const std::string& path) {
  char text[1200];
  std::snprintf(text, sizeof text, format, path.c_str());
  return text;
}

// Values the planning divides by or loops over.
bool UsableLines(const std::vector<float>& v) {
  for (int i = 0; i < kTimeToEqLines; ++i)
    if (!std::isfinite(v[static_cast<size_t>(i)])) return false;
  auto line = [&](int n) { return v[static_cast<size_t>(n - 1)]; };
  if (!(line(3) > 0) || !(line(4) > 0) || !(line(5) > 0)) return false;
  const std::int32_t parameters = CountFrom(line(15));
  if (parameters < 1 || parameters > kMaxProfileParameters) return false;
  return line(19) >= 0;
}

void SetParameterCount(TimeToEqParams& p, std::int32_t n) {
  if (n != p.parameterCount) p.profileParameters.clear();
  p.parameterCount = n;
}

}  // namespace

std::vector<float> TimeToEqLines(const TimeToEqParams& p) {
  return {p.finalRpm,
          p.initialRpm,
          p.acceleration,
          p.deceleration,
          p.stepTimeIncrement,
          p.overspeedTime,
          p.bottom,
          p.meniscus,
          p.rightLimit,
          p.leftLimit,
          static_cast<float>(p.speciesCount),
          p.vbar1,
          p.temperature,
          p.targetRmsd,
          static_cast<float>(p.parameterCount),
          p.maxOverconcentration,
          Switch(p.skipCompletion),
          Switch(p.experimentalInitial),
          static_cast<float>(p.repeats),
          Switch(p.saveScans),
          Switch(p.saveEquMethod),
          p.density,
          p.viscosity,
          p.s1,
          p.M1,
          p.ff01,
          Switch(p.species1ByFf0),
          Switch(p.secondSpecies),
          p.fraction2,
          p.s2,
          p.M2,
          p.vbar2,
          p.ff02,
          Switch(p.species2ByFf0),
          p.D1 * 1e7f,
          p.D2 * 1e7f,
          p.optimisedTime,
          p.rpmStep,
          Switch(p.exponential),
          Switch(p.continueHistory),
          p.initialStep};
}

std::string TimeToEqCompanionPath(const std::string& path, const char* suffix) {
  const std::filesystem::path file(path);
  std::filesystem::path name = file.stem();
  name += suffix;
  name += file.extension();
  return (file.parent_path() / name).string();
}

bool SaveTimeToEqPreferences(const TimeToEqParams& p, const std::string& path) {
  const std::vector<float> lines = TimeToEqLines(p);
  CVector v(kTimeToEqLines, lines.data(), 0);
  bool ok = v.WriteToFile(path.c_str());
  if (!ok || !p.continueHistory) return ok;
  CVector duration(1, &p.historyDuration, 0);
  ok = duration.WriteToFile(TimeToEqCompanionPath(path, "_iniduration").c_str());
  // A history without steps is a run at rest: nothing to keep, and the
  // reader takes a missing file for exactly that.
  if (p.history && p.history->stepCount > 0)
    p.history->Save(TimeToEqCompanionPath(path, "_speedsteps"));
  return ok;
}

bool LoadTimeToEqPreferences(TimeToEqParams& p, const std::string& path) {
  if (!FileExists(path.c_str())) return false;
  CVector v;
  if (!v.ReadFromFile(path.c_str())) return false;
  if (v.Count() < kTimeToEqLines) return false;
  std::vector<float> l(kTimeToEqLines);
  for (int i = 0; i < kTimeToEqLines; ++i) l[static_cast<size_t>(i)] = v.GetAt(i);
  if (!UsableLines(l)) {
    ErrorBox(Formatted("error - parameter file %s holds values that cannot be used - please enter "
                       "new in parameter box ",
                       path)
                 .c_str());
    return false;
  }
  auto line = [&](int n) { return l[static_cast<size_t>(n - 1)]; };
  p.finalRpm = line(1);
  p.initialRpm = line(2);
  p.acceleration = line(3);
  p.deceleration = line(4);
  p.stepTimeIncrement = line(5);
  p.overspeedTime = line(6);
  p.bottom = line(7);
  p.meniscus = line(8);
  p.rightLimit = line(9);
  p.leftLimit = line(10);
  p.speciesCount = CountFrom(line(11));
  p.vbar1 = line(12);
  p.temperature = line(13);
  p.targetRmsd = line(14);
  SetParameterCount(p, CountFrom(line(15)));
  p.maxOverconcentration = line(16);
  p.skipCompletion = SwitchFrom(line(17));
  p.experimentalInitial = SwitchFrom(line(18));
  p.repeats = CountFrom(line(19));
  p.saveScans = SwitchFrom(line(20));
  p.saveEquMethod = SwitchFrom(line(21));
  p.density = line(22);
  p.viscosity = line(23);
  p.s1 = line(24);
  p.M1 = line(25);
  p.ff01 = line(26);
  p.species1ByFf0 = SwitchFrom(line(27));
  p.secondSpecies = SwitchFrom(line(28));
  p.fraction2 = line(29);
  p.s2 = line(30);
  p.M2 = line(31);
  p.vbar2 = line(32);
  p.ff02 = line(33);
  p.species2ByFf0 = SwitchFrom(line(34));
  p.D1 = line(35) * 1e-7f;
  p.D2 = line(36) * 1e-7f;
  p.optimisedTime = line(37);
  p.rpmStep = line(38);
  p.exponential = SwitchFrom(line(39));
  p.continueHistory = SwitchFrom(line(40));
  p.initialStep = line(41);
  if (!p.continueHistory) return true;

  const std::string durationPath = TimeToEqCompanionPath(path, "_iniduration");
  if (!FileExists(durationPath.c_str())) {
    ErrorBox(Formatted("error - auxillary duration parameter file %s is missing - please enter new "
                       "in parameter box ",
                       durationPath)
                 .c_str());
    return false;
  }
  CVector duration;
  duration.ReadFromFile(durationPath.c_str());
  if (duration.Count() < 1 || !std::isfinite(duration.GetAt(0))) {
    ErrorBox(Formatted("error - auxillary duration parameter file %s is corrupt - please enter new "
                       "in parameter box ",
                       durationPath)
                 .c_str());
    return false;
  }
  p.historyDuration = duration.GetAt(0);

  if (!p.history) p.history = std::make_unique<CRotorSpeedProfile>();
  const std::string stepsPath = TimeToEqCompanionPath(path, "_speedsteps");
  if (!FileExists(stepsPath.c_str())) {
    p.history->FreeSteps();  // saved without steps: a history at rest
    return true;
  }
  // The reader answers true only for several steps; one step is a history
  // at constant speed and just as good.
  p.history->ReadFile(stepsPath);
  if (p.history->stepCount < 1) {
    ErrorBox(Formatted("error - auxillary speedsteps parameter file %s is corrupt - please enter new "
                       "in parameter box ",
                       stepsPath)
                 .c_str());
    return false;
  }
  return true;
}

float MeniscusFromFillVolume(float volume, float bottom) {
  const double rb = 10.0 * bottom;
  const double square = rb * rb - volume / (0.04164258 * 12 * 0.5);
  if (!(square >= 0)) return std::nanf("");
  return static_cast<float>(0.1 * std::sqrt(square));
}

namespace {

// s from f/f0 or f/f0 from s, then D, for one species; false leaves them.
bool CompleteSpecies(float M, float vbar, float T, float density, float etaR, bool byFf0, float& s,
                     float& ff0, float& D) {
  const float buoyancy = 1.0f - vbar * density;
  const float programBuoyancy = 1.0f - gSolutionConditions.vbarRho;
  if (!(M > 0) || !(etaR > 0) || buoyancy == 0 || programBuoyancy == 0) return false;
  const float sphere = SFromMff0(M, vbar, T, density, etaR);
  float sNew = s, ffNew = ff0;
  if (byFf0) {
    if (!(ff0 > 0)) return false;
    sNew = sphere / ff0;
  } else {
    if (s == 0) return false;
    ffNew = sphere / s;
  }
  // SvedbergD divides by the program's buoyancy; the scaled mass makes it
  // the species' own.
  const float Dnew = SvedbergD(M * buoyancy / programBuoyancy, sNew, T);
  if (!std::isfinite(sNew) || !std::isfinite(ffNew) || !std::isfinite(Dnew) || !(Dnew > 0))
    return false;
  s = sNew;
  ff0 = ffNew;
  D = Dnew;
  return true;
}

}  // namespace

void CompleteTimeToEqSpecies(TimeToEqParams& p) {
  if (p.skipCompletion) return;
  const float etaR = p.viscosity / kWaterViscosity20;
  CompleteSpecies(p.M1, p.vbar1, p.temperature, p.density, etaR, p.species1ByFf0, p.s1, p.ff01,
                  p.D1);
  CompleteSpecies(p.M2, p.vbar2, p.temperature, p.density, etaR, p.species2ByFf0, p.s2, p.ff02,
                  p.D2);
}
