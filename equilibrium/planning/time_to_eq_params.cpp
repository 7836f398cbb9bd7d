#include "equilibrium/planning/time_to_eq_params.h"

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <variant>

#include "distributions/hydrodynamics.h"
#include "fit/model_params.h"
#include "numerics/cvector.h"
#include "numerics/whole_number.h"
#include "platform/error_box.h"
#include "platform/paths.h"

TimeToEqParams& CurrentTimeToEqParams() {
  static TimeToEqParams params;
  return params;
}

void ResetTimeToEqParams(TimeToEqParams& p) { p = TimeToEqParams{}; }

namespace {

float Switch(std::uint8_t b) { return b ? 1.0f : 0.0f; }
std::uint8_t SwitchFrom(float v) { return v > 0 ? 1 : 0; }
// Counts are read rounded down; nothing when no int holds the value.
std::optional<std::int32_t> CountFrom(float v) { return WholeNumberOf(std::floor(static_cast<double>(v))); }

std::string Formatted(const char* format, const std::string& path) {
  char text[1200];
  std::snprintf(text, sizeof text, format, path.c_str());
  return text;
}

using FloatField = float TimeToEqParams::*;
using CountField = std::int32_t TimeToEqParams::*;
using SwitchField = std::uint8_t TimeToEqParams::*;

// One line of the file: a float (stored value x scale), a count (written as
// a float, read rounded down) or a switch (1 or 0, set when above 0).
struct Line {
  std::variant<FloatField, CountField, SwitchField> field;
  float scale = 1.0f;
};

using P = TimeToEqParams;
const std::array<Line, kTimeToEqLines> kLines = {{
    {&P::finalRpm},        {&P::initialRpm},     {&P::acceleration},   {&P::deceleration},
    {&P::stepTimeIncrement}, {&P::overspeedTime}, {&P::bottom},         {&P::meniscus},
    {&P::rightLimit},      {&P::leftLimit},      {&P::speciesCount},   {&P::vbar1},
    {&P::temperature},     {&P::targetRmsd},     {&P::parameterCount}, {&P::maxOverconcentration},
    {&P::skipCompletion},  {&P::experimentalInitial}, {&P::repeats},   {&P::saveScans},
    {&P::saveEquMethod},   {&P::density},        {&P::viscosity},      {&P::s1},
    {&P::M1},              {&P::ff01},           {&P::species1ByFf0},  {&P::secondSpecies},
    {&P::fraction2},       {&P::s2},             {&P::M2},             {&P::vbar2},
    {&P::ff02},            {&P::species2ByFf0},  {&P::D1, 1e7f},       {&P::D2, 1e7f},
    {&P::optimisedTime},   {&P::rpmStep},        {&P::exponential},    {&P::continueHistory},
    {&P::initialStep},
}};

// Values the planning divides by or loops over, and counts an int holds.
bool UsableLines(const std::vector<float>& v) {
  for (int i = 0; i < kTimeToEqLines; ++i)
    if (!std::isfinite(v[static_cast<size_t>(i)])) return false;
  for (size_t i = 0; i < kLines.size(); ++i)
    if (std::holds_alternative<CountField>(kLines[i].field) && !CountFrom(v[i])) return false;
  auto line = [&](int n) { return v[static_cast<size_t>(n - 1)]; };
  if (!(line(3) > 0) || !(line(4) > 0) || !(line(5) > 0)) return false;
  const std::int32_t parameters = *CountFrom(line(15));
  if (parameters < 1 || parameters > kMaxProfileParameters) return false;
  return line(19) >= 0;
}

}  // namespace

std::vector<float> TimeToEqLines(const TimeToEqParams& p) {
  std::vector<float> lines;
  for (const Line& l : kLines) {
    if (auto f = std::get_if<FloatField>(&l.field)) lines.push_back(p.**f * l.scale);
    if (auto c = std::get_if<CountField>(&l.field)) lines.push_back(static_cast<float>(p.**c));
    if (auto b = std::get_if<SwitchField>(&l.field)) lines.push_back(Switch(p.**b));
  }
  return lines;
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
  // No file yet: the defaults, silently. Anything else of that name is read
  // through the checked reader, which refuses (and names) what is no file.
  struct stat st {};
  if (lstat(platform::ToNative(path).c_str(), &st) != 0) return false;
  CVector v;
  if (!v.ReadFromFile(path.c_str(), platform::kSettingsFileLimit)) return false;
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
  const std::int32_t parameters = p.parameterCount;
  for (size_t i = 0; i < kLines.size(); ++i) {
    const Line& line = kLines[i];
    if (auto f = std::get_if<FloatField>(&line.field)) p.**f = l[i] / line.scale;
    if (auto c = std::get_if<CountField>(&line.field)) p.**c = *CountFrom(l[i]);
    if (auto b = std::get_if<SwitchField>(&line.field)) p.**b = SwitchFrom(l[i]);
  }
  // A new count makes the optimiser start a vector of that length.
  if (p.parameterCount != parameters) p.profileParameters.clear();
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
  duration.ReadFromFile(durationPath.c_str(), platform::kSettingsFileLimit);
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
