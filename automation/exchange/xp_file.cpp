#include "automation/exchange/xp_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "automation/exchange/exchange_text.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "platform/error_box.h"
#include "platform/paths.h"

namespace {

constexpr const char* kCaption = "make MORLEAN xp file";
constexpr float kWaterViscosityPoise10 = 0.001002f * 10.0f;

enum ExperimentType { kVelocity = 0, kDls = 1, kElectrophoresis = 2, kEquilibrium = 3, kMultiEquilibrium = 4 };

ExperimentType KindOfData(const ScanSet& s, const DataTypeFlags& t) {
  if (t.dls) return kDls;
  if (t.electrophoresis || t.linearGeometry) return kElectrophoresis;
  if (s.equilibriumMode) return s.count == 1 ? kEquilibrium : kMultiEquilibrium;
  return kVelocity;
}

const char* TypeLine(ExperimentType type) {
  switch (type) {
    case kDls: return "1 (ExperimentType: DLS)\n";
    case kElectrophoresis: return "2 (ExperimentType: ELECTROPHORESIS)\n";
    case kEquilibrium: return "3 (ExperimentType: SEDEQUILIBRIUM)\n";
    case kMultiEquilibrium: return "4 (ExperimentType: MULTISEDEQ)\n";
    default: return "0 (ExperimentType: SEDVELOCITY)\n";
  }
}

bool AllowedInDescription(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case ' ': case '\\': case '#': case '_': case '/': case ':': case ',': case '.': return true;
    default: return false;
  }
}

// The name line is a quoted folder and a quoted list of blank-separated
// names: a name with a blank or a quote would be read back as other files.
bool CarriedByNameLine(const std::string& name, bool isFolder) {
  if (name.empty() || name.find('"') != std::string::npos) return false;
  return isFolder || name.find(' ') == std::string::npos;
}

bool AllNamesCarried(const ScanSet& s, const std::string& path) {
  if (!CarriedByNameLine(s.dataFolder, true)) {
    exchange::Refuse("the data folder \"" + s.dataFolder +
                     "\" holds a double quote: no xp file written to " + path);
    return false;
  }
  for (int i = 1; i <= s.count; ++i) {
    if (CarriedByNameLine(s.fileNames[static_cast<std::size_t>(i)], false)) continue;
    exchange::Refuse("the scan file name \"" + s.fileNames[static_cast<std::size_t>(i)] +
                     "\" holds a blank or a double quote: no xp file written to " + path);
    return false;
  }
  return true;
}

std::string NameLine(const ScanSet& s) {
  std::string line = "\"";
  if (s.count == 1) {
    line += platform::Combine(s.dataFolder, "");
    line += "\" \" " + s.fileNames[1] + "\"\n";
    return line;
  }
  line += s.dataFolder + "\" \"";
  for (int i = 1; i <= s.count; ++i) line += " " + s.fileNames[static_cast<std::size_t>(i)];
  return line + "\"\n";
}

// Asks until the answer is positive; Cancel keeps the value.
void AskPositive(float& value, const char* prompt) {
  float answer = value;
  while (InputFloat(&answer, answer, true, prompt, kCaption)) {
    if (answer > 0.0f) {
      value = answer;
      return;
    }
    answer = value;
  }
}

// The switches from "bVaryExtinctionCoeffC" to "ITCLocalMaxIncomp", all off.
void AppendSwitchesOff(std::string& text) {
  for (const char* key : {"bVaryExtinctionCoeffC", "bPartialBoundaryFit", "PBFsmin", "PBFsmax",
                          "bITCLocalIncompA", "bITCLocalIncompB", "bITCLocalIncompC",
                          "FitITCLocalIncompA", "FitITCLocalIncompB", "FitITCLocalIncompC",
                          "ITCLocalIncompA", "ITCLocalIncompB", "ITCLocalIncompC",
                          "FitITCBaselineSlope", "ITCBaselineSlope", "ITCLocalMaxIncomp"})
    exchange::Appendf(text, "%d (%s)\n", 0, key);
}

bool NonidealModelSelected() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.NonidealCSModel || m.AnyNonidealSpeciesModel() || m.NonidealVariantModel ||
         m.ConcDependentLammModel;
}

}  // namespace

std::string XpDescriptionText(const char* description) {
  std::string text;
  for (int i = 0; description && i < 100 && description[i] && AllowedInDescription(description[i]); ++i)
    text.push_back(description[i]);
  return text.size() < 2 ? std::string() : text;
}

bool WriteMorleanXpFile(const std::string& path, bool askNothing) {
  const ScanSet& s = CurrentScanSet();
  const DataTypeFlags& t = CurrentDataTypeFlags();
  if (s.count <= 0) return false;
  if (!AllNamesCarried(s, path)) return false;
  exchange::TextFile file(path);
  if (!file.Open()) return false;

  const ExperimentType type = KindOfData(s, t);
  const bool dls = type == kDls;
  const bool noRotor = dls || type == kElectrophoresis;
  const bool equilibrium = type == kEquilibrium || type == kMultiEquilibrium;
  const double noise = dls ? 0.0001 : equilibrium ? 0.005 : 0.01;
  float centerpiece = noRotor ? 0.0f : 2.0f;
  float pathLength = noRotor ? 1.0f : 1.2f;
  float rotor = noRotor ? 0.0f : 4.0f;
  float extinction = 1.0f;

  std::string& text = file.text;
  text += TypeLine(type);
  const char* description =
      dls && s.dlsRecords.size() > 1 ? s.dlsRecords[1].description : s.records[1].description;
  exchange::Appendf(text, "%s (exported xp file from TARNEL)\n", XpDescriptionText(description).c_str());
  text += NameLine(s);

  SolutionConditions& sc = gSolutionConditions;
  float viscosity = sc.viscosity * kWaterViscosityPoise10;
  // A serial fit answers nothing, whoever called.
  if (!askNothing && !gSerialFitSettings.running) {
    AskPositive(sc.density, "buffer density (g/ml)");
    AskPositive(viscosity, "buffer viscosity (cPoise)");
    sc.viscosity = viscosity / kWaterViscosityPoise10;
    AskPositive(sc.vbar, "partial-specific volume (ml/g)");
    sc.vbarRho = sc.vbar * sc.density;
    if (NonidealModelSelected()) AskFloat(extinction, "molar extinction coefficient", kCaption);
    if (equilibrium) {
      AskFloat(centerpiece, "centerpiece (2 or 6)", kCaption);
      centerpiece = centerpiece == 6.0f ? 6.0f : 2.0f;
    }
    if (!noRotor) {
      AskFloat(pathLength, "optical pathlength (cm)", kCaption);
      AskFloat(rotor, "rotor type (4 or 8)", kCaption);
      rotor = rotor == 8.0f ? 8.0f : 4.0f;
    }
  }

  const ModelParams& mp = gModelParams;
  const FitEngineState& fs = gFitEngineState;
  using exchange::Appendf;
  Appendf(text, "%f (fBufferDensity)\n", static_cast<double>(sc.density));
  Appendf(text, "%f (fBufferViscosity)\n", static_cast<double>(viscosity) * 0.1);
  Appendf(text, "%f (VBAR)\n", static_cast<double>(sc.vbar));
  Appendf(text, "%f (Meniscus)\n", static_cast<double>(mp.meniscus));
  Appendf(text, "%f (Bottom)\n", static_cast<double>(mp.bottom));
  Appendf(text, "%f (MAXMENISCUS)\n", static_cast<double>(fs.meniscusMax));
  Appendf(text, "%f (MINMENISCUS)\n", static_cast<double>(fs.meniscusMin));
  Appendf(text, "%f (MAXBOTTOM)\n", static_cast<double>(fs.bottomMax));
  Appendf(text, "%f (MINBOTTOM)\n", static_cast<double>(fs.bottomMin));
  Appendf(text, "%f (FitLeftLim)\n", static_cast<double>(s.leftFitLimit));
  Appendf(text, "%f (FitRightLim)\n", static_cast<double>(s.rightFitLimit));
  Appendf(text, "%f (WeightExperiment)\n", 1.0);
  Appendf(text, "%f (ExperimentalNoise)\n", noise);
  Appendf(text, "%d (blocalFitTimeIndepNoise)\n", fs.fitTINoise ? 1 : 0);
  Appendf(text, "%d (blocalFitRINoise)\n", mp.riNoiseFit ? 1 : 0);
  Appendf(text, "%d (blocalAutoVaryBaseline)\n", mp.baselineLinear ? 1 : 0);
  Appendf(text, "%d (blocalVaryBottom)\n", mp.bottomFit ? 1 : 0);
  Appendf(text, "%d (blocalVaryMeniscus)\n", mp.meniscusFit ? 1 : 0);
  Appendf(text, "%d (blocalVaryMeniscusWarned)\n", mp.meniscusWarningGiven ? 1 : 0);
  Appendf(text, "%f (xBaseline)\n", static_cast<double>(mp.baseline));
  text += "1.00000 (xConcentrationFactor)\n";
  Appendf(text, "%f (xExtinctionCoeffA)\n", static_cast<double>(extinction));
  Appendf(text, "%d (bVaryExtinctionCoeffA)\n", 0);
  Appendf(text, "%f (xExtinctionCoeffB)\n", 1.0);
  Appendf(text, "%d (bVaryExtinctionCoeffB)\n", 0);
  Appendf(text, "%d (Centerpiece)\n", static_cast<int>(centerpiece));
  for (int k = 1; k <= 4; ++k) Appendf(text, "1.000000e-6 (pLocalConcentrations[%d])\n", k);
  Appendf(text, "%d (NFILES)\n", s.count);
  text += "0 (no ppMultiLocalConcentrations)\n";
  Appendf(text, "%f (global VBAR20)\n", static_cast<double>(sc.vbar20));
  Appendf(text, "%f (global HYDRATION)\n", 0.3);
  Appendf(text, "%f (pathlength)\n", static_cast<double>(pathLength));
  Appendf(text, "%d (rotor type: ", static_cast<int>(rotor));
  text += rotor == 8.0f ? " EIGHTHOLE)\n" : rotor == 4.0f ? " FOURHOLE)\n" : " NOROTOR)\n";
  Appendf(text, "%d (correct for rotor stretch in TI noise)\n", 0);
  Appendf(text, "%d (correct for rotor stretch in mass balance)\n", 0);
  Appendf(text, "%d (sets of extra parameters follow)\n", 3);
  for (int k = 1; k <= 3; ++k) Appendf(text, "0.000000e+00 (pLocalExtraConcs[%d])\n", k);
  const int extraSets = equilibrium ? s.count : 1;
  for (int i = 1; i <= extraSets; ++i)
    for (int k = 1; k <= 3; ++k) Appendf(text, "0.000000e+00 (ppMultiLocalExtraConcs[%d][%d])\n", i, k);
  Appendf(text, "%d (bContainsNoBackdiffusion)\n", 0);
  Appendf(text, "%d (bSwIsothermAInvisible)\n", 0);
  Appendf(text, "%f (xExtinctionCoeffC)\n", 1.0);
  AppendSwitchesOff(text);
  text += "-1 (Temperature C)\n";
  Appendf(text, "%f (ITCcellvolume)\n", 0.0);
  text += "0 (# spectral changes)\n";
  Appendf(text, "%d (bDataIsOriginal)\n", 1);
  Appendf(text, "%d (SpecDataModel)\n", 0);
  Appendf(text, "%d (bNormalizeSpectroscopyData)\n", 0);
  Appendf(text, "%d (bUseMonteCarloNoise)\n", 0);
  Appendf(text, "%d (bUseMonteCarloResiduals)\n", 1);
  Appendf(text, "%f (MonteCarloNoise)\n", 0.0);
  Appendf(text, "%d (bMultiplyWeightSqrtNxN1)\n", 0);
  Appendf(text, "%d (normal conditions warned)\n", 0);
  Appendf(text, "%d (bWithHDExchange)\n", 0);
  Appendf(text, "%f (HDExchangeDmolfract)\n", 0.0);
  Appendf(text, "%d (bConcCorrectionLocalAllowed)\n", 0);
  Appendf(text, "%d (nNumberExcludedIsothermDataPoints)\n", 0);
  Appendf(text, "%f (fBufferIonizationEnthalpy)\n", 1.2);
  Appendf(text, "%f (fBufferIonizationHeatCapacity)\n", 0.0);
  Appendf(text, "%f (fpH)\n", 7.5);
  Appendf(text, "%f (fCosolventConc)\n", 0.0);
  text += "0.000000 (deltaHapplocal)\n";
  Appendf(text, "%d (VarydeltaHapplocal)\n", 0);
  Appendf(text, "%d (bITCUnmixedNeck)\n", 1);
  return file.Close();
}

bool WriteSortedEquilibriumXpFile(const EqXpFile& xp) {
  const int files = static_cast<int>(xp.names.size());
  if (files < 1) return false;
  exchange::TextFile file(xp.path);
  if (!file.Open()) return false;
  using exchange::Appendf;
  std::string& text = file.text;
  text += files == 1 ? "3 (ExperimentType: SEDEQUILIBRIUM)\n" : "4 (ExperimentType: MULTISEDEQ)\n";
  text += "(exported xp file from TARNEL)\n";
  text += "\"" + xp.folder + "\" \"";
  for (const std::string& name : xp.names) text += " " + name;
  text += "\"\n";
  const ModelParams& mp = gModelParams;
  const ScanSet& s = CurrentScanSet();
  Appendf(text, "%f (fBufferDensity)\n", static_cast<double>(xp.density));
  Appendf(text, "%f (fBufferViscosity)\n", 0.001002);
  Appendf(text, "%f (VBAR)\n", static_cast<double>(xp.vbar));
  Appendf(text, "%f (Meniscus)\n", static_cast<double>(mp.meniscus));
  Appendf(text, "%f (Bottom)\n", static_cast<double>(mp.bottom));
  for (const char* key : {"MAXMENISCUS", "MINMENISCUS", "MAXBOTTOM", "MINBOTTOM"}) Appendf(text, "%f (%s)\n", 0.0, key);
  Appendf(text, "%f (FitLeftLim)\n", static_cast<double>(s.leftFitLimit));
  Appendf(text, "%f (FitRightLim)\n", static_cast<double>(s.rightFitLimit));
  Appendf(text, "%f (WeightExperiment)\n", 1.0);
  Appendf(text, "%f (ExperimentalNoise)\n", 0.005);
  const int localNoise = xp.interference && files >= 2 ? 1 : 0;
  Appendf(text, "%d (blocalFitTimeIndepNoise)\n", localNoise);
  Appendf(text, "%d (blocalFitRINoise)\n", localNoise);
  Appendf(text, "%d (blocalAutoVaryBaseline)\n", 1);
  for (const char* key : {"blocalVaryBottom", "blocalVaryMeniscus", "blocalVaryMeniscusWarned"})
    Appendf(text, "%d (%s)\n", 0, key);
  Appendf(text, "%f (xBaseline)\n", 0.0);
  text += "1.00000 (xConcentrationFactor)\n";
  Appendf(text, "%f (xExtinctionCoeffA)\n", static_cast<double>(xp.extinctionA));
  Appendf(text, "%d (bVaryExtinctionCoeffA)\n", 0);
  Appendf(text, "%f (xExtinctionCoeffB)\n", static_cast<double>(xp.extinctionB));
  Appendf(text, "%d (bVaryExtinctionCoeffB)\n", 0);
  Appendf(text, "%d (Centerpiece)\n", 2);
  for (int k = 1; k <= 4; ++k) Appendf(text, "1.000000e-6 (pLocalConcentrations[%d])\n", k);
  Appendf(text, "%d (NFILES)\n", files);
  text += "0 (ppMultiLocalConcentrations)\n";
  Appendf(text, "%f (global VBAR20)\n", static_cast<double>(xp.vbar));
  Appendf(text, "%f (global HYDRATION)\n", 0.3);
  Appendf(text, "%f (pathlength)\n", 1.2);
  Appendf(text, "%d (rotor type: ", 8);
  text += " EIGHTHOLE)\n";
  Appendf(text, "%d (correct for rotor stretch in TI noise)\n", 0);
  Appendf(text, "%d (correct for rotor stretch in mass balance)\n", 0);
  Appendf(text, "%d (sets of extra parameters follow)\n", 3);
  for (int k = 1; k <= 3; ++k) Appendf(text, "0.000000e+00 (pLocalExtraConcs[%d])\n", k);
  for (int i = 1; i <= files; ++i)
    for (int k = 1; k <= 3; ++k) Appendf(text, "0.000000e+00 (ppMultiLocalExtraConcs[%d][%d])\n", i, k);
  Appendf(text, "%d (bContainsNoBackdiffusion)\n", 0);
  Appendf(text, "%d (bSwIsothermAInvisible)\n", 0);
  Appendf(text, "%f (xExtinctionCoeffC)\n", static_cast<double>(xp.extinctionC));
  AppendSwitchesOff(text);
  text += "-1 (Temperature)\n";
  return file.Close();
}

// ---- reading ------------------------------------------------------------------

namespace {

// The leading number of a line; false when it holds none.
bool LeadingNumber(const std::string& line, double& value) {
  const char* begin = line.c_str();
  char* end = nullptr;
  value = std::strtod(begin, &end);
  return end != begin && std::isfinite(value);
}

// "folder" " name1 name2 ...": false unless both strings are there.
bool SplitNameLine(const std::string& line, std::string& folder, std::vector<std::string>& names) {
  const std::size_t q1 = 0;
  const std::size_t q2 = line.find('"', q1 + 1);
  if (q2 == std::string::npos) return false;
  const std::size_t q3 = line.find('"', q2 + 1);
  if (q3 == std::string::npos) return false;
  const std::size_t q4 = line.find('"', q3 + 1);
  if (q4 == std::string::npos) return false;
  folder = line.substr(q1 + 1, q2 - q1 - 1);
  const std::string list = line.substr(q3 + 1, q4 - q3 - 1);
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t end = std::min(list.find(' ', start), list.size());
    if (end > start) names.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return !folder.empty() && !names.empty();
}

}  // namespace

XpFileContents ReadXpFile(const std::string& path) {
  XpFileContents c;
  std::string text;
  if (const platform::FileReadError e =
          platform::ReadWholeFile(platform::ToNative(path), text, platform::kTableFileLimit);
      e != platform::FileReadError::None) {
    c.openError = platform::FileReadErrorText(path, e, platform::kTableFileLimit);
    return c;
  }
  std::istringstream in(text);
  std::string line;
  double type = 0;
  if (!std::getline(in, line) || !LeadingNumber(line, type)) {
    c.status = XpReadStatus::NoNumber;
    return c;
  }
  if (type != 0.0) {
    c.status = XpReadStatus::NotVelocity;
    return c;
  }
  std::getline(in, line);  // the description
  line.clear();
  // The name line is read in pieces so that a damaged file cannot make it
  // grow without bound.
  bool complete = false;
  char piece[4096];
  while (line.size() <= kXpNameLineLimit) {
    in.getline(piece, sizeof piece);
    line += piece;
    if (!in.fail()) {
      complete = true;
      break;
    }
    if (in.eof() || in.bad()) {
      complete = !line.empty();
      break;
    }
    in.clear();  // the piece filled the buffer: the line goes on
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty() || line[0] != '"') {
    c.status = complete ? XpReadStatus::OldFormat : XpReadStatus::BadNameLine;
    return c;
  }
  if (!complete || line.size() > kXpNameLineLimit || !SplitNameLine(line, c.folder, c.names)) {
    c.status = XpReadStatus::BadNameLine;
    c.names.clear();
    return c;
  }
  if (c.folder[0] == '_') {
    const platform::PathParts own = platform::SplitPath(path);
    c.folder = own.drive + own.folder + c.folder;
  }
  c.status = XpReadStatus::Ok;
  while (static_cast<int>(c.values.size()) < kXpValueCount && std::getline(in, line)) {
    double v = 0;
    if (!LeadingNumber(line, v)) break;
    c.values.push_back(v);
  }
  return c;
}

void ApplyXpValues(const std::vector<double>& values) {
  SolutionConditions& sc = gSolutionConditions;
  ModelParams& mp = gModelParams;
  FitEngineState& fs = gFitEngineState;
  auto flag = [](double v) { return std::floor(v) != 0.0 ? 1 : 0; };
  const int n = std::min(static_cast<int>(values.size()), kXpValueCount);
  for (int k = 0; k < n; ++k) {
    const double v = values[static_cast<std::size_t>(k)];
    const float f = static_cast<float>(v);
    switch (k + 1) {
      // Later code divides by these three: a value that is not positive
      // leaves the one in use.
      case 1: if (f > 0.0f) sc.density = f; sc.vbarRho = sc.vbar * sc.density; break;
      case 2: if (v > 0.0) sc.viscosity = static_cast<float>(v / 0.001002); break;
      case 3: if (f > 0.0f) sc.vbar = f; sc.vbarRho = sc.vbar * sc.density; break;
      case 4: mp.meniscus = f; break;
      case 5: mp.bottom = f; PackModelParameters(); break;
      case 6: fs.meniscusMax = f; break;
      case 7: fs.meniscusMin = f; break;
      case 8: fs.bottomMax = f; break;
      case 9: fs.bottomMin = f; break;
      case 10: EnterLeftFitLimit(f); CheckLeftFitLimit(); break;
      case 11: EnterRightFitLimit(f); CheckRightFitLimit(); break;
      case 12: case 13: break;  // weight and noise of the experiment: not used here
      case 14: fs.fitTINoise = static_cast<unsigned char>(flag(v)); break;
      case 15: mp.riNoiseFit = static_cast<unsigned char>(flag(v)); break;
      case 16: mp.baselineLinear = static_cast<unsigned char>(flag(v)); break;
      case 17: mp.bottomFit = flag(v); break;
      case 18: mp.meniscusFit = flag(v); break;
      default: break;
    }
  }
}
