#include "numerics/ccurve.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "numerics/text_lines.h"
#include "platform/error_box.h"
#include "platform/paths.h"

int CCurve::liveCurves = 0;

namespace {

void CouldNotOpen(const char* name) {
  char text[1200];
  std::snprintf(text, sizeof text, "\n\x07" "Attention: could not open %s", name ? name : "");
  ErrorBox(text);
}

// A write that failed after the file was opened (a full disk, a file-size
// limit): the earlier file stays, and the failure is said.
bool Committed(platform::CheckedOutputFile& file, const char* name) {
  if (file.Commit()) return true;
  char text[1200];
  std::snprintf(text, sizeof text, "\n\x07" "Attention: could not write %s", name ? name : "");
  ErrorBox(text);
  return false;
}

void CouldNotRead(const std::string& message) { ErrorBox(("\n\x07" "Attention: " + message).c_str()); }

// One "%f" value followed by an optional ';' or ','.
bool NextValue(const char*& p, float* v) {
  char* end = nullptr;
  const float value = std::strtof(p, &end);
  if (end == p) return false;
  p = end;
  if (*p == ';' || *p == ',') ++p;
  if (v) *v = value;
  return true;
}

bool ParseColumns(const std::string& line, int xColumn, int yColumn, float* x, float* y) {
  const char* p = line.c_str();
  for (int c = 1; c < xColumn; ++c)
    if (!NextValue(p, nullptr)) return false;
  if (!NextValue(p, x)) return false;
  for (int c = xColumn + 1; c < yColumn; ++c)
    if (!NextValue(p, nullptr)) return false;
  return NextValue(p, y);
}

// Reads the x/y pairs of a file's lines; false at the first unreadable line.
bool ReadPairs(const char* name, int xColumn, int yColumn, std::vector<float>& xs,
               std::vector<float>& ys, std::string* refusal) {
  const platform::CheckedInputFile in(name ? name : "", platform::kTableFileLimit);
  *refusal = in.ErrorText();
  if (!in) return false;
  std::FILE* f = in.get();
  std::string line;
  bool ok = xColumn >= 1 && yColumn > xColumn;
  while (ok && ReadLine(f, line)) {
    if (BlankLine(line)) continue;
    float x, y;
    if (!ParseColumns(line, xColumn, yColumn, &x, &y)) {
      ok = false;
      break;
    }
    xs.push_back(x);
    ys.push_back(y);
  }
  return ok;
}

}  // namespace

CCurve::CCurve() { ++liveCurves; }

CCurve::CCurve(CVector* xv, CVector* yv) : x(xv), y(yv) { ++liveCurves; }

CCurve::CCurve(float* xs, float* ys, int n, int offsetX, int offsetY)
    : ownsVectors(1), x(new CVector(n > 0 ? n : 0, 1)), y(new CVector(n > 0 ? n : 0, 1)) {
  ++liveCurves;
  for (int i = 0; i < n; ++i) {
    x->data[i] = xs[offsetX + i];
    y->data[i] = ys[offsetY + i];
  }
}

CCurve::CCurve(const CCurve& other) : x(other.x), y(other.y) { ++liveCurves; }

CCurve::~CCurve() {
  --liveCurves;
  if (ownsVectors) {
    delete x;
    delete y;
  }
}

int CCurve::LiveCount() { return liveCurves; }

namespace {

// The y that beats all others among points from..to-1 with x in [x1, x2]
// (x ascending: the first x past x2 ends the search); 0 for none.
template <typename Beats>
float ExtremeYInXWindow(const CCurve& c, float x1, float x2, int from, int to, Beats beats) {
  const int n = c.Count();
  if (from < 0) from = 0;
  if (to > n) to = n;
  bool found = false;
  float m = 0.0f;
  for (int i = from; i < to; ++i) {
    const float xi = c.x->data[i];
    if (xi > x2) break;
    if (xi < x1) continue;
    if (!found || beats(c.y->data[i], m)) m = c.y->data[i];
    found = true;
  }
  return m;
}

}  // namespace

float CCurve::MinYInXWindow(float x1, float x2, int from, int to) const {
  return ExtremeYInXWindow(*this, x1, x2, from, to, std::less<float>());
}

float CCurve::MaxYInXWindow(float x1, float x2, int from, int to) const {
  return ExtremeYInXWindow(*this, x1, x2, from, to, std::greater<float>());
}

float CCurve::MinYInXWindowAll(float x1, float x2) const { return MinYInXWindow(x1, x2, 0, Count()); }
float CCurve::MaxYInXWindowAll(float x1, float x2) const { return MaxYInXWindow(x1, x2, 0, Count()); }

float CCurve::MeanYInXWindow(float x1, float x2) const {
  double sum = 0;
  int k = 0;
  for (int i = 0; i < Count(); ++i) {
    if (x->data[i] < x1 || x->data[i] > x2) continue;
    sum += y->data[i];
    ++k;
  }
  return k ? static_cast<float>(sum / k) : 0.0f;
}

float CCurve::XAtMaxY() const {
  const int n = Count();
  if (n == 0) return 0.0f;
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (y->data[i] > y->data[best]) best = i;
  return x->data[best];
}

int CCurve::NearestIndex(float x0) const {
  const int n = Count();
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (std::fabs(x->data[i] - x0) < std::fabs(x->data[best] - x0)) best = i;
  return best;
}

int CCurve::NearestXPoint(float x0, float* xOut, float* yOut) const {
  const int i = NearestIndex(x0);
  if (Count() > 0) {
    if (xOut) *xOut = x->data[i];
    if (yOut) *yOut = y->data[i];
  }
  return i;
}

int CCurve::NearestYPoint(float y0, float* xOut, float* yOut) const {
  const int n = Count();
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (std::fabs(y->data[i] - y0) < std::fabs(y->data[best] - y0)) best = i;
  if (n > 0) {
    if (xOut) *xOut = x->data[best];
    if (yOut) *yOut = y->data[best];
  }
  return best;
}

int CCurve::NearestPoint(float x0, float y0, float* xOut, float* yOut) const {
  const int n = Count();
  int best = 0;
  float bestD = 0;
  for (int i = 0; i < n; ++i) {
    const float dx = x->data[i] - x0, dy = y->data[i] - y0;
    const float d = dx * dx + dy * dy;
    if (i == 0 || d < bestD) {
      best = i;
      bestD = d;
    }
  }
  if (n > 0) {
    if (xOut) *xOut = x->data[best];
    if (yOut) *yOut = y->data[best];
  }
  return best;
}

float CCurve::InterpolateY(float x0) const {
  const int n = Count();
  if (n == 0) return 0.0f;
  if (n == 1) return y->data[0];
  const int i = NearestIndex(x0);
  const float* xs = x->data;
  const float* ys = y->data;
  if (xs[i] == x0) return ys[i];
  int a, b;
  if (xs[i] > x0) {
    a = i - 1;
    b = i;
    if (i == 0) a = 0, b = 1;
  } else {
    a = i;
    b = i + 1;
    if (i == n - 1) a = n - 2, b = n - 1;
  }
  const double dx = static_cast<double>(xs[b]) - xs[a];
  if (dx == 0) return ys[a];
  return static_cast<float>(ys[a] + (static_cast<double>(ys[b]) - ys[a]) * (x0 - xs[a]) / dx);
}

int CCurve::FindPeaks(float* xOut, float* yOut, int* indexOut, int maxPeaks,
                      int halfWidth) const {
  if (maxPeaks < 1 || halfWidth < 1 || !xOut || !yOut) return 0;
  const int n = Count();
  std::vector<int> peaks;
  for (int p = halfWidth; p <= n - halfWidth - 1; ++p) {
    bool peak = true;
    for (int k = 1; k <= halfWidth && peak; ++k)
      peak = y->data[p] > y->data[p - k] && y->data[p] > y->data[p + k];
    if (peak) peaks.push_back(p);
  }
  // Stable insertion by descending height: equal peaks keep their order.
  for (size_t i = 1; i < peaks.size(); ++i) {
    const int v = peaks[i];
    size_t j = i;
    while (j > 0 && y->data[peaks[j - 1]] < y->data[v]) {
      peaks[j] = peaks[j - 1];
      --j;
    }
    peaks[j] = v;
  }
  const int delivered = static_cast<int>(peaks.size()) < maxPeaks ? static_cast<int>(peaks.size())
                                                                   : maxPeaks;
  for (int k = 0; k < delivered; ++k) {
    xOut[k + 1] = x->data[peaks[k]];
    yOut[k + 1] = y->data[peaks[k]];
    if (indexOut) indexOut[k + 1] = peaks[k] + 1;
  }
  return delivered;
}

void CCurve::SortByX() {
  const int n = Count();
  if (n < 2) return;
  float* xs = x->data;
  float* ys = y->data;
  int i = 0;
  while (i < n - 1) {
    if (xs[i] > xs[i + 1]) {
      std::swap(xs[i], xs[i + 1]);
      std::swap(ys[i], ys[i + 1]);
      if (i > 0) --i;
    } else {
      ++i;
    }
  }
}

bool CCurve::WriteToFile(const char* name) const {
  platform::CheckedOutputFile file(name ? name : "");
  std::FILE* f = file.get();
  if (!f) {
    CouldNotOpen(name);
    return false;
  }
  for (int i = 0; i < Count(); ++i)
    std::fprintf(f, "%e %e\n", static_cast<double>(x->data[i]), static_cast<double>(y->data[i]));
  return Committed(file, name);
}

bool WriteXYArrays(const char* name, int n, const float* x, const float* y) {
  platform::CheckedOutputFile file(name ? name : "");
  std::FILE* f = file.get();
  if (!f) {
    CouldNotOpen(name);
    return false;
  }
  for (int i = 1; i <= n; ++i)
    std::fprintf(f, "%f %f\n", static_cast<double>(x[i]), static_cast<double>(y[i]));
  return Committed(file, name);
}

bool CCurve::ReadFromFile(const char* name, int xColumn, int yColumn) {
  return ReadFromFileAveraged(name, xColumn, yColumn, 1);
}

bool CCurve::ReadFromFileAveraged(const char* name, int xColumn, int yColumn, int k) {
  std::vector<float> xs, ys;
  std::string refusal;
  const bool ok = ReadPairs(name, xColumn, yColumn, xs, ys, &refusal);
  if (!refusal.empty()) {
    CouldNotRead(refusal);
    return false;
  }
  if (k < 1) k = 1;
  const int n = static_cast<int>(xs.size());
  const int groups = (n + k - 1) / k;
  if (ownsVectors) {
    delete x;
    delete y;
  }
  x = new CVector(groups, 1);
  y = new CVector(groups, 1);
  ownsVectors = 1;
  for (int g = 0; g < groups; ++g) {
    double sx = 0, sy = 0;
    int m = 0;
    for (int i = g * k; i < n && i < (g + 1) * k; ++i, ++m) {
      sx += xs[i];
      sy += ys[i];
    }
    x->data[g] = static_cast<float>(sx / m);
    y->data[g] = static_cast<float>(sy / m);
  }
  return ok;
}
