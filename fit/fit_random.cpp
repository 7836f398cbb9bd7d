#include "fit/fit_random.h"

#include <chrono>
#include <cmath>
#include <cstdint>

namespace fitrandom {

namespace {
constexpr int32_t IA = 16807, IM = 2147483647, IQ = 127773, IR = 2836, NTAB = 32;
constexpr int32_t NDIV = 1 + (IM - 1) / NTAB;
constexpr double AM = 1.0 / IM;
constexpr double RNMX = 1.0 - 1.2e-7;

struct ShuffleState {
  int32_t iy = 0;
  int32_t iv[NTAB] = {};
};

// idum = IA * idum mod IM by Schrage's method (no overflow in 32 bits).
inline int32_t Step(int32_t idum) {
  const int32_t q = idum / IQ;
  idum = IA * (idum - q * IQ) - IR * q;
  if (idum < 0) idum += IM;
  return idum;
}

float Ran1(int32_t* idum, ShuffleState& st) {
  if (*idum <= 0 || !st.iy) {
    *idum = (-(*idum) < 1) ? 1 : -(*idum);
    for (int j = NTAB + 7; j >= 0; --j) {
      *idum = Step(*idum);
      if (j < NTAB) st.iv[j] = *idum;
    }
    st.iy = st.iv[0];
  }
  *idum = Step(*idum);
  const int j = st.iy / NDIV;
  st.iy = st.iv[j];
  st.iv[j] = *idum;
  const double temp = AM * st.iy;
  return static_cast<float>(temp > RNMX ? RNMX : temp);
}

ShuffleState uniformState;

struct GaussState {
  ShuffleState shuffle;
  int32_t seed = 0;
  bool seeded = false;
  bool haveSpare = false;
  double spare = 0;
};
GaussState gaussState;

}  // namespace

float ran1(int* seed) {
  int32_t s = *seed;
  const float r = Ran1(&s, uniformState);
  *seed = s;
  return r;
}

void SeedGaussRandom(unsigned seed) {
  gaussState = GaussState{};
  gaussState.seed = -static_cast<int32_t>(seed % 2147483646u) - 1;
  gaussState.seeded = true;
}

float GaussRandom(float sigma) {
  if (sigma == 0.0f) return 0.0f;
  if (!gaussState.seeded) {
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    SeedGaussRandom(static_cast<unsigned>(ticks));
  }
  double g;
  if (gaussState.haveSpare) {
    gaussState.haveSpare = false;
    g = gaussState.spare;
  } else {
    double v1, v2, rsq;
    do {
      v1 = 2.0 * Ran1(&gaussState.seed, gaussState.shuffle) - 1.0;
      v2 = 2.0 * Ran1(&gaussState.seed, gaussState.shuffle) - 1.0;
      rsq = v1 * v1 + v2 * v2;
    } while (rsq >= 1.0 || rsq == 0.0);
    const double fac = std::sqrt(-2.0 * std::log(rsq) / rsq);
    gaussState.spare = v1 * fac;
    gaussState.haveSpare = true;
    g = v2 * fac;
  }
  return static_cast<float>(g * std::fabs(sigma));
}

}  // namespace fitrandom
