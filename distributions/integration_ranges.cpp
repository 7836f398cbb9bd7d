#include "distributions/integration_ranges.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "data/data_messages.h"
#include "data/scan_loading.h"
#include "distributions/integrate_distribution.h"
#include "numerics/arrays.h"
#include "numerics/clipboard_tables.h"
#include "platform/error_box.h"
#include "numerics/matrix_files.h"
#include "platform/sounds.h"
#include "platform/clipboard.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

namespace {

constexpr size_t kMaxPath = 259;

const std::string& PointerFile() { return platform::ProgramPaths.IntegrationRangesPath[0]; }

using data_messages::Format;

// The reader skips empty lines; a ranges file must not have any, since
// each line stands for one range.
bool HasEmptyLine(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return true;
  }
  return false;
}

bool ReadRanges(const std::string& path, std::vector<IntegrationRange>& ranges) {
  std::string text;
  if (const platform::FileReadError e = platform::ReadWholeFile(path, text, platform::kTableFileLimit);
      e != platform::FileReadError::None) {
    ErrorBox(("\n\x07" "Attention: " + platform::FileReadErrorText(path, e, platform::kTableFileLimit)).c_str());
    return false;
  }
  if (HasEmptyLine(text)) {
    ErrorBox(Format("\n\x07" "Attention: could not read from %s", path.c_str()).c_str());
    return false;
  }
  int count = 0;
  float** m = ReadMatrixFile2(path.c_str(), 2, &count);
  if (!m) return false;
  for (int i = 1; i <= count; ++i) ranges.push_back({m[i][1], m[i][2]});
  free_matrix(m, 1, count, 1, 2);
  return count > 0;
}


}  // namespace

IntegrationRangesState& IntegrationRanges() {
  static IntegrationRangesState state;
  return state;
}

bool SaveIntegrationRangesChoice(const std::string& rangesPath) {
  return platform::WriteWholeFile(PointerFile(), rangesPath);
}

bool LoadIntegrationRanges() {
  IntegrationRangesState& s = IntegrationRanges();
  std::string pointer;
  if (const platform::FileReadError e = platform::ReadWholeFile(PointerFile(), pointer, platform::kSettingsFileLimit);
      e != platform::FileReadError::None) {
    // No pointer file: no ranges chosen. One that is there but unusable is said.
    if (e != platform::FileReadError::Missing)
      platform::Tell("SET INTEGRATION RANGE",
                     platform::FileReadErrorText(PointerFile(), e, platform::kSettingsFileLimit),
                     platform::BoxIcon::Error);
    s.loaded = false;
    return false;
  }
  std::istringstream in(pointer);
  std::string path;
  std::getline(in, path);
  // A hand-edited pointer file may end its line; the path is the line alone.
  while (!path.empty() && (path.back() == '\r' || path.back() == '\n')) path.pop_back();
  if (path.size() > kMaxPath) path.resize(kMaxPath);
  s.path = path;
  s.ranges.clear();
  if (!ReadRanges(path, s.ranges)) {
    s.ranges.clear();
    s.loaded = false;
    platform::Tell("SET INTEGRATION RANGE", Format("could not load distribution ranges from file %s", path.c_str()),
                   platform::BoxIcon::Error);
    return false;
  }
  s.loaded = true;
  return true;
}

RangesReport IntegrateRangeList(const std::vector<IntegrationRange>& ranges, const std::string& rangesPath) {
  RangesReport r;
  r.text = Format("automatic integration limits are switched on, using file %s:\n", rangesPath.c_str());
  float c1 = 0.0f;
  int i = 0;
  for (const IntegrationRange& range : ranges) {
    ++i;
    RangeIntegral row;
    row.sMin = range.sMin;
    row.sMax = range.sMax;
    r.text += Format("%d: from %.2fS to %0.2fS\n", i, range.sMin, range.sMax);
    float total = 0.0f;
    IntegrateDistribution(range.sMin, range.sMax, &row.c, &row.sw, &total);
    if (i == 1) {
      r.text += Format("\t c = %.4f (this is considered total for following %% amounts), sw = %.3f\n", row.c,
             row.sw);
      c1 = row.c;
    } else if (c1 > 0.0f) {
      r.text += Format("\t c = %.4f (%.2f%% of c in range #1), sw = %.3f\n", row.c, 100.0 * row.c / c1, row.sw);
    } else {
      r.text += Format("\t c = %.4f, sw = %.3f\n", row.c, row.sw);
    }
    row.percent = c1 > 0.0f ? 100.0f * row.c / c1 : 0.0f;
    r.rows.push_back(row);
  }
  const int n = static_cast<int>(r.rows.size());
  std::vector<float> cols[5];
  for (auto& col : cols) col.assign(static_cast<size_t>(n) + 1, 0.0f);
  for (int k = 1; k <= n; ++k) {
    const RangeIntegral& row = r.rows[static_cast<size_t>(k - 1)];
    cols[0][k] = row.sMin;
    cols[1][k] = row.sMax;
    cols[2][k] = row.c;
    cols[3][k] = row.percent;
    cols[4][k] = row.sw;
  }
  const float* y[5] = {nullptr, cols[1].data(), cols[2].data(), cols[3].data(), cols[4].data()};
  r.table = ColumnsTableText(cols[0].data(), y, 1, n, 4);
  return r;
}

bool IntegrateRangesFromFile(bool optionOn) {
  if (!optionOn || !LoadIntegrationRanges()) return false;
  const IntegrationRangesState& s = IntegrationRanges();
  const RangesReport report = IntegrateRangeList(s.ranges, s.path);
  const std::string out = platform::Combine(CurrentDataPaths().dataFolder, "integrals.dat");
  if (!platform::WriteWholeFile(out, report.text + " ")) {
    platform::Tell("ERROR", Format("could not open file %s for writing", out.c_str()), platform::BoxIcon::Error);
    PlaySoundError();
    return false;
  }
  if (!platform::Processes().OpenTextEditor(platform::ToNative(out)))
    platform::Tell("ERROR", Format("could not start a text editor to show %s", out.c_str()), platform::BoxIcon::Error);
  platform::Clipboard().SetText(report.table);
  return true;
}
