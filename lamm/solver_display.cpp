#include "lamm/solver_display.h"

#include <chrono>
#include <vector>

#include "data/scan_file.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "platform/paths.h"

LammSolverDisplay& CurrentLammSolverDisplay() {
  static LammSolverDisplay display;
  return display;
}

unsigned EquationColour(int k) {
  switch (k) {
    case 1: return 0x00960096;  // RGB(150, 0, 150)
    case 2: return 0x0000FF00;  // RGB(0, 255, 0)
    case 3: return 0x00FF0000;  // RGB(0, 0, 255)
    case 4: return 0x00969600;  // RGB(0, 150, 150)
    default: return 0;
  }
}

std::string CosoluteFolder(const std::string& basePath) {
  // A "1" after the base makes a base that ends in a separator keep its
  // whole folder.
  return platform::SplitPath(basePath + "1").folder;
}

bool WriteCosoluteScan(const std::string& path, const double* r, const double* c, int n,
                       const ScanRecord& header) {
  if (!r || !c || n < 1) return false;
  std::vector<float> radii(static_cast<size_t>(n) + 1), values(static_cast<size_t>(n) + 1);
  for (int i = 1; i <= n; ++i) {
    radii[i] = static_cast<float>(r[i]);
    values[i] = static_cast<float>(c[i]);
  }
  // Written at every scan of every evaluation: a folder that is not there
  // is said once, not at each scan.
  const std::string folder = platform::SplitPath(path).folder;
  if (!folder.empty() && !platform::DirectoryExists(folder)) {
    if (platform::FirstWriteFailure(folder)) ErrorBox(("\n\aAttention: could not open " + path).c_str());
    return false;
  }
  // The scan writer puts the file under a temporary name first.
  return WriteScanFile(path.c_str(), n, radii.data(), values.data(), nullptr, "component 2", 0, header);
}

bool StepLinesDue(bool last) {
  thread_local std::chrono::steady_clock::time_point shown{};
  const auto now = std::chrono::steady_clock::now();
  if (!last && now - shown < std::chrono::milliseconds(100)) return false;
  shown = now;
  return true;
}
