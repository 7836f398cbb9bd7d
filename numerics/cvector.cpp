#include "numerics/cvector.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/linear_solvers.h"
#include "numerics/regrid.h"
#include "numerics/text_lines.h"
#include "platform/paths.h"

namespace {

std::string Formatted(const char* format, const char* name) {
  char text[1200];
  std::snprintf(text, sizeof text, format, name ? name : "");
  return text;
}

// The number a line starts with (leading blanks allowed), as "%f" reads it.
bool LeadingNumber(const std::string& line, float* value) {
  const char* p = line.c_str();
  char* end = nullptr;
  const float v = std::strtof(p, &end);
  if (end == p) return false;
  *value = v;
  return true;
}

}  // namespace

float* AllocVectorData(unsigned n) {
  float* p = static_cast<float*>(std::malloc(sizeof(float) * (n ? n : 1)));
  if (!p) nrerror("Could not allocate Vector");
  return p;
}

float* FreeVectorData(float* p) {
  std::free(p);
  return nullptr;
}

float MinFloat(float a, float b) {
  return static_cast<double>(a) >= static_cast<double>(b) ? b : a;
}

float MaxFloat(float a, float b) {
  return static_cast<double>(a) > static_cast<double>(b) ? a : b;
}

CVector::CVector() = default;

CVector::CVector(int n, int attr) : attribute(attr) {
  if (n > 0) {
    data = AllocVectorData(static_cast<unsigned>(n));
    count = capacity = static_cast<unsigned>(n);
  }
}

CVector::CVector(int n, const float* source, int attr) : CVector(n, attr) {
  if (n > 0 && source) std::memcpy(data, source, sizeof(float) * static_cast<unsigned>(n));
}

CVector::CVector(const CVector& other) : attribute(other.attribute) {
  if (other.count > 0 && other.data) {
    data = AllocVectorData(other.count);
    count = capacity = other.count;
    std::memcpy(data, other.data, sizeof(float) * count);
  }
}

CVector::~CVector() {
  if (ownsData && data) FreeVectorData(data);
}

CVector& CVector::operator=(const CVector& other) {
  if (this == &other) return *this;
  if (count != other.count) {
    float* block = other.count ? AllocVectorData(other.count) : nullptr;
    if (other.count) std::memcpy(block, other.data, sizeof(float) * other.count);
    if (ownsData && data) FreeVectorData(data);
    data = block;
    count = capacity = other.count;
    attribute = other.attribute;
    ownsData = 1;
  } else if (count) {
    std::memmove(data, other.data, sizeof(float) * count);
  }
  return *this;
}

void CVector::Attach(float* p, int n, int offset) {
  AttachData(p ? p + offset : nullptr, n);
}

void CVector::AttachData(float* p, int n) {
  if (ownsData && data) FreeVectorData(data);
  ownsData = 0;
  if (n <= 0 || !p) {
    data = nullptr;
    count = capacity = 0;
    return;
  }
  data = p;
  count = capacity = static_cast<unsigned>(n);
  for (unsigned i = 0; i < count; ++i)
    if (std::fabs(data[i]) < 1e-30f) data[i] = 0.0f;
}

void CVector::Resize(int n) {
  attribute = 1;
  if (n <= 0) {
    if (ownsData && data) FreeVectorData(data);
    data = nullptr;
    count = capacity = 0;
    ownsData = 1;
    return;
  }
  const unsigned un = static_cast<unsigned>(n);
  if (data && un == count) return;
  float* block = AllocVectorData(un);
  if (data) std::memcpy(block, data, sizeof(float) * (count < un ? count : un));
  if (ownsData && data) FreeVectorData(data);
  data = block;
  count = capacity = un;
  ownsData = 1;
}

// Amortised growth: the owned block doubles when full, so that n appends
// (a table read line by line) cost O(n), not O(n^2). A view is copied into
// an owned block first, as before.
void CVector::Append(float x) {
  if (!ownsData || !data || count >= capacity) {
    unsigned grown = count < 8 ? 8u : 2u * count;
    if (grown <= count) grown = count + 1;  // never wraps below what is needed
    float* block = AllocVectorData(grown);
    if (data && count) std::memcpy(block, data, sizeof(float) * count);
    if (ownsData && data) FreeVectorData(data);
    data = block;
    capacity = grown;
    ownsData = 1;
  }
  data[count++] = x;
}

void CVector::PushBack(float x) { Append(x); }

float CVector::GetAt(int i) const {
  if (!data || i < 0 || static_cast<unsigned>(i) >= count) return 0.0f;
  return data[i];
}

float CVector::Max() const { return MaxInRange(0, static_cast<int>(count) - 1); }
float CVector::Min() const { return MinInRange(0, static_cast<int>(count) - 1); }

namespace {

// The index range clipped to the values there are.
void ClipRange(unsigned count, int& from, int& to) {
  if (from < 0) from = 0;
  if (to > static_cast<int>(count) - 1) to = static_cast<int>(count) - 1;
}

// The value of data[from..to] that beats all others (0 for no values).
template <typename Beats>
float ExtremeInRange(const float* data, unsigned count, int from, int to, Beats beats) {
  if (!data || count == 0) return 0.0f;
  ClipRange(count, from, to);
  if (to < from) return 0.0f;
  float m = data[from];
  for (int i = from + 1; i <= to; ++i)
    if (beats(data[i], m)) m = data[i];
  return m;
}

// The same over the positive values; 1 and *none set where there is none.
template <typename Beats>
float ExtremePositiveInRange(const float* data, unsigned count, int from, int to, bool* none, Beats beats) {
  if (data && count) {
    ClipRange(count, from, to);
    bool found = false;
    float m = 0.0f;
    for (int i = from; i <= to; ++i) {
      if (!(data[i] > 0.0f)) continue;
      if (!found || beats(data[i], m)) m = data[i];
      found = true;
    }
    if (found) return m;
  }
  if (none) *none = true;
  return 1.0f;
}

}  // namespace

float CVector::MaxInRange(int from, int to) const {
  return ExtremeInRange(data, count, from, to, std::greater<float>());
}

float CVector::MinInRange(int from, int to) const { return ExtremeInRange(data, count, from, to, std::less<float>()); }

float CVector::MaxPositiveInRange(int from, int to, bool* none) const {
  return ExtremePositiveInRange(data, count, from, to, none, std::greater<float>());
}

float CVector::MinPositiveInRange(int from, int to, bool* none) const {
  return ExtremePositiveInRange(data, count, from, to, none, std::less<float>());
}

bool CVector::operator==(const CVector& other) const {
  if (count != other.count) return false;
  for (unsigned i = 0; i < count; ++i)
    if (!(data[i] == other.data[i])) return false;
  return true;
}

CVector& CVector::operator*=(float s) {
  for (unsigned i = 0; i < count; ++i) data[i] *= s;
  return *this;
}

void CVector::Display() const { ErrorBox("Display vector contents not implemented"); }

namespace {

int FormatLabel(double v, char* out, int outSize) {
  char text[64];
  const float fv = static_cast<float>(v);
  if (fv == std::floor(fv) && std::fabs(fv) < 9.0e18f)
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(fv));
  else if (fv == std::floor(fv))
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(fv));
  else
    std::snprintf(text, sizeof text, "%g", static_cast<double>(fv));
  int limit = outSize - 1;
  if (limit > 19) limit = 19;
  int n = 0;
  while (n < limit && text[n] && text[n] != ' ') {
    out[n] = text[n];
    ++n;
  }
  out[n] = 0;
  return n;
}

}  // namespace

int CVector::FormatScaledElement(int i, char* out, int outSize, float scale) const {
  if (!data || count == 0 || i < 0 || static_cast<unsigned>(i) >= count || !out || outSize < 1)
    return 0;
  return FormatLabel(static_cast<float>(data[i] * scale), out, outSize);
}

int CVector::FormatPow10Element(int i, char* out, int outSize, float scale) const {
  if (!data || count == 0 || i < 0 || static_cast<unsigned>(i) >= count || !out || outSize < 1)
    return 0;
  return FormatLabel(static_cast<float>(std::pow(10.0, static_cast<double>(data[i] * scale))),
                     out, outSize);
}

bool CVector::WriteToFile(const char* name) const {
  platform::CheckedOutputFile file(name ? name : "");
  std::FILE* f = file.get();
  if (!f) {
    ErrorBox(Formatted("Attention: could not open %s", name).c_str());
    return false;
  }
  for (unsigned i = 0; i < count; ++i) std::fprintf(f, "%f\n", static_cast<double>(data[i]));
  const bool ok = file.Commit();
  if (!ok) ErrorBox(Formatted("Attention: could not write %s", name).c_str());
  return ok;
}

bool CVector::WritePow10ToFile(const char* name) const {
  platform::CheckedOutputFile file(name ? name : "");
  std::FILE* f = file.get();
  if (!f) {
    ErrorBox(Formatted("Attention: could not open %s", name).c_str());
    return false;
  }
  for (unsigned i = 0; i < count; ++i)
    std::fprintf(f, "%f\n", std::pow(10.0, static_cast<double>(data[i])));
  const bool ok = file.Commit();
  if (!ok) ErrorBox(Formatted("Attention: could not write %s", name).c_str());
  return ok;
}

bool CVector::ReadFromFile(const char* name, std::size_t maxBytes) {
  const platform::CheckedInputFile in(name ? name : "", maxBytes);
  if (!in) {
    ErrorBox(("\nAttention: " + in.ErrorText()).c_str());
    return false;
  }
  std::FILE* f = in.get();
  std::string line;
  float v = 0;
  if (data && count) {
    unsigned i = 0;
    while (i < count && ReadLine(f, line)) {
      if (BlankLine(line)) continue;
      if (!LeadingNumber(line, &v)) break;
      data[i++] = v;
    }
  } else {
    while (ReadLine(f, line)) {
      if (BlankLine(line)) continue;
      if (!LeadingNumber(line, &v)) break;
      PushBack(v);
    }
    ownsData = 1;
  }
  return true;
}

bool WriteArrayRangeToFile(const char* name, const float* a, int hi, int lo) {
  platform::CheckedOutputFile file(name ? name : "");
  std::FILE* f = file.get();
  if (!f) {
    ErrorBox(Formatted("\nAttention: could not open %s", name).c_str());
    return false;
  }
  for (int i = lo; i <= hi; ++i) std::fprintf(f, "%f\n", static_cast<double>(a[i]));
  const bool ok = file.Commit();
  if (!ok) ErrorBox(Formatted("\nAttention: could not write %s", name).c_str());
  return ok;
}

float* ReadFileToArray(const char* name, int* nh, int nl) {
  const platform::CheckedInputFile in(name ? name : "", platform::kDataFileLimit);
  if (!in) {
    ErrorBox(("Attention: " + in.ErrorText()).c_str());
    if (nh) *nh = 0;
    return nullptr;
  }
  std::FILE* f = in.get();
  std::string line;
  int lines = 0;
  while (ReadLine(f, line)) ++lines;
  std::rewind(f);
  float* a = vector(nl, nl + lines - 1);
  float previous = 0.0f;
  bool reported = false;
  for (int i = 0; i < lines && ReadLine(f, line); ++i) {
    float v;
    if (LeadingNumber(line, &v)) {
      previous = v;
    } else if (!reported) {
      // One box per file: a file of many bad lines must not flood the user.
      ErrorBox(Formatted("Attention: could not open %s", name).c_str());
      reported = true;
    }
    a[nl + i] = previous;
  }
  if (nh) *nh = nl + lines - 1;
  return a;
}

namespace {

// Weights of a window with nl points on the left and nr on the right, in
// the wrap-around order of savgol: w[1] the point itself, w[1 + k] the k-th
// on the left, w[m + 1 - k] the k-th on the right (m = nl + nr + 1).
void WindowWeights(std::vector<float>& w, int nl, int nr, int order) {
  const int m = nl + nr + 1;
  w.assign(static_cast<size_t>(m) + 1, 0.0f);
  if (order == 1) {
    for (int k = 1; k <= m; ++k) w[static_cast<size_t>(k)] = 1.0f / static_cast<float>(m);
    return;
  }
  // A short end window cannot carry a polynomial of the full order.
  int mo = order;
  if (mo > nl + nr) mo = nl + nr;
  if (mo < 0) mo = 0;
  savgol(w.data(), m, nl, nr, 0, mo);
}

}  // namespace

bool CVector::Smooth(int left, int right, int order) {
  if (left < 0 || right < 0) return false;
  const int w = left + right + 1;
  if (w < 2) return false;
  const int n = static_cast<int>(count);
  if (n < w) {
    char text[200];
    std::snprintf(text, sizeof text, "window for smoothing too big!\n%d+%d+1<%d", left, right, n);
    ErrorBox(text);
    return false;
  }
  std::vector<float> out(static_cast<size_t>(n));
  std::vector<float> c;
  auto apply = [&](int i, int nl, int nr) {
    const int m = nl + nr + 1;
    double sum = static_cast<double>(c[1]) * data[i];
    for (int k = 1; k <= nl; ++k) sum += static_cast<double>(c[static_cast<size_t>(1 + k)]) * data[i - k];
    for (int k = 1; k <= nr; ++k) sum += static_cast<double>(c[static_cast<size_t>(m + 1 - k)]) * data[i + k];
    out[static_cast<size_t>(i)] = static_cast<float>(sum);
  };
  for (int i = 0; i < left; ++i) {
    WindowWeights(c, i, right, order);
    apply(i, i, right);
  }
  WindowWeights(c, left, right, order);
  for (int i = left; i <= n - right - 1; ++i) apply(i, left, right);
  for (int i = n - right; i < n; ++i) {
    if (i < left) continue;  // already done as a leading point
    WindowWeights(c, left, n - i - 1, order);
    apply(i, left, n - i - 1);
  }
  std::memcpy(data, out.data(), sizeof(float) * static_cast<size_t>(n));
  return true;
}

bool CVector::ResampleSmooth(int n, const CVector& x, int left, int right, int order) {
  if (x.count != count || n < 2 || count == 0) return false;
  const float lo = x.Min(), hi = x.Max();
  std::vector<float> g(static_cast<size_t>(n) + 1), yg(static_cast<size_t>(n) + 1, 0.0f);
  for (int i = 1; i <= n; ++i)
    g[static_cast<size_t>(i)] = lo + (hi - lo) / static_cast<float>(n - 1) * static_cast<float>(i - 1);
  const int m = static_cast<int>(count);
  InterpolateOntoGrid(n, g.data(), yg.data(), m, x.data - 1, data - 1);
  CVector view;
  view.Attach(yg.data(), n, 1);
  view.Smooth(left, right, order);
  InterpolateOntoGrid(m, x.data - 1, data - 1, n, g.data(), yg.data());
  return true;
}
