#include "data/dlsdat_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "data/data_messages.h"
#include "data/dls_text.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "platform/error_box.h"
#include "platform/paths.h"

using data_messages::Format;

namespace {

// Characters a description keeps; the first other character ends it.
bool KeptInDescription(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
         std::strchr("#\\_/:,.", c) != nullptr;
}

void CopyDescription(std::string_view line, char (&out)[100]) {
  std::size_t n = 0;
  while (n < line.size() && n < sizeof out - 1 && KeptInDescription(line[n])) ++n;
  std::memcpy(out, line.data(), n);
  out[n] = '\0';
}

// A description on one line: line breaks would end the header early.
std::string OneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\n' || c == '\r') c = ' ';
  return out;
}

long WholeSeconds(double t) {
  if (!std::isfinite(t) || std::fabs(t) > 9.0e18) return 0;
  return static_cast<long>(t);
}

float SignedSquare(float y) { return y < 0 ? -y * y : y * y; }

float SignedRoot(float y) {
  if (y > 0) return std::sqrt(y);
  if (y < 0) return -std::sqrt(-y);
  return 0.0f;
}

}  // namespace

std::string CheckDlsConditions(const DlsConditions& c) {
  const double values[] = {c.temperature, c.time, c.countRate, c.refractiveIndex, c.viscosity, c.angle,
                           c.wavelength};
  for (double v : values)
    if (!std::isfinite(v)) return "a header value is not a finite number";
  if (c.wavelength <= 0) return Format("the wavelength %g m is not positive", c.wavelength);
  if (!(c.angle > 0 && c.angle <= 180)) return Format("the scattering angle %g is outside (0, 180] degrees", c.angle);
  if (c.refractiveIndex <= 0) return Format("the refractive index %g is not positive", c.refractiveIndex);
  if (c.viscosity <= 0) return Format("the viscosity %g P is not positive", c.viscosity);
  return {};
}

DlsConditions ConditionsOf(const DlsHeaderRecord& r) {
  DlsConditions c;
  c.temperature = r.temperature;
  c.time = r.time;
  c.countRate = r.countRate;
  c.refractiveIndex = r.refractiveIndex;
  c.viscosity = r.viscosity;
  c.angle = r.angle;
  c.wavelength = r.wavelength;
  return c;
}

std::string CheckDlsdatRow(std::size_t row, double tau, double y) {
  // The file is read back in single precision: a lag time beyond its range
  // would be written as "inf" (or "0") and the loader would stop at its row.
  const float tauAsRead = static_cast<float>(tau);
  if (!std::isfinite(tau) || !std::isfinite(tauAsRead) || !(tauAsRead > 0.0f))
    return Format("row %zu: the lag time %g s is outside the range a dlsdat file can hold", row, tau);
  if (!std::isfinite(static_cast<float>(y)))
    return Format("row %zu: the value %g is outside the range a dlsdat file can hold", row, y);
  return {};
}

bool WriteDlsdatFile(const std::string& path, const CCurve& curve, DlsXForm xForm,
                     const std::string& description, const DlsConditions& c) {
  const int rows = curve.Count();
  for (int k = 0; k < rows; ++k) {
    const double x = (*curve.x)[static_cast<unsigned>(k)];
    const double tau = xForm == DlsXForm::LagTimes ? x : std::pow(10.0, x);
    const std::string bad =
        CheckDlsdatRow(static_cast<std::size_t>(k) + 1, tau, (*curve.y)[static_cast<unsigned>(k)]);
    if (!bad.empty()) {
      ErrorBox(("\n\aAttention: nothing written to " + path + ":\n" + bad).c_str());
      return false;
    }
  }
  // Written under a temporary name and renamed into place: a full disk
  // leaves no cut file that the loader would take for a measurement.
  bool opened = false, aboveOne = false;
  const bool ok = platform::WriteThroughTemporary(path, [&](const std::string& temporary) {
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (!f) return false;
    opened = true;
    std::fprintf(f, "%s\n", OneLine(description).c_str());
    std::fprintf(f, "A %f %ld %.2f %f %f %f %e\n", c.temperature, WholeSeconds(c.time), c.countRate,
                 c.refractiveIndex, c.viscosity, c.angle, c.wavelength);
    for (int k = 0; k < rows; ++k) {
      const double x = (*curve.x)[static_cast<unsigned>(k)];
      const double y = (*curve.y)[static_cast<unsigned>(k)];
      const double tau = xForm == DlsXForm::LagTimes ? x : std::pow(10.0, x);
      if (y > 1.0) aboveOne = true;
      std::fprintf(f, "   %1.5e  %1.5e \n", tau, y);
    }
    const bool written = std::ferror(f) == 0;
    return std::fclose(f) == 0 && written;
  });
  if (!ok) {
    ErrorBox(("\n\aAttention: could not " + std::string(opened ? "write " : "open ") + path).c_str());
    return false;
  }
  if (aboveOne) ErrorBox("please check DLSDAT format - should be g(2)-1");
  return true;
}

bool WriteDlsdatArrays(const std::string& path, int n, const float* x, const float* y, DlsXForm xForm,
                       const std::string& description, const DlsConditions& c) {
  CVector xs, ys;
  xs.Attach(const_cast<float*>(x), n, 1);
  ys.Attach(const_cast<float*>(y), n, 1);
  const CCurve curve(&xs, &ys);
  return WriteDlsdatFile(path, curve, xForm, description, c);
}

bool WriteDlsdatSet(const std::string& path, int n, const float* x, const float* y, const char* description,
                    const DlsHeaderRecord& r) {
  DlsConditions c = ConditionsOf(r);
  c.time = static_cast<double>(WholeSeconds(r.time));
  return WriteDlsdatArrays(path, n, x, y, DlsXForm::Log10LagTimes, description ? description : r.description, c);
}

int ReadDlsdatForLoad(const std::string& path, DlsHeaderRecord* header, int* points, float** x, float** y,
                      bool keepG2, std::string* reason) {
  std::string why;
  auto fail = [&](std::string text) {
    if (reason) *reason = std::move(text);
    return 0;
  };
  std::string text;
  if (!dls_text::ReadWholeFile(path, text, why)) return fail(why);
  const std::vector<std::string_view> lines = dls_text::SplitLines(text);
  if (lines.size() < 2) return fail("no header line");
  const std::vector<std::string_view> head = dls_text::Tokens(lines[1]);
  if (head.empty() || (head[0] != "A" && head[0] != "C")) return fail("line 2 does not begin with A or C");
  const bool g2 = head[0] == "C";
  if (head.size() < 8) return fail("line 2 holds fewer than seven numbers");
  double v[7];
  for (int k = 0; k < 7; ++k)
    if (!dls_text::ToNumber(head[static_cast<std::size_t>(k) + 1], v[k]))
      return fail("\"" + std::string(head[static_cast<std::size_t>(k) + 1]) + "\" in line 2 is not a number");
  DlsHeaderRecord r;
  CopyDescription(lines[0], r.description);
  r.temperature = static_cast<float>(v[0]);
  r.time = v[1];
  r.countRate = static_cast<float>(v[2]);
  r.refractiveIndex = static_cast<float>(v[3]);
  r.viscosity = static_cast<float>(v[4]);
  r.angle = static_cast<float>(v[5]);
  r.wavelength = static_cast<float>(v[6]);
  const std::string bad = CheckDlsConditions(ConditionsOf(r));
  if (!bad.empty()) return fail(bad);

  std::vector<float> taus, values;
  for (std::size_t l = 2; l < lines.size(); ++l) {
    if (dls_text::IsBlank(lines[l])) continue;
    const std::vector<std::string_view> t = dls_text::Tokens(lines[l]);
    const int row = static_cast<int>(taus.size()) + 1;
    double tau = 0, value = 0;
    if (t.size() < 2) return fail(Format("row %d is incomplete", row));
    if (!dls_text::ToNumber(t[0], tau) || !dls_text::ToNumber(t[1], value))
      return fail(Format("row %d holds something that is not a number", row));
    if (tau <= 0) return fail(Format("row %d: the lag time %g is not positive", row, tau));
    taus.push_back(static_cast<float>(std::log10(tau)));
    values.push_back(static_cast<float>(g2 ? value - 1.0 : value));
  }
  const int n = static_cast<int>(taus.size());
  if (n == 0) return fail("no data rows");
  *x = vector(1, n);
  *y = vector(1, n);
  for (int k = 1; k <= n; ++k) {
    (*x)[k] = taus[static_cast<std::size_t>(k) - 1];
    (*y)[k] = values[static_cast<std::size_t>(k) - 1];
  }
  r.points = n;
  r.fieldFlag = 0;
  if (!keepG2) ConvertG2ToG1(n, *y, r);
  *header = r;
  *points = n;
  return 1;
}

int ConvertG2ToG1(int n, float* y, DlsHeaderRecord& r) {
  if (r.fieldFlag) return 0;
  for (int k = 1; k <= n; ++k) y[k] = SignedRoot(y[k]);
  r.fieldFlag = 1;
  return 1;
}

int ConvertG1ToG2(int n, float* y, DlsHeaderRecord& r) {
  if (!r.fieldFlag) return 0;
  for (int k = 1; k <= n; ++k) y[k] = SignedSquare(y[k]);
  r.fieldFlag = 0;
  return 1;
}
