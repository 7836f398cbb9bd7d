// Readers of the single-measurement exports.
#include "data/dls/dls_readers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "data/data_messages.h"
#include "data/dls/dls_reader_support.h"
#include "data/dls_text.h"
#include "numerics/sorting.h"

using data_messages::Format;
using namespace dls_readers;

namespace {

// Rows of tau (us) and g(2) after the line holding the first "Coef".
DlsReadResult ReadCoefficientRows(const std::string& in, const std::string& out, const DlsConditions& asked,
                                  bool commasAreBlanks) {
  std::string text, reason;
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  if (commasAreBlanks) std::replace(text.begin(), text.end(), ',', ' ');
  const std::vector<std::string_view> lines = dls_text::SplitLines(text);
  const std::size_t coef = text.find("Coef");
  const std::size_t first = coef == std::string::npos ? 1 : LineOf(lines, text, coef) + 1;
  Output o;
  o.path = out;
  o.conditions = asked;
  o.conditions.time = 0;
  o.conditions.countRate = 1.0f;
  if (!RowsUntilBlank(lines, first, 1e-6, -1.0, o, reason)) return Failed(reason);
  return WriteOutputs(in, {o}, 1);
}

// Rows of all lines of a two-column file; blank lines are passed over.
bool TwoColumns(const std::string& text, std::vector<double>& a, std::vector<double>& b, std::string& reason) {
  for (std::string_view line : dls_text::SplitLines(text)) {
    if (dls_text::IsBlank(line)) continue;
    std::size_t pos = 0;
    std::vector<double> v;
    if (!dls_text::NextNumbers(line, pos, 2, v, reason)) {
      reason = Format("row %zu: ", a.size() + 1) + reason;
      return false;
    }
    a.push_back(v[0]);
    b.push_back(v[1]);
  }
  return true;
}

// "hh:mm:ss" in quotes after "Time", in seconds.
bool QuotedClock(std::string_view text, double& seconds, std::string& reason) {
  std::size_t p = After(text, "Time");
  if (p != std::string_view::npos) p = text.find('"', p);
  int h = 0, m = 0, s = 0;
  if (p == std::string_view::npos ||
      std::sscanf(std::string(text.substr(p + 1, 16)).c_str(), "%d:%d:%d", &h, &m, &s) != 3) {
    reason = "no time \"hh:mm:ss\" after \"Time\"";
    return false;
  }
  seconds = h * 3600.0 + m * 60.0 + s;
  return true;
}

// The BIC layouts: `leading` numbers, of which position 7 (and 21 when the
// newer layout) count the channels, then the rows of tau (us) and counts.
DlsReadResult ReadBicLayout(const std::string& in, const std::string& out, int leading, bool newLayout) {
  std::string text, reason;
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  std::size_t pos = 0;
  std::vector<double> v{0.0};  // positions from 1
  if (!dls_text::NextNumbers(text, pos, leading, v, reason))
    return Failed(Format("the %d leading numbers: ", leading) + reason);
  int channels = 0;
  const double count = std::trunc(v[7]) + (newLayout ? std::trunc(v[21]) : 0.0);
  if (!ChannelCount(count, channels, reason)) return Failed(reason);
  const double baseline = v[23];
  if (!(baseline > 0)) return Failed(Format("the baseline %g is not positive", baseline));
  Output o;
  o.path = out;
  o.conditions.countRate = static_cast<float>(v[2]);
  o.conditions.angle = static_cast<float>(v[9]);
  o.conditions.wavelength = static_cast<float>(v[10] * 1e-9);
  o.conditions.temperature = static_cast<float>(v[11] - 273.15);
  o.conditions.viscosity = static_cast<float>(v[12] * 0.01);
  o.conditions.refractiveIndex = static_cast<float>(v[14]);
  o.conditions.time = 0;
  std::vector<double> rows;
  if (!dls_text::NextNumbers(text, pos, 2 * channels, rows, reason))
    return Failed(Format("fewer data rows than the %d channels: ", channels) + reason);
  for (int k = 0; k < channels; ++k) {
    o.tau.push_back(rows[2 * static_cast<std::size_t>(k)] * 1e-6);
    o.y.push_back(rows[2 * static_cast<std::size_t>(k) + 1] / baseline - 1.0);
  }
  if (newLayout) {
    // The four text lines after the data: sample, operator and two notes.
    std::size_t end = text.find('\n', pos);
    std::vector<std::string> notes;
    while (end != std::string::npos && notes.size() < 4) {
      const std::size_t next = text.find('\n', end + 1);
      std::string line = text.substr(end + 1, next == std::string::npos ? std::string::npos : next - end - 1);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
      notes.push_back(line);
      end = next;
    }
    notes.resize(4);
    o.description = Format("sample: %s, operator: %s, %s, %s", notes[0].c_str(), notes[1].c_str(),
                           notes[2].c_str(), notes[3].c_str());
  }
  return WriteOutputs(in, {o}, 1);
}

}  // namespace

DlsReadResult ReadDlsDynamics7(const std::string& in, const std::string& out, const DlsConditions& asked) {
  return ReadCoefficientRows(in, out, asked, true);
}

DlsReadResult ReadDlsPS99v6(const std::string& in, const std::string& out, const DlsConditions& asked) {
  return ReadCoefficientRows(in, out, asked, false);
}

DlsReadResult ReadDlsPhotoCor(const std::string& in, const std::string& out) {
  std::string text, reason;
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  double temperature = 0, viscosity = 0, index = 0, wavelength = 0, angle = 0, intensity = 0, sample = 0,
         count = 0;
  if (!ValueAfter(text, "Temperature, C", temperature, reason) ||
      !ValueAfter(text, "Viscosity, cP", viscosity, reason) ||
      !ValueAfter(text, "Refractive index", index, reason) ||
      !ValueAfter(text, "Laser wavelength, nm", wavelength, reason) ||
      !ValueAfter(text, "Scatteting angle, deg", angle, reason) ||
      !ValueAfter(text, "Mean signal intensity, Hz", intensity, reason) ||
      !ValueAfter(text, "Sample time, s", sample, reason) || !ValueAfter(text, "Number of channels", count, reason))
    return Failed(reason);
  int channels = 0;
  if (!ChannelCount(count, channels, reason)) return Failed(reason);
  // Reports give the wavelength in nm, some older ones in Angstrom.
  double metres = 0;
  if (wavelength >= 200 && wavelength <= 2000)
    metres = wavelength * 1e-9;
  else if (wavelength > 2000 && wavelength <= 20000)
    metres = wavelength * 1e-10;
  else
    return Failed(Format("the laser wavelength %g is neither nm (200-2000) nor Angstrom (2000-20000)", wavelength));
  Output o;
  o.path = out;
  o.conditions.temperature = static_cast<float>(temperature);
  o.conditions.viscosity = static_cast<float>(viscosity * 0.01);
  o.conditions.refractiveIndex = static_cast<float>(index);
  o.conditions.wavelength = static_cast<float>(metres);
  o.conditions.angle = static_cast<float>(angle);
  o.conditions.countRate = static_cast<float>(intensity);
  o.conditions.time = 1.0;
  for (int i = 1; i <= channels; ++i) {
    double arg = 0, acf = 0;
    std::string missing;
    if (!ValueAfter(text, Format("ARG[%d] =", i), arg, missing)) break;
    if (!ValueAfter(text, Format("ACF[%d] =", i), acf, reason)) return Failed(reason);
    o.tau.push_back(arg * sample);
    o.y.push_back(acf);
  }
  return WriteOutputs(in, {o}, 1);
}

DlsReadResult ReadDlsALV(const std::string& in, const std::string& out) {
  std::string text, reason;
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  double time = 0, kelvin = 0, viscosity = 0, index = 0, wavelength = 0, angle = 0, rate = 0;
  if (!QuotedClock(text, time, reason) || !ValueAfter(text, "Temperature ", kelvin, reason) ||
      !ValueAfter(text, "Viscosity ", viscosity, reason) || !ValueAfter(text, "Index", index, reason) ||
      !ValueAfter(text, "Wavelength ", wavelength, reason) || !ValueAfter(text, "Angle ", angle, reason) ||
      !ValueAfter(text, "MeanCR0 ", rate, reason))
    return Failed(reason);
  std::size_t at = text.find("Lag [ms]");
  if (at == std::string::npos) at = text.find("Correlation");
  if (at == std::string::npos) return Failed("no \"Correlation\"");
  const std::vector<std::string_view> lines = dls_text::SplitLines(text);
  Output o;
  o.path = out;
  o.conditions.time = time;
  o.conditions.temperature = static_cast<float>(kelvin - 273.15);
  o.conditions.viscosity = static_cast<float>(viscosity * 0.01);
  o.conditions.refractiveIndex = static_cast<float>(index);
  o.conditions.wavelength = static_cast<float>(wavelength * 1e-9);
  o.conditions.angle = static_cast<float>(angle);
  o.conditions.countRate = static_cast<float>(rate * 1000.0);
  if (!RowsUntilBlank(lines, LineOf(lines, text, at) + 1, 0.001, 0.0, o, reason)) return Failed(reason);
  return WriteOutputs(in, {o}, 1);
}

DlsReadResult ReadDls2ColumnG2(const std::string& in, const std::string& out, float timeUnit, float baseline,
                               const DlsConditions& asked) {
  if (!(baseline > 0)) return Failed(Format("the baseline %g is not positive", baseline));
  if (!(timeUnit > 0)) return Failed(Format("the time unit %g is not positive", timeUnit));
  std::string text, reason;
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  std::vector<double> tau, g2;
  if (!TwoColumns(text, tau, g2, reason)) return Failed(reason);
  const int n = static_cast<int>(tau.size());
  if (n == 0) return Failed("no data rows");
  // An intensity autocorrelation decays to the baseline from above: values
  // that all lie below it are some other quantity (most often g(2)-1 already
  // normalised), which this conversion would turn into -1 in every row.
  if (std::all_of(g2.begin(), g2.end(), [baseline](double v) { return v < baseline; }))
    return Failed(Format("every value lies below the measured baseline count rate %g, so the data are no "
                         "intensity autocorrelation g(2); normalised g(2)-1 data are converted by "
                         "\"2 Column ASCII g(2)-1\"",
                         baseline));
  std::vector<float> a(static_cast<std::size_t>(n) + 1), b(static_cast<std::size_t>(n) + 1);
  for (int k = 1; k <= n; ++k) {
    a[static_cast<std::size_t>(k)] = static_cast<float>(tau[static_cast<std::size_t>(k) - 1] * timeUnit);
    b[static_cast<std::size_t>(k)] = static_cast<float>(g2[static_cast<std::size_t>(k) - 1] / baseline - 1.0);
  }
  sort2(n, a.data(), b.data());
  Output o;
  o.path = out;
  o.conditions = asked;
  for (int k = 1; k <= n; ++k) {
    o.tau.push_back(a[static_cast<std::size_t>(k)]);
    o.y.push_back(b[static_cast<std::size_t>(k)]);
  }
  return WriteOutputs(in, {o}, 1);
}

DlsReadResult ReadDls2ColumnG2m1(const std::string& in, const std::string& out, const DlsConditions& asked) {
  std::string text, reason;
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  Output o;
  o.path = out;
  o.conditions = asked;
  o.conditions.countRate = 1.0f;
  std::vector<double> tau;
  if (!TwoColumns(text, tau, o.y, reason)) return Failed(reason);
  for (double t : tau) o.tau.push_back(t * 1e-6);
  return WriteOutputs(in, {o}, 1);
}

DlsReadResult ReadDlsBIC(const std::string& in, const std::string& out) { return ReadBicLayout(in, out, 37, true); }

DlsReadResult ReadDlsOldDosBIC(const std::string& in, const std::string& out) {
  return ReadBicLayout(in, out, 23, false);
}
