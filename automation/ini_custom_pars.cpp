#include "automation/ini_custom_pars.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"

namespace {


// The opening tag of key at or after from: "<key" followed by ">", a blank
// (attributes follow) or "/" (an empty element). npos when there is none.
std::size_t FindOpeningTag(const std::string& t, const std::string& key, std::size_t from) {
  const std::string head = "<" + key;
  while (from < t.size()) {  // each turn moves on by at least one character
    const std::size_t at = t.find(head, from);
    if (at == std::string::npos) return at;
    const std::size_t next = at + head.size();
    const char c = next < t.size() ? t[next] : '\0';
    if (c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r') return at;
    from = at + 1;
  }
  return std::string::npos;
}

// The closing tag of key at or after from, "</key" with blanks allowed
// before its ">" (</Smax >, well-formed XML); its end goes to end.
std::size_t FindClosingTag(const std::string& t, const std::string& key, std::size_t from, std::size_t& end) {
  const std::string head = "</" + key;
  while (from < t.size()) {  // each turn moves on by at least one character
    const std::size_t at = t.find(head, from);
    if (at == std::string::npos) return at;
    std::size_t next = at + head.size();
    while (next < t.size() && (t[next] == ' ' || t[next] == '\t' || t[next] == '\n' || t[next] == '\r')) ++next;
    if (next < t.size() && t[next] == '>') {
      end = next + 1;
      return at;
    }
    from = at + 1;
  }
  return std::string::npos;
}

// Decimal number at the start of the text (blanks skipped), 0 when none.
double LeadingNumber(const std::string& value) {
  const char* begin = value.c_str();
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  return end == begin ? 0.0 : v;
}

// The five entities of XML replaced by their characters, in one pass (so
// "&amp;lt;" stays "&lt;"): the result file writes & and < so, and a value
// read back from it must not grow at each reuse. Anything else stays as
// written, a bare & included.
std::string DecodeXmlEntities(const std::string& value) {
  static const struct {
    const char* entity;
    char c;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size();) {
    bool replaced = false;
    if (value[i] == '&')
      for (const auto& e : kEntities)
        if (value.compare(i, std::strlen(e.entity), e.entity) == 0) {
          out.push_back(e.c);
          i += std::strlen(e.entity);
          replaced = true;
          break;
        }
    if (!replaced) out.push_back(value[i++]);
  }
  return out;
}

int32_t TruncatedInteger(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return static_cast<int32_t>(-2147483647 - 1);
  return static_cast<int32_t>(v);  // toward zero
}

bool Contains(const std::string& value, const char* word) {
  return value.find(word) != std::string::npos;
}

// Copies a text value into a fixed buffer; a value that does not fit is
// refused instead of cut, so that no path is silently shortened.
bool CopyIntoBuffer(char* buffer, int capacity, const std::string& value) {
  if (static_cast<int>(value.size()) >= capacity) return false;
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return true;
}

std::string Number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// Values no analysis can start from: an empty s-range divides by zero into
// a distribution of inf, a medium without viscosity or density has no
// sedimentation, and a grid needs two points. Every other number must lie
// where real samples and rotors do: a Vbar of 0 or NaN gives no molar mass
// and the fit wanders off, a NaN confidence level changes the result. NaN
// fails every test here.
bool ValuesArePhysical(CIniCustomPars& r) {
  if (!(r.Smin < r.Smax) || !std::isfinite(r.Smin) || !std::isfinite(r.Smax)) {
    r.rejection = "Smin (" + Number(r.Smin) + ") must be below Smax (" + Number(r.Smax) + ")";
    return false;
  }
  // Upper bounds no sample reaches: a partial-specific volume of 10 ml/g is
  // a particle lighter than 0.1 g/ml, a density of 10 g/ml a liquid heavier
  // than any gradient medium, 100 poise thicker than honey, 100 cm a rotor
  // larger than any centrifuge's.
  constexpr double kRadiusLimit = 100.0;
  // Above 1 the confidence level is read as the chi-square ratio itself; a fit
  // allowed a hundred times the best chi-square is no fit any more.
  constexpr double kChiSquareRatioLimit = 100.0;
  const struct {
    const char* name;
    float value;
    double below;     // the value must be above this (or at least, with orEqual)
    bool orEqual;
    double atMost;
  } ranges[] = {{"BufferViscosity", r.BufferViscosity, 0, false, 100},
                {"BufferDensity", r.BufferDensity, 0, false, 10},
                {"StartingFrictionalRatio", r.StartingFrictionalRatio, 0, false, 100},
                {"Vbar", r.Vbar, 0, false, 10},
                {"RegularizationPvalue", r.RegularizationPvalue, 0, true, kChiSquareRatioLimit},
                {"Meniscus", r.Meniscus, 0, false, kRadiusLimit},
                {"MeniscusLowerLimit", r.MeniscusLowerLimit, 0, false, kRadiusLimit},
                {"MeniscusUpperLimit", r.MeniscusUpperLimit, 0, false, kRadiusLimit},
                {"Bottom", r.Bottom, 0, false, kRadiusLimit},
                {"BottomLowerLimit", r.BottomLowerLimit, 0, false, kRadiusLimit},
                {"BottomUpperLimit", r.BottomUpperLimit, 0, false, kRadiusLimit},
                // 0 leaves the fit range at the data's ends.
                {"LeftFitLimit", r.LeftFitLimit, 0, true, kRadiusLimit},
                {"RightFitLimit", r.RightFitLimit, 0, true, kRadiusLimit},
                {"DataSpikeThreshold", r.DataSpikeThreshold, 0, false, HUGE_VAL}};
  for (const auto& p : ranges) {
    const double v = p.value;
    const bool low = p.orEqual ? !(v >= p.below) : !(v > p.below);
    if (low || !std::isfinite(v)) {
      r.rejection = std::string(p.name) + " (" + Number(v) + ") must be " + (p.orEqual ? "at least " : "above ") +
                    Number(p.below);
      return false;
    }
    if (v > p.atMost) {
      r.rejection = std::string(p.name) + " (" + Number(v) + ") must be at most " + Number(p.atMost);
      return false;
    }
  }
  // A fit limit may pin its value; a cell needs room between meniscus and bottom.
  const struct {
    const char* lowName;
    float low;
    const char* highName;
    float high;
    bool mayEqual;
  } ordered[] = {{"Meniscus", r.Meniscus, "Bottom", r.Bottom, false},
                 {"MeniscusLowerLimit", r.MeniscusLowerLimit, "MeniscusUpperLimit", r.MeniscusUpperLimit, true},
                 {"BottomLowerLimit", r.BottomLowerLimit, "BottomUpperLimit", r.BottomUpperLimit, true}};
  for (const auto& o : ordered)
    if (o.mayEqual ? !(o.low <= o.high) : !(o.low < o.high)) {
      r.rejection = std::string(o.lowName) + " (" + Number(o.low) + ") must " +
                    (o.mayEqual ? "not be above " : "be below ") + o.highName + " (" +
                    Number(o.high) + ")";
      return false;
    }
  if (r.Resolution < 2) {
    r.rejection = "Resolution (" + std::to_string(r.Resolution) + ") must be at least 2";
    return false;
  }
  // Any other model would leave the analysis unchosen and fail only after a
  // result set was written. None named is the user's to choose in the window
  // when no step of the run needs one (judged by the reader).
  if (r.Model[0] && std::strcmp(r.Model, "cofs") != 0 && std::strcmp(r.Model, "lsgofs") != 0) {
    r.rejection = std::string("Model (\"") + r.Model + "\") must be cofs or lsgofs";
    return false;
  }
  return true;
}

}  // namespace

CIniCustomPars::CIniCustomPars() = default;


bool ReadWholeFile(std::string& textOut, const std::string& path) {
  if (path.empty()) return false;
  // A FIFO or device named as the parameter file is refused, never waited on.
  std::string text;
  if (!platform::ReadRegularFile(platform::ToNative(path), text, false, platform::kTableFileLimit)) return false;
  // Text mode: a carriage return before a line feed is part of the line end.
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  textOut.swap(out);
  return true;
}

bool ReadXmlElement(const std::string* text, const std::string& path, const char* key,
                    std::string* textOut, float* floatOut, int32_t* intOut, uint8_t* boolOut,
                    ElementOutcome* outcome) {
  ElementOutcome ignored;
  ElementOutcome& said = outcome ? *outcome : ignored;
  said = ElementOutcome::kAbsent;
  std::string fromFile;
  if (!text) {
    if (!ReadWholeFile(fromFile, path)) return false;
    text = &fromFile;
  }
  if (!key || !*key) return false;
  const std::string k(key);
  const std::string& t = *text;

  // The element is found by its opening tag and closed by its whole closing
  // tag: a bare-name search would land inside a longer element (Meniscus in
  // MeniscusLowerLimit) or inside a value (a folder named Model), misreading
  // or rejecting a well-formed file. The opening tag may carry attributes
  // (<Smax unit="S">): the value starts after its first ">".
  const std::size_t first = FindOpeningTag(t, k, 0);
  if (first == std::string::npos) return false;
  const std::size_t tagEnd = t.find('>', first);
  // No end of the tag, an empty element (<Smax/>) or no closing tag: the
  // element is there but has no value to read.
  if (tagEnd == std::string::npos || t[tagEnd - 1] == '/') {
    said = ElementOutcome::kUnreadable;
    return false;
  }
  const std::size_t valueStart = tagEnd + 1;
  std::size_t behind = 0;
  const std::size_t valueEnd = FindClosingTag(t, k, valueStart, behind);
  if (valueEnd == std::string::npos) {
    said = ElementOutcome::kUnreadable;
    return false;
  }

  if (FindOpeningTag(t, k, behind) != std::string::npos) {
    said = ElementOutcome::kRepeated;
    return false;
  }
  const std::string value = t.substr(valueStart, valueEnd - valueStart);

  if (boolOut) {
    if (Contains(value, "TRUE") || Contains(value, "true"))
      *boolOut = 1;
    else if (Contains(value, "FALSE") || Contains(value, "false"))
      *boolOut = 0;
    else {
      said = ElementOutcome::kUnreadable;
      return false;
    }
  }
  if (textOut) *textOut = DecodeXmlEntities(value);
  const double number = (floatOut || intOut) ? LeadingNumber(value) : 0.0;
  if (floatOut) *floatOut = static_cast<float>(number);
  if (intOut) *intOut = TruncatedInteger(number);
  said = ElementOutcome::kRead;
  return true;
}

bool ReadAutomationParameterFile(CIniCustomPars& r, const std::string& path) {
  r.valid = 0;
  r.rejection.clear();
  r.unreadElements.clear();
  std::string text;
  if (!ReadWholeFile(text, path)) {
    struct stat st {};
    const bool special = !path.empty() && stat(platform::ToNative(path).c_str(), &st) == 0 &&
                         !S_ISREG(st.st_mode);
    r.rejection = special ? path + " is not a regular file" : "cannot read " + path;
    return false;
  }
  // What the last lookup met, and whether any met a repeated element.
  ElementOutcome met = ElementOutcome::kAbsent;
  bool repeated = false;
  auto read = [&](const char* key, std::string* t, float* x, int32_t* n, uint8_t* y) {
    const bool ok = ReadXmlElement(&text, path, key, t, x, n, y, &met);
    repeated = repeated || met == ElementOutcome::kRepeated;
    return ok;
  };
  std::string value;
  auto missing = [&](const char* key) {
    r.rejection = repeated                             ? std::string("element ") + key + " occurs twice"
                  : met == ElementOutcome::kUnreadable ? std::string("element ") + key + " cannot be read"
                                                       : std::string("element ") + key + " is missing";
    return false;
  };
  // An optional element that is there but cannot be read keeps its default,
  // and the run's log names it.
  auto noteUnread = [&](const char* key) {
    if (met == ElementOutcome::kUnreadable) r.unreadElements.push_back(key);
  };
  auto tooLong = [&](const char* key) {
    r.rejection = std::string("value of ") + key + " is too long";
    return false;
  };
  auto requiredText = [&](const char* key, char* buffer, int capacity) {
    if (!read(key, &value, nullptr, nullptr, nullptr)) return missing(key);
    if (!CopyIntoBuffer(buffer, capacity, value)) return tooLong(key);
    return true;
  };

  // Required elements, in this order; the first failure ends the reading.
  if (!requiredText("AllDoneFlagFile", r.AllDoneFlagFile, CIniCustomPars::kPathCapacity) ||
      !requiredText("OutputResultsDirectory", r.OutputResultsDirectory,
                    CIniCustomPars::kPathCapacity) ||
      !requiredText("DataDirectory", r.DataDirectory, CIniCustomPars::kPathCapacity))
    return false;
  if (!read("PassThrough", &value, nullptr, nullptr, nullptr))
    return missing("PassThrough");
  r.PassThrough = value;
  r.hasPassThrough = true;
  if (!requiredText("Channel", r.Channel, CIniCustomPars::kChannelCapacity)) return false;
  // The channel is a file extension: a folder part would let it point anywhere.
  if (std::strpbrk(r.Channel, "/\\")) {
    r.rejection = "Channel holds a path separator";
    return false;
  }
  if (!read("FirstScan", nullptr, nullptr, &r.FirstScan, nullptr))
    return missing("FirstScan");
  if (!read("LastScan", nullptr, nullptr, &r.LastScan, nullptr))
    return missing("LastScan");
  if (!read("ScanInterval", nullptr, nullptr, &r.ScanInterval, nullptr))
    return missing("ScanInterval");

  // Optional elements: a found value replaces the default.
  auto f = [&](const char* key, float& field) {
    if (!read(key, nullptr, &field, nullptr, nullptr)) noteUnread(key);
  };
  auto b = [&](const char* key, uint8_t& field) {
    if (!read(key, nullptr, nullptr, nullptr, &field)) noteUnread(key);
  };
  auto i = [&](const char* key, int32_t& field) {
    if (!read(key, nullptr, nullptr, &field, nullptr)) noteUnread(key);
  };
  bool overlong = false;
  auto word = [&](const char* key, char* buffer) {
    if (!read(key, &value, nullptr, nullptr, nullptr)) return noteUnread(key);
    if (!CopyIntoBuffer(buffer, CIniCustomPars::kWordCapacity, value) && !overlong) {
      overlong = true;
      tooLong(key);
    }
  };
  f("Meniscus", r.Meniscus);
  f("MeniscusLowerLimit", r.MeniscusLowerLimit);
  f("MeniscusUpperLimit", r.MeniscusUpperLimit);
  b("MeniscusFitted", r.MeniscusFitted);
  f("Bottom", r.Bottom);
  f("BottomLowerLimit", r.BottomLowerLimit);
  f("BottomUpperLimit", r.BottomUpperLimit);
  b("BottomFitted", r.BottomFitted);
  f("LeftFitLimit", r.LeftFitLimit);
  f("RightFitLimit", r.RightFitLimit);
  // The analysis to run. A run that runs, fits or exits by itself would end
  // with a result set of nothing without it; a file that only loads the data
  // leaves the choice to the user in the window (judged below, once the
  // switches are read).
  std::string modelFault;
  bool modelUnreadable = false;
  if (!read("Model", &value, nullptr, nullptr, nullptr)) {
    modelUnreadable = met == ElementOutcome::kUnreadable;
    if (met != ElementOutcome::kRepeated)
      modelFault = modelUnreadable ? "element Model cannot be read" : "element Model is missing";
  } else if (!CopyIntoBuffer(r.Model, CIniCustomPars::kWordCapacity, value)) {
    overlong = true;
    tooLong("Model");
  }
  word("RegularizationType", r.RegularizationType);
  f("RegularizationPvalue", r.RegularizationPvalue);
  f("StartingFrictionalRatio", r.StartingFrictionalRatio);
  b("FrictionalRatioFitted", r.FrictionalRatioFitted);
  b("BaselineFitted", r.BaselineFitted);
  b("RINoiseFitted", r.RINoiseFitted);
  b("TINoiseFitted", r.TINoiseFitted);
  i("Resolution", r.Resolution);
  f("Smin", r.Smin);
  f("Smax", r.Smax);
  b("GridfromFile", r.GridfromFile);
  b("UseLogSpaceSgrid", r.UseLogSpaceSgrid);
  f("Vbar", r.Vbar);
  f("BufferDensity", r.BufferDensity);
  f("BufferViscosity", r.BufferViscosity);
  b("SupressBaselineCorrelation", r.SupressBaselineCorrelation);
  // The misspelt name was accepted once; the right one wins when both occur.
  word("FittinAlgorithm", r.FittingAlgorithm);
  word("FittingAlgorithm", r.FittingAlgorithm);
  b("ShowResidualsHistogram", r.ShowResidualsHistogram);
  b("AutoRun", r.AutoRun);
  b("AutoExit", r.AutoExit);
  b("AutoFit", r.AutoFit);
  b("AutoSubtractSystematicNoise", r.AutoSubtractSystematicNoise);
  i("NumberComputationThreads", r.NumberComputationThreads);
  b("FilterDataSpikes", r.FilterDataSpikes);
  f("DataSpikeThreshold", r.DataSpikeThreshold);
  b("CheckTimeStamps", r.CheckTimeStamps);

  if (overlong) return false;
  if (repeated) {
    r.rejection = "an element occurs twice";
    return false;
  }
  // An element that cannot be read is a fault of the file whatever runs.
  const char* stepNeedingModel = r.AutoRun ? "AutoRun" : r.AutoFit ? "AutoFit" : r.AutoExit ? "AutoExit" : nullptr;
  if (modelUnreadable || (!r.Model[0] && stepNeedingModel)) {
    if (modelFault.empty()) modelFault = "Model (\"\") must be cofs or lsgofs";
    r.rejection = modelFault;
    if (!modelUnreadable) r.rejection += std::string(" (") + stepNeedingModel + " needs a model)";
    return false;
  }
  if (!ValuesArePhysical(r)) return false;
  r.valid = 1;
  return true;
}
