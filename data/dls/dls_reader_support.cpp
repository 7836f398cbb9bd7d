#include "data/dls/dls_reader_support.h"

#include <cmath>
#include <system_error>

#include "data/data_messages.h"
#include "data/dls_text.h"
#include "platform/paths.h"

using data_messages::Format;

namespace dls_readers {

DlsReadResult Failed(std::string reason) {
  DlsReadResult r;
  r.reason = std::move(reason);
  return r;
}

DlsReadResult WriteOutputs(const std::string& input, const std::vector<Output>& outputs, int files) {
  if (outputs.empty()) return Failed("nothing to write");
  for (const Output& o : outputs) {
    if (o.path.empty()) return Failed("no output file name");
    if (platform::SameFile(o.path, input)) return Failed(o.path + " would overwrite the export");
    const std::string bad = CheckDlsConditions(o.conditions);
    if (!bad.empty()) return Failed(bad);
    if (o.tau.empty()) return Failed("no data rows");
    for (std::size_t k = 0; k < o.tau.size(); ++k) {
      if (!(o.tau[k] > 0)) return Failed(Format("row %zu: the lag time %g is not positive", k + 1, o.tau[k]));
      const std::string bad = CheckDlsdatRow(k + 1, o.tau[k], k < o.y.size() ? o.y[k] : 0.0);
      if (!bad.empty()) return Failed(bad);
    }
  }
  for (const Output& o : outputs) {
    const int n = static_cast<int>(o.tau.size());
    std::vector<float> x(static_cast<std::size_t>(n) + 1), y(static_cast<std::size_t>(n) + 1);
    for (int k = 1; k <= n; ++k) {
      x[static_cast<std::size_t>(k)] = static_cast<float>(o.tau[static_cast<std::size_t>(k) - 1]);
      y[static_cast<std::size_t>(k)] = static_cast<float>(o.y[static_cast<std::size_t>(k) - 1]);
    }
    if (!WriteDlsdatArrays(o.path, n, x.data(), y.data(), DlsXForm::LagTimes, o.description, o.conditions))
      return Failed("could not write " + o.path);
  }
  DlsReadResult r;
  r.files = files;
  return r;
}

std::string BesideOutput(const std::string& out, const std::string& name) {
  const platform::PathParts p = platform::SplitPath(out);
  return p.drive + p.folder + name;
}

std::size_t After(std::string_view text, std::string_view keyword, std::size_t from) {
  const std::size_t at = text.find(keyword, from);
  return at == std::string_view::npos ? at : at + keyword.size();
}

bool ValueAfter(std::string_view text, std::string_view keyword, double& value, std::string& reason) {
  std::size_t p = After(text, keyword);
  if (p == std::string_view::npos) {
    reason = "no \"" + std::string(keyword) + "\"";
    return false;
  }
  const char last = keyword.back();
  if (last != ':' && last != '=') {
    while (p < text.size() && text[p] != '\n' && text[p] != ':' && text[p] != '=' && text[p] != '\t') ++p;
    if (p >= text.size() || text[p] == '\n') {
      reason = "no value after \"" + std::string(keyword) + "\"";
      return false;
    }
  }
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t' || text[p] == ':' || text[p] == '=')) ++p;
  const std::string_view token = dls_text::TokenAt(text, p);
  if (p < text.size() && text[p] == '\n') {
    reason = "no value after \"" + std::string(keyword) + "\"";
    return false;
  }
  if (!dls_text::ToNumber(token, value)) {
    reason = "the value of \"" + std::string(keyword) + "\" is not a number";
    return false;
  }
  return true;
}

std::size_t LineOf(const std::vector<std::string_view>& lines, std::string_view text, std::size_t pos) {
  for (std::size_t l = 0; l < lines.size(); ++l) {
    const std::size_t start = static_cast<std::size_t>(lines[l].data() - text.data());
    if (pos < start + lines[l].size() + 1) return l;
  }
  return lines.size();
}

bool RowsUntilBlank(const std::vector<std::string_view>& lines, std::size_t first, double tauScale,
                    double yShift, Output& o, std::string& reason) {
  for (std::size_t l = first; l < lines.size() && !dls_text::IsBlank(lines[l]); ++l) {
    const std::vector<std::string_view> t = dls_text::Tokens(lines[l]);
    const std::size_t row = o.tau.size() + 1;
    double tau = 0, value = 0;
    if (t.size() < 2) {
      reason = Format("data row %zu is incomplete", row);
      return false;
    }
    if (!dls_text::ToNumber(t[0], tau) || !dls_text::ToNumber(t[1], value)) {
      reason = Format("data row %zu holds something that is not a number", row);
      return false;
    }
    o.tau.push_back(tau * tauScale);
    o.y.push_back(value + yShift);
  }
  if (o.tau.empty()) {
    reason = "no data rows";
    return false;
  }
  return true;
}

bool ChannelCount(double value, int& channels, std::string& reason) {
  const double whole = std::trunc(value);
  if (!(whole >= 1 && whole <= 1e6)) {
    reason = Format("the channel count %g is not between 1 and 1000000", value);
    return false;
  }
  channels = static_cast<int>(whole);
  return true;
}

}  // namespace dls_readers
