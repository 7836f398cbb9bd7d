#pragma once
// A run of floats: either an owning block (files of one value per line,
// preference files) or a non-owning view of a one-based array of
// numerics/arrays.h, so that scans and models reach the plots uncopied.
// Elements are addressed from 0 inside the class; a view of p[1..n] made by
// Attach(p, n, 1) has element k = p[k + 1]. An owned block grows by
// doubling, so capacity may exceed count.

#include <cstddef>

#include "platform/paths.h"

// A block of n floats (not initialised); failure is fatal ("Could not
// allocate Vector").
float* AllocVectorData(unsigned n);
// Releases a block from AllocVectorData; returns null.
float* FreeVectorData(float* p);
float MinFloat(float a, float b);
float MaxFloat(float a, float b);

class CVector {
 public:
  CVector();
  CVector(int n, int attribute);
  CVector(int n, const float* source, int attribute);
  CVector(const CVector& other);
  ~CVector();
  CVector& operator=(const CVector& other);

  // Becomes a view of p + offset .. p + offset + n - 1. Values below 1e-30
  // in magnitude are set to 0 in the viewed memory (they only ever arise as
  // denormal noise and would break logarithmic axes).
  void Attach(float* p, int n, int offset);
  void AttachData(float* p, int n);
  void Resize(int n);
  void Append(float x);
  void PushBack(float x);

  float GetAt(int i) const;
  float Max() const;
  float Min() const;
  float MaxInRange(int from, int to) const;
  float MinInRange(int from, int to) const;
  float MaxPositiveInRange(int from, int to, bool* none) const;
  float MinPositiveInRange(int from, int to, bool* none) const;
  bool operator==(const CVector& other) const;
  bool operator!=(const CVector& other) const { return !(*this == other); }
  CVector& operator*=(float s);
  void Display() const;

  // Label text of element i x scale (or 10^(element i x scale)): an integer
  // when the value is whole, else six significant digits; at most
  // min(outSize - 1, 19) characters. Returns the characters written, 0 when
  // there is no element i.
  int FormatScaledElement(int i, char* out, int outSize, float scale) const;
  int FormatPow10Element(int i, char* out, int outSize, float scale) const;

  bool WriteToFile(const char* name) const;
  bool WritePow10ToFile(const char* name) const;
  // One value a line; a file above maxBytes is refused.
  bool ReadFromFile(const char* name, std::size_t maxBytes = platform::kTableFileLimit);

  // Moving-window smoothing: left points before, right points after each
  // point (fewer at the ends); order 1 averages, higher orders use
  // Savitzky-Golay weights (lowered where an end window is too short).
  bool Smooth(int left, int right, int order);
  // Smooths this vector as y(x) on an equidistant grid of n points between
  // the extremes of x and interpolates the result back onto x.
  bool ResampleSmooth(int n, const CVector& x, int left, int right, int order);

  float* Data() { return data; }
  const float* Data() const { return data; }
  unsigned Count() const { return count; }
  float& operator[](unsigned i) { return data[i]; }
  float operator[](unsigned i) const { return data[i]; }

  float* data = nullptr;
  unsigned count = 0;
  unsigned capacity = 0;
  int ownsData = 1;
  int attribute = 1;
};

// Writes a[lo..hi] one "%f" per line.
bool WriteArrayRangeToFile(const char* name, const float* a, int hi, int lo);
// Reads one value per line into a new vector(nl, nl + lines - 1); *nh gets
// the upper bound. Null (and *nh = 0) when the file cannot be opened.
float* ReadFileToArray(const char* name, int* nh, int nl);
