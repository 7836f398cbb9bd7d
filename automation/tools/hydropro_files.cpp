#include "automation/tools/hydropro_files.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

std::string Line(const char* format, double v) {
  char buf[100];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// From at to the end of its line, at most 999 characters.
std::string RestOfLine(const std::string& text, size_t at) {
  const size_t end = text.find_first_of("\r\n", at);
  const size_t length = (end == std::string::npos ? text.size() : end) - at;
  return text.substr(at, length < 999 ? length : 999);
}

}  // namespace

int NsigOf(float answer) {
  const int n = static_cast<int>(std::floor(answer));
  return n != -1 && n < 2 ? 2 : n;
}

std::string HydroProDat(const std::string& name, const HydroProInput& in) {
  std::string t = name + "\n" + name + "\n" + name + ".pdb\n";
  t += Line("%1.2f,\t\t!AER, radius of atomic elements\n", in.aer);
  t += std::to_string(in.nsig) + ",\t\t!NSIG\n";
  if (in.nsig != -1) {
    t += Line("%.2f,\t\t!NSIG\n", in.sigmin);
    t += Line("%.2f,\t\t!NSIG\n", in.sigmax);
  }
  t += Line("%.1f,\t\t!Temperature (K)\n", in.temperature);
  t += Line("%.5f,\t\t!Solvent viscosity (Poise)\n", in.viscosity);
  t += Line("%.1f,\t\t!Mw (Da)\n", in.mw);
  t += Line("%.4f,\t\t!vbar (ml/g)\n", in.vbar);
  t += Line("%.5f,\t\t!Solvent density (g/ml)\n", in.density);
  t += "0,\n0,\n0,\n0,\n*" + std::string(19, ' ');
  return t;
}

std::string FreshWorkingFolder(const std::string& base, const std::string& name) {
  std::string folder = base + name;
  std::error_code ec;
  while (std::filesystem::exists(folder, ec)) folder += "_";
  return folder;
}

std::string HydroProSummary(const std::string& results) {
  std::string errors;
  int count = 0;
  // The search starts at the fourth character; a shorter file has none.
  for (size_t at = results.size() > 3 ? results.find("***", 3) : std::string::npos; at != std::string::npos;
       at = results.find("***", at + 3)) {
    errors += RestOfLine(results, at) + "\n";
    ++count;
  }
  std::string t;
  if (count > 0) t = "Error Messages:\n" + errors + "\n\n";
  const size_t s = results.find("Sedimentation coefficient:");
  t += s == std::string::npos ? "no \"Sedimentation coefficient:\" line in the results file" : RestOfLine(results, s);
  t += "\n\n(Compare experimental s-values at the same conditions, \ni.e. transform experimental s-values from "
       "TARNEL to s20w \n[see TARNEL Calculator function]\nif you used standard conditions in HYDROPRO)";
  t += "\n\nPlease cite the reference publication of HYDROPRO: Biophys. J. 78, 719-730 (2000)";
  return t;
}
