// Readers of the multi-measurement exports: every measurement becomes a
// numbered dlsdat file beside the chosen output.
#include <cctype>
#include <vector>

#include "data/data_messages.h"
#include "data/dls/dls_reader_support.h"
#include "data/dls/dls_readers.h"
#include "data/dls_text.h"

using data_messages::Format;
using namespace dls_readers;

namespace {

std::string Numbered(const std::string& out, int i) { return BesideOutput(out, Format("%05d.dlsdat", i)); }

int CountOccurrences(std::string_view text, std::string_view word) {
  int n = 0;
  for (std::size_t p = text.find(word); p != std::string_view::npos; p = text.find(word, p + word.size())) ++n;
  return n;
}

// End of "Measurement number i" where no further digit follows (so that 1
// does not find 10), or npos.
std::size_t EndOfMeasurementTitle(std::string_view text, int i) {
  const std::string title = Format("Measurement number %d", i);
  for (std::size_t p = text.find(title); p != std::string_view::npos; p = text.find(title, p + 1)) {
    const std::size_t end = p + title.size();
    if (end >= text.size() || !std::isdigit(static_cast<unsigned char>(text[end]))) return end;
  }
  return std::string_view::npos;
}

// The channels' rows of tau and g(2) of every "Measurement number i"; the
// rows begin 26 characters after the title.
bool MeasurementRows(std::string_view text, int channels, std::vector<Output>& measurements, std::string& reason) {
  const int m = CountOccurrences(text, "Measurement number ");
  if (m == 0) {
    reason = "no \"Measurement number\"";
    return false;
  }
  for (int i = 1; i <= m; ++i) {
    const std::size_t end = EndOfMeasurementTitle(text, i);
    if (end == std::string_view::npos) {
      reason = Format("no \"Measurement number %d\"", i);
      return false;
    }
    std::size_t pos = end + 26;
    if (pos > text.size()) {
      reason = Format("the rows of measurement %d would begin past the end of the file", i);
      return false;
    }
    std::vector<double> rows;
    if (!dls_text::NextNumbers(text, pos, 2 * channels, rows, reason)) {
      reason = Format("measurement %d has fewer rows than the %d channels: ", i, channels) + reason;
      return false;
    }
    Output o;
    for (int k = 0; k < channels; ++k) {
      o.tau.push_back(rows[2 * static_cast<std::size_t>(k)]);
      o.y.push_back(rows[2 * static_cast<std::size_t>(k) + 1] - 1.0);
    }
    measurements.push_back(std::move(o));
  }
  return true;
}

// Rows of at least `columns` numbers on the lines after the one holding
// "SOS", up to the line that starts with a character of `stop` (blank lines
// passed over).
bool SummaryRows(std::string_view text, int columns, const char* stop, std::vector<std::vector<double>>& rows,
                 std::string& reason) {
  const std::size_t sos = text.find("SOS");
  if (sos == std::string_view::npos) {
    reason = "no summary table (\"SOS\")";
    return false;
  }
  const std::vector<std::string_view> lines = dls_text::SplitLines(text);
  for (std::size_t l = LineOf(lines, text, sos) + 1; l < lines.size(); ++l) {
    const std::vector<std::string_view> t = dls_text::Tokens(lines[l]);
    if (t.empty()) continue;
    if (std::string_view(stop).find(t[0][0]) != std::string_view::npos &&
        !(t[0].size() > 1 && std::isdigit(static_cast<unsigned char>(t[0][1]))))
      break;
    if (static_cast<int>(t.size()) < columns) {
      reason = Format("summary row %zu holds fewer than %d numbers", rows.size() + 1, columns);
      return false;
    }
    std::vector<double> v{0.0};  // columns from 1
    for (int c = 0; c < columns; ++c) {
      double x = 0;
      if (!dls_text::ToNumber(t[static_cast<std::size_t>(c)], x)) {
        reason = Format("summary row %zu holds something that is not a number", rows.size() + 1);
        return false;
      }
      v.push_back(x);
    }
    rows.push_back(std::move(v));
  }
  if (rows.empty()) {
    reason = "the summary table is empty";
    return false;
  }
  return true;
}

}  // namespace

DlsReadResult ReadDlsPSv4(const std::string& in, const std::string& out, const DlsConditions& asked, int channels) {
  std::string text, reason;
  if (channels < 1) return Failed(Format("the channel count %d is not positive", channels));
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  std::vector<Output> outputs;
  if (!MeasurementRows(text, channels, outputs, reason)) return Failed(reason);
  const int m = static_cast<int>(outputs.size());
  Output mean;
  mean.path = BesideOutput(out, "average.dlsdat");
  mean.description = in;
  mean.conditions = asked;
  mean.conditions.time = 0;
  mean.conditions.countRate = 1.0f;
  mean.tau = outputs[0].tau;
  mean.y.assign(static_cast<std::size_t>(channels), 0.0);
  for (int i = 1; i <= m; ++i) {
    Output& o = outputs[static_cast<std::size_t>(i) - 1];
    o.path = Numbered(out, i);
    o.description = in;
    o.conditions = asked;
    o.conditions.time = i;
    o.conditions.countRate = 1.0f;
    for (int k = 0; k < channels; ++k) mean.y[static_cast<std::size_t>(k)] += o.y[static_cast<std::size_t>(k)] / m;
  }
  outputs.push_back(std::move(mean));
  return WriteOutputs(in, outputs, m);
}

DlsReadResult ReadDlsPS99v520(const std::string& in, const std::string& out, const DlsConditions& asked,
                              int channels) {
  std::string text, reason;
  if (channels < 1) return Failed(Format("the channel count %d is not positive", channels));
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  std::vector<std::vector<double>> summary;
  if (!SummaryRows(text, 17, "M", summary, reason)) return Failed(reason);
  std::vector<Output> outputs;
  if (!MeasurementRows(text, channels, outputs, reason)) return Failed(reason);
  const int m = static_cast<int>(outputs.size());
  if (static_cast<int>(summary.size()) < m)
    return Failed(Format("the summary table has %zu rows for %d measurements", summary.size(), m));
  for (int i = 1; i <= m; ++i) {
    Output& o = outputs[static_cast<std::size_t>(i) - 1];
    const std::vector<double>& row = summary[static_cast<std::size_t>(i) - 1];
    o.path = Numbered(out, i);
    o.description = in;
    o.conditions = asked;
    o.conditions.time = row[2];
    o.conditions.temperature = static_cast<float>(row[14]);
    o.conditions.countRate = static_cast<float>(row[15]);
  }
  return WriteOutputs(in, outputs, m);
}

DlsReadResult ReadDlsPS99v526(const std::string& in, const std::string& out, const DlsConditions& asked,
                              int channels, bool timeCourse) {
  std::string text, reason;
  if (channels < 1) return Failed(Format("the channel count %d is not positive", channels));
  if (!dls_text::ReadWholeFile(in, text, reason)) return Failed(reason);
  double angstrom = 0, angle = 0;
  if (!ValueAfter(text, "Laser Wavelength (A)   =", angstrom, reason) ||
      !ValueAfter(text, "Scattering Angle (deg) =", angle, reason))
    return Failed(reason);
  std::vector<std::vector<double>> summary;
  if (!SummaryRows(text, 11, "-", summary, reason)) return Failed(reason);
  const int m = static_cast<int>(summary.size());
  const std::size_t table = text.find("Coefficients (Ave)");
  if (table == std::string::npos) return Failed("no \"Coefficients (Ave)\"");
  const std::vector<std::string_view> lines = dls_text::SplitLines(text);

  DlsConditions base = asked;
  base.wavelength = static_cast<float>(angstrom * 1e-10);
  base.angle = static_cast<float>(angle);
  std::vector<Output> outputs(static_cast<std::size_t>(m) + 1);  // the measurements, then the average
  for (int i = 0; i <= m; ++i) {
    Output& o = outputs[static_cast<std::size_t>(i)];
    o.description = in;
    o.conditions = base;
  }
  std::size_t l = LineOf(lines, text, table) + 1;
  for (int k = 1; k <= channels; ++k) {
    while (l < lines.size() && dls_text::IsBlank(lines[l])) ++l;
    if (l >= lines.size()) return Failed(Format("fewer data rows than the %d channels", channels));
    std::size_t pos = 0;
    std::vector<double> v;
    if (!dls_text::NextNumbers(lines[l], pos, m + 2, v, reason))
      return Failed(Format("data row %d: ", k) + reason);
    for (int i = 0; i <= m; ++i) {
      outputs[static_cast<std::size_t>(i)].tau.push_back(v[0]);
      outputs[static_cast<std::size_t>(i)].y.push_back(v[static_cast<std::size_t>(i) + 1] - 1.0);
    }
    ++l;
  }
  Output& average = outputs.back();
  average.path = BesideOutput(out, "average.dlsdat");
  double temperature = 0, time = 0, rate = 0;
  for (int i = 1; i <= m; ++i) {
    const std::vector<double>& row = summary[static_cast<std::size_t>(i) - 1];
    Output& o = outputs[static_cast<std::size_t>(i) - 1];
    o.path = Numbered(out, i);
    o.conditions.countRate = static_cast<float>(row[2]);
    o.conditions.temperature = static_cast<float>(row[8]);
    o.conditions.time = row[9];
    rate += row[2] / m;
    temperature += row[8] / m;
    time += row[9] / m;
  }
  average.conditions.countRate = static_cast<float>(rate);
  average.conditions.temperature = static_cast<float>(temperature);
  average.conditions.time = time;
  if (!timeCourse) return WriteOutputs(in, {average}, 1);
  return WriteOutputs(in, outputs, m);
}
