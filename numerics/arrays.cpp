#include "numerics/arrays.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/error_box.h"
#include "platform/fatal_error.h"

void nrerror(const char* text) {
  ErrorBox(text, true);
  throw platform::FatalError(text ? text : "fatal error");
}

void nrfail(const char* text) {
  ErrorBox(text, false);
  throw platform::CommandFailure(text ? text : "numerical failure");
}

namespace {
// Sizes whose byte count does not fit are failures too, never a wrapped,
// too small block.
bool Fits(std::size_t count, std::size_t size) { return count <= SIZE_MAX / size; }

std::size_t Product(std::size_t a, std::size_t b) {
  return (b != 0 && a > SIZE_MAX / b) ? SIZE_MAX : a * b;
}

template <typename T>
T* Block(std::size_t count, const char* failure) {
  void* b = Fits(count, sizeof(T)) ? std::malloc(count * sizeof(T)) : nullptr;
  if (!b) nrerror(failure);
  return static_cast<T*>(b);
}

// Block size of a one-based vector: the range plus the spare element(s).
std::size_t Span(long nl, long nh, long extra) {
  const long n = nh - nl + extra;
  return n > 0 ? static_cast<std::size_t>(n) : static_cast<std::size_t>(extra > 0 ? extra : 1);
}

template <typename T>
T* ZeroedVector(long nl, long nh, long extra, const char* failure) {
  T* b = Block<T>(Span(nl, nh, extra), failure);
  T* v = b - nl + 1;
  if (nh >= nl) std::memset(v + nl, 0, static_cast<std::size_t>(nh - nl + 1) * sizeof(T));
  return v;
}

template <typename T>
T** Matrix(long nrl, long nrh, long ncl, long nch) {
  const long nrow = nrh - nrl + 1, ncol = nch - ncl + 1;
  T** m = Block<T*>(Span(nrl, nrh, 2), "allocation failure 1 in matrix()");
  m = m - nrl + 1;
  const std::size_t cells =
      (nrow > 0 && ncol > 0) ? Product(static_cast<std::size_t>(nrow), static_cast<std::size_t>(ncol))
                             : 0;
  T* data = cells < SIZE_MAX && Fits(cells + 1, sizeof(T))
                ? static_cast<T*>(std::malloc((cells + 1) * sizeof(T)))
                : nullptr;
  if (!data) {
    std::free(m + nrl - 1);
    nrerror("allocation failure 2 in matrix()");
  }
  m[nrl] = data + 1 - ncl;
  for (long i = nrl + 1; i <= nrh; ++i) m[i] = m[i - 1] + ncol;
  return m;
}

template <typename T>
void FreeMatrix(T** m, long nrl, long ncl) {
  if (!m) return;
  std::free(m[nrl] + ncl - 1);
  std::free(m + nrl - 1);
}
}  // namespace

float* vector(long nl, long nh) {
  return ZeroedVector<float>(nl, nh, 3, "allocation failure in vector()");
}
int* ivector(long nl, long nh) {
  return ZeroedVector<int>(nl, nh, 2, "allocation failure in ivector()");
}
long* lvector(long nl, long nh) {
  return ZeroedVector<long>(nl, nh, 2, "allocation failure in lvector()");
}
double* dvector(long nl, long nh) {
  return ZeroedVector<double>(nl, nh, 2, "allocation failure in dvector()");
}
unsigned char* cvector(long nl, long nh) {
  unsigned char* b = Block<unsigned char>(Span(nl, nh, 2), "allocation failure in cvector()");
  return b - nl + 1;
}

float** matrix(long nrl, long nrh, long ncl, long nch) { return Matrix<float>(nrl, nrh, ncl, nch); }
double** dmatrix(long nrl, long nrh, long ncl, long nch) {
  return Matrix<double>(nrl, nrh, ncl, nch);
}
int** imatrix(long nrl, long nrh, long ncl, long nch) { return Matrix<int>(nrl, nrh, ncl, nch); }

float** submatrix(float** a, long oldrl, long oldrh, long oldcl, long, long newrl, long newcl) {
  float** m = Block<float*>(Span(oldrl, oldrh, 2), "allocation failure in submatrix()");
  m = m - newrl + 1;
  for (long k = 0; k <= oldrh - oldrl; ++k) m[newrl + k] = a[oldrl + k] + oldcl - newcl;
  return m;
}

float** convert_matrix(float* a, long nrl, long nrh, long ncl, long nch) {
  const long ncol = nch - ncl + 1;
  float** m = Block<float*>(Span(nrl, nrh, 2), "allocation failure in convert_matrix()");
  m = m - nrl + 1;
  m[nrl] = a - ncl;
  for (long i = nrl + 1; i <= nrh; ++i) m[i] = m[i - 1] + ncol;
  return m;
}

float*** f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
  const long nrow = nrh - nrl + 1, ncol = nch - ncl + 1, ndep = ndh - ndl + 1;
  float*** t = Block<float**>(Span(nrl, nrh, 2), "allocation failure 1 in f3tensor()");
  t = t - nrl + 1;
  const std::size_t rows = Product(static_cast<std::size_t>(nrow > 0 ? nrow : 0),
                                   static_cast<std::size_t>(ncol > 0 ? ncol : 0));
  float** rp = rows < SIZE_MAX && Fits(rows + 1, sizeof(float*))
                   ? static_cast<float**>(std::malloc((rows + 1) * sizeof(float*)))
                   : nullptr;
  if (!rp) {
    std::free(t + nrl - 1);
    nrerror("allocation failure 2 in f3tensor()");
  }
  t[nrl] = rp + 1 - ncl;
  const std::size_t cells = Product(rows, static_cast<std::size_t>(ndep > 0 ? ndep : 0));
  float* data = cells < SIZE_MAX && Fits(cells + 1, sizeof(float))
                    ? static_cast<float*>(std::malloc((cells + 1) * sizeof(float)))
                    : nullptr;
  if (!data) {
    std::free(rp);
    std::free(t + nrl - 1);
    nrerror("allocation failure 3 in f3tensor()");
  }
  t[nrl][ncl] = data + 1 - ndl;
  for (long j = ncl + 1; j <= nch; ++j) t[nrl][j] = t[nrl][j - 1] + ndep;
  for (long i = nrl + 1; i <= nrh; ++i) {
    t[i] = t[i - 1] + ncol;
    t[i][ncl] = t[i - 1][ncl] + ncol * ndep;
    for (long j = ncl + 1; j <= nch; ++j) t[i][j] = t[i][j - 1] + ndep;
  }
  return t;
}

void free_vector(float* v, long nl, long) {
  if (v) std::free(v + nl - 1);
}
void free_ivector(int* v, long nl, long) {
  if (v) std::free(v + nl - 1);
}
void free_lvector(long* v, long nl, long) {
  if (v) std::free(v + nl - 1);
}
void free_dvector(double* v, long nl, long) {
  if (v) std::free(v + nl - 1);
}
void free_cvector(unsigned char* v, long nl, long) {
  if (v) std::free(v + nl - 1);
}
void free_matrix(float** m, long nrl, long, long ncl, long) { FreeMatrix(m, nrl, ncl); }
void free_dmatrix(double** m, long nrl, long, long ncl, long) { FreeMatrix(m, nrl, ncl); }
void free_imatrix(int** m, long nrl, long, long ncl, long) { FreeMatrix(m, nrl, ncl); }
void free_submatrix(float** b, long nrl, long, long, long) { std::free(b + nrl - 1); }
void free_convert_matrix(float** b, long nrl, long, long, long) { std::free(b + nrl - 1); }
void free_f3tensor(float*** t, long nrl, long, long ncl, long, long ndl, long) {
  std::free(t[nrl][ncl] + ndl - 1);
  std::free(t[nrl] + ncl - 1);
  std::free(t + nrl - 1);
}
