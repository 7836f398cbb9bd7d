#include "numerics/linear_solvers.h"

#include <cmath>
#include <limits>

#include "numerics/arrays.h"

namespace {

// The LU replaces an exactly zero pivot by TINY so that consistent singular
// systems still yield a solution; its size follows the element type.
template <typename T>
constexpr T Tiny();
template <>
constexpr float Tiny<float>() {
  return 1.0e-20f;
}
template <>
constexpr double Tiny<double>() {
  return 1e-100;
}

template <typename T>
struct Owners;
template <>
struct Owners<float> {
  using Vec = FloatVec;
  using Mat = FloatMat;
};
template <>
struct Owners<double> {
  using Vec = DoubleVec;
  using Mat = DoubleMat;
};

template <typename T>
void LuDecompose(T** a, int n, int* indx, T* d) {
  typename Owners<T>::Vec vv(1, n);  // implicit row scaling
  *d = 1;
  for (int i = 1; i <= n; ++i) {
    T big = 0;
    for (int j = 1; j <= n; ++j) {
      const T temp = std::fabs(a[i][j]);
      if (temp > big) big = temp;
    }
    if (big == 0) nrfail("Singular matrix in routine ludcmp");
    vv[i] = 1 / big;
  }
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i < j; ++i) {
      T sum = a[i][j];
      for (int k = 1; k < i; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    T big = 0;
    int imax = j;  // stays valid even when every candidate is NaN
    for (int i = j; i <= n; ++i) {
      T sum = a[i][j];
      for (int k = 1; k < j; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      const T dum = vv[i] * std::fabs(sum);
      if (dum >= big) {  // the later of equal candidates wins
        big = dum;
        imax = i;
      }
    }
    if (j != imax) {
      for (int k = 1; k <= n; ++k) {
        const T dum = a[imax][k];
        a[imax][k] = a[j][k];
        a[j][k] = dum;
      }
      *d = -(*d);
      vv[imax] = vv[j];
    }
    indx[j] = imax;
    if (a[j][j] == 0) a[j][j] = Tiny<T>();
    if (j != n) {
      const T dum = 1 / a[j][j];
      for (int i = j + 1; i <= n; ++i) a[i][j] *= dum;
    }
  }
}

template <typename T>
void LuBacksubstitute(T** a, int n, const int* indx, T* b) {
  int ii = 0;  // first non-zero entry of the permuted b
  for (int i = 1; i <= n; ++i) {
    const int ip = indx[i];
    T sum = b[ip];
    b[ip] = b[i];
    if (ii) {
      for (int j = ii; j < i; ++j) sum -= a[i][j] * b[j];
    } else if (sum != 0) {
      ii = i;
    }
    b[i] = sum;
  }
  for (int i = n; i >= 1; --i) {
    T sum = b[i];
    for (int j = i + 1; j <= n; ++j) sum -= a[i][j] * b[j];
    b[i] = sum / a[i][i];
  }
}

template <typename T>
void CopySquare(T** from, T** to, int n) {
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) to[i][j] = from[i][j];
}

template <typename T>
void SolveByLu(T** a, T* b, int n, bool keepA) {
  if (n < 1) return;
  IntVec indx(1, n);
  T d;
  if (keepA) {
    typename Owners<T>::Mat copy(1, n, 1, n);
    CopySquare<T>(a, copy, n);
    LuDecompose<T>(copy, n, indx, &d);
    LuBacksubstitute<T>(copy, n, indx, b);
  } else {
    LuDecompose<T>(a, n, indx, &d);
    LuBacksubstitute<T>(a, n, indx, b);
  }
}

template <typename T>
bool CholeskyDecompose(T** a, int n, T* p) {
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) {
      T sum = a[i][j];
      for (int k = i - 1; k >= 1; --k) sum -= a[i][k] * a[j][k];
      if (i == j) {
        if (!(sum > 0)) return false;  // also refuses NaN
        p[i] = std::sqrt(sum);
      } else {
        a[j][i] = sum / p[i];
      }
    }
  }
  return true;
}

template <typename T>
void CholeskySolve(T** a, int n, const T* p, const T* b, T* x) {
  for (int i = 1; i <= n; ++i) {
    T sum = b[i];
    for (int k = i - 1; k >= 1; --k) sum -= a[i][k] * x[k];
    x[i] = sum / p[i];
  }
  for (int i = n; i >= 1; --i) {
    T sum = x[i];
    for (int k = i + 1; k <= n; ++k) sum -= a[k][i] * x[k];
    x[i] = sum / p[i];
  }
}

}  // namespace

void ludcmp(float** a, int n, int* indx, float* d) { LuDecompose<float>(a, n, indx, d); }
void dludcmp(double** a, int n, int* indx, double* d) { LuDecompose<double>(a, n, indx, d); }
void lubksb(float** a, int n, int* indx, float* b) { LuBacksubstitute<float>(a, n, indx, b); }
void dlubksb(double** a, int n, int* indx, double* b) { LuBacksubstitute<double>(a, n, indx, b); }

void SolveLinearSystem(float** a, float* b, int n, bool keepA) { SolveByLu<float>(a, b, n, keepA); }
void SolveLinearSystemD(double** a, double* b, int n, bool keepA) {
  SolveByLu<double>(a, b, n, keepA);
}

bool choldc(float** a, int n, float* p) { return CholeskyDecompose<float>(a, n, p); }
bool dcholdc(double** a, int n, double* p) { return CholeskyDecompose<double>(a, n, p); }
void cholsl(float** a, int n, float* p, float* b, float* x) { CholeskySolve<float>(a, n, p, b, x); }
void dcholsl(double** a, int n, double* p, double* b, double* x) {
  CholeskySolve<double>(a, n, p, b, x);
}

bool cholsolve(float** a, float* b, int n) {
  if (n < 1) return true;
  FloatMat copy(1, n, 1, n);
  FloatVec p(1, n), x(1, n);
  CopySquare<float>(a, copy, n);
  if (choldc(copy, n, p)) {
    cholsl(copy, n, p, b, x);
    for (int i = 1; i <= n; ++i) b[i] = x[i];
    return true;
  }
  CopySquare<float>(a, copy, n);
  SolveLinearSystem(copy, b, n, false);
  return false;
}

bool dcholsolve(double** a, double* b, int n, double* x, double* p) {
  if (n < 1) return true;
  DoubleMat copy(1, n, 1, n);
  CopySquare<double>(a, copy, n);
  if (dcholdc(copy, n, p)) {
    dcholsl(copy, n, p, b, x);
    return true;
  }
  CopySquare<double>(a, copy, n);
  for (int i = 1; i <= n; ++i) x[i] = b[i];
  SolveLinearSystemD(copy, x, n, false);
  return false;
}

bool SolveNormalEquationsD(double** a, double* b, int n, double* x, double* p) {
  if (n < 1) return true;
  IntVec keep(1, n);
  int m = 0;
  for (int i = 1; i <= n; ++i) {
    bool zero = true;
    for (int j = 1; j <= n && zero; ++j) zero = (a[i][j] == 0.0);
    keep[i] = zero ? 0 : 1;
    if (!zero) ++m;
  }
  if (m == n) return dcholsolve(a, b, n, x, p);

  // Rows that vanish carry no information: solve the rest, set them to zero.
  IntVec index(1, n);
  for (int i = 1, k = 0; i <= n; ++i)
    if (keep[i]) index[++k] = i;
  if (m > 0) {
    DoubleMat reduced(1, m, 1, m), work(1, m, 1, m);
    DoubleVec rb(1, m), rx(1, m);
    for (int k = 1; k <= m; ++k) {
      rb[k] = b[index[k]];
      for (int l = 1; l <= m; ++l) reduced[k][l] = a[index[k]][index[l]];
    }
    CopySquare<double>(reduced, work, m);
    if (dcholdc(work, m, p)) {
      dcholsl(work, m, p, rb, rx);
    } else {
      for (int k = 1; k <= m; ++k) rx[k] = rb[k];
      SolveLinearSystemD(reduced, rx, m, false);
    }
    for (int i = 1; i <= n; ++i) x[i] = 0.0;
    for (int k = 1; k <= m; ++k) x[index[k]] = rx[k];
  } else {
    for (int i = 1; i <= n; ++i) x[i] = 0.0;
  }
  return true;
}

// Active-set non-negative least squares on the normal equations (float):
// minimises x^T A x / 2 - b^T x subject to x >= 0. The gradient w = b - A x
// picks the next free variable; the passive subsystem is solved by Cholesky;
// infeasible trial solutions are blended back to the feasible region.
void SolveNormalEquations(float** a, float* b, int n, bool keepA) {
  if (n < 1) return;
  IntVec passive(1, n), index(1, n);
  FloatVec x(1, n), w(1, n), z(1, n), rb(1, n), rz(1, n), p(1, n);
  FloatMat reduced(1, n, 1, n);

  // Active-set methods can cycle on rounding noise; these bounds are far
  // above the iteration counts of well-posed problems.
  const long maxOuter = 3L * n + 100;
  const int maxInner = 3 * n + 10;
  for (long outer = 0; outer < maxOuter; ++outer) {
    for (int i = 1; i <= n; ++i) {
      float sum = b[i];
      for (int j = 1; j <= n; ++j) sum -= a[i][j] * x[j];
      w[i] = sum;
    }
    int t = 0;
    for (int i = 1; i <= n; ++i)
      if (!passive[i] && w[i] > 0 && (t == 0 || w[i] > w[t])) t = i;
    if (t == 0) break;
    passive[t] = 1;

    bool firstSolve = true;
    for (int inner = 0; inner < maxInner; ++inner) {
      int m = 0;
      for (int i = 1; i <= n; ++i)
        if (passive[i]) index[++m] = i;
      for (int k = 1; k <= m; ++k) {
        rb[k] = b[index[k]];
        for (int l = 1; l <= m; ++l) reduced[k][l] = a[index[k]][index[l]];
      }
      if (!choldc(reduced, m, p)) {
        SolveLinearSystem(a, b, n, keepA);
        return;
      }
      cholsl(reduced, m, p, rb, rz);
      for (int i = 1; i <= n; ++i) z[i] = 0.0f;
      for (int k = 1; k <= m; ++k) z[index[k]] = rz[k];

      if (firstSolve && z[t] <= 0) break;  // x stays; t stays passive
      firstSolve = false;

      bool feasible = true;
      for (int k = 1; k <= m && feasible; ++k) feasible = z[index[k]] > 0;
      if (feasible) {
        for (int i = 1; i <= n; ++i) x[i] = z[i];
        break;
      }
      float alpha = std::numeric_limits<float>::max();
      for (int k = 1; k <= m; ++k) {
        const int i = index[k];
        if (z[i] <= 0) {
          const float den = x[i] - z[i];
          const float q = den > 0 ? x[i] / den : 0.0f;  // x = z = 0: no step
          if (q < alpha) alpha = q;
        }
      }
      for (int i = 1; i <= n; ++i) x[i] += alpha * (z[i] - x[i]);
      for (int i = 1; i <= n; ++i) {
        if (passive[i] && std::fabs(x[i]) < 1e-8f) {
          passive[i] = 0;
          x[i] = 0.0f;
        }
        if (x[i] < 0) {
          x[i] = 0.0f;
          passive[i] = 0;
        }
      }
    }
  }
  for (int i = 1; i <= n; ++i) b[i] = x[i];
}

void savgol(float* c, int np, int nl, int nr, int ld, int m) {
  if (np < nl + nr + 1 || nl < 0 || nr < 0 || ld > m || nl + nr < m) nrfail("bad args in savgol");
  const int size = m + 1;
  IntVec indx(1, size);
  FloatMat a(1, size, 1, size);
  FloatVec b(1, size);
  // Normal matrix of the polynomial fit: a[i][j] = sum over the window of k^(i+j-2).
  for (int ipj = 0; ipj <= 2 * m; ++ipj) {
    float sum = ipj ? 0.0f : 1.0f;
    for (int k = 1; k <= nr; ++k) sum += static_cast<float>(std::pow(double(k), double(ipj)));
    for (int k = 1; k <= nl; ++k) sum += static_cast<float>(std::pow(double(-k), double(ipj)));
    const int mm = ipj < 2 * m - ipj ? ipj : 2 * m - ipj;
    for (int imj = -mm; imj <= mm; imj += 2) a[1 + (ipj + imj) / 2][1 + (ipj - imj) / 2] = sum;
  }
  float d;
  ludcmp(a, size, indx, &d);
  for (int j = 1; j <= size; ++j) b[j] = 0.0f;
  b[ld + 1] = 1.0f;
  lubksb(a, size, indx, b);
  for (int kk = 1; kk <= np; ++kk) c[kk] = 0.0f;
  for (int k = -nl; k <= nr; ++k) {
    float sum = b[1];
    float fac = 1.0f;
    for (int j = 1; j <= m; ++j) sum += b[j + 1] * (fac *= static_cast<float>(k));
    const int kk = ((np - k) % np) + 1;
    c[kk] = sum;
  }
}

float Determinant2x2(float** m) { return m[1][1] * m[2][2] - m[1][2] * m[2][1]; }

float Determinant3x3(float** m) {
  const float c1 = m[2][2] * m[3][3] - m[2][3] * m[3][2];
  const float c2 = m[2][1] * m[3][3] - m[2][3] * m[3][1];
  const float c3 = m[2][1] * m[3][2] - m[2][2] * m[3][1];
  return m[1][1] * c1 - m[1][2] * c2 + m[1][3] * c3;
}

bool SolveTridiagonal(const double* a, const double* b, const double* c, const double* r,
                      double* u, double* gam, int n) {
  double bet = b[1];
  if (bet == 0 || !std::isfinite(bet)) return false;
  u[1] = r[1] / bet;
  for (int j = 2; j <= n; ++j) {
    gam[j] = c[j - 1] / bet;
    bet = b[j] - a[j] * gam[j];
    if (bet == 0 || !std::isfinite(bet)) return false;
    u[j] = (r[j] - a[j] * u[j - 1]) / bet;
  }
  for (int j = n - 1; j >= 1; --j) u[j] -= gam[j + 1] * u[j + 1];
  return true;
}

void TridiagonalMultiply(const double* a, const double* b, const double* c, const double* x,
                         double* out, int n) {
  out[1] = b[1] * x[1] + c[1] * x[2];
  for (int i = 2; i < n; ++i) out[i] = a[i] * x[i - 1] + b[i] * x[i] + c[i] * x[i + 1];
  out[n] = a[n] * x[n - 1] + b[n] * x[n];
}
