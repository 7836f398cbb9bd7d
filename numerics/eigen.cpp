#include "numerics/eigen.h"

#include <cmath>
#include <utility>

#include "numerics/arrays.h"

namespace {

template <typename T>
struct Work;
template <>
struct Work<float> {
  using Vec = FloatVec;
};
template <>
struct Work<double> {
  using Vec = DoubleVec;
};

template <typename T>
void Rotate(T** a, int i, int j, int k, int l, T s, T tau) {
  const T g = a[i][j];
  const T h = a[k][l];
  a[i][j] = g - s * (h + g * tau);
  a[k][l] = h + s * (g - h * tau);
}

// Cyclic Jacobi: each rotation zeroes a[p][q] with t = tan(phi) from
// theta = (a_qq - a_pp) / (2 a_pq), t = sign(theta) / (|theta| + sqrt(1 + theta^2)).
template <typename T>
void Jacobi(T** a, int n, T* d, T** v, int* nrot, const char* failure) {
  typename Work<T>::Vec b(1, n), z(1, n);
  for (int ip = 1; ip <= n; ++ip) {
    for (int iq = 1; iq <= n; ++iq) v[ip][iq] = 0;
    v[ip][ip] = 1;
  }
  for (int ip = 1; ip <= n; ++ip) {
    b[ip] = d[ip] = a[ip][ip];
    z[ip] = 0;
  }
  *nrot = 0;
  for (int sweep = 1; sweep <= 50; ++sweep) {
    T sm = 0;
    for (int ip = 1; ip < n; ++ip)
      for (int iq = ip + 1; iq <= n; ++iq) sm += std::fabs(a[ip][iq]);
    if (sm == 0) return;
    const T tresh = sweep < 4 ? T(0.2) * sm / T(n * n) : T(0);
    for (int ip = 1; ip < n; ++ip) {
      for (int iq = ip + 1; iq <= n; ++iq) {
        const T g = 100 * std::fabs(a[ip][iq]);
        if (sweep > 4 && T(std::fabs(d[ip]) + g) == T(std::fabs(d[ip])) &&
            T(std::fabs(d[iq]) + g) == T(std::fabs(d[iq]))) {
          a[ip][iq] = 0;
        } else if (std::fabs(a[ip][iq]) > tresh) {
          T h = d[iq] - d[ip];
          T t;
          if (T(std::fabs(h) + g) == T(std::fabs(h))) {
            t = a[ip][iq] / h;
          } else {
            const T theta = T(0.5) * h / a[ip][iq];
            t = T(1) / (std::fabs(theta) + std::sqrt(T(1) + theta * theta));
            if (theta < 0) t = -t;
          }
          const T c = T(1) / std::sqrt(1 + t * t);
          const T s = t * c;
          const T tau = s / (T(1) + c);
          h = t * a[ip][iq];
          z[ip] -= h;
          z[iq] += h;
          d[ip] -= h;
          d[iq] += h;
          a[ip][iq] = 0;
          for (int j = 1; j < ip; ++j) Rotate(a, j, ip, j, iq, s, tau);
          for (int j = ip + 1; j < iq; ++j) Rotate(a, ip, j, j, iq, s, tau);
          for (int j = iq + 1; j <= n; ++j) Rotate(a, ip, j, iq, j, s, tau);
          for (int j = 1; j <= n; ++j) Rotate(v, j, ip, j, iq, s, tau);
          ++(*nrot);
        }
      }
    }
    for (int ip = 1; ip <= n; ++ip) {
      b[ip] += z[ip];
      d[ip] = b[ip];
      z[ip] = 0;
    }
  }
  nrfail(failure);
}

template <typename T>
void SortDescending(T* d, T** v, int n) {
  for (int i = 1; i < n; ++i) {
    int k = i;
    T p = d[i];
    for (int j = i + 1; j <= n; ++j)
      if (d[j] >= p) {  // the last of equal largest values wins
        k = j;
        p = d[j];
      }
    if (k != i) {
      std::swap(d[k], d[i]);
      for (int j = 1; j <= n; ++j) std::swap(v[j][i], v[j][k]);
    }
  }
}

}  // namespace

void jacobi(float** a, int n, float* d, float** v, int* nrot) {
  Jacobi<float>(a, n, d, v, nrot, "Too many iterations in routine jacobi");
}
void djacobi(double** a, int n, double* d, double** v, int* nrot) {
  Jacobi<double>(a, n, d, v, nrot, "Too many iterations in routine djacobi");
}
void sort_select(float* d, float** v, int n) { SortDescending<float>(d, v, n); }
void sort_select_d(double* d, double** v, int n) { SortDescending<double>(d, v, n); }
