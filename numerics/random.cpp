#include "numerics/random.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace {

// ran1: Park-Miller "minimal standard" constants and the shuffle table.
constexpr int IA = 16807, IM = 2147483647, IQ = 127773, IR = 2836, NTAB = 32;
constexpr int NDIV = 1 + (IM - 1) / NTAB;  // 67108864
constexpr double AM = 1.0 / IM;
constexpr float RNMX = 1.0f - 1.2e-7f;

int ranTable[NTAB];
int ranLast = 0;

void SchrageStep(int* seed) {
  const int k = *seed / IQ;
  *seed = IA * (*seed - k * IQ) - IR * k;
  if (*seed < 0) *seed += IM;
}

// Combined generator: congruential, xorshift and two multiply-with-carry
// words, mixed on output (all arithmetic modulo 2^32).
struct CombinedGenerator {
  uint32_t c = 0, x = 0, y = 0, z = 0;
  bool seeded = false;

  void StepC() { c = c * 2891336453u + 1640531513u; }
  void StepX() {
    x ^= x >> 13;
    x ^= x << 17;
    x ^= x >> 5;
  }
  void StepY() { y = 33378u * (y & 0xFFFFu) + (y >> 16); }
  void StepZ() { z = 57225u * (z & 0xFFFFu) + (z >> 16); }

  void Seed() { Seed(static_cast<uint32_t>(ClockSeed())); }
  void Seed(uint32_t s) {
    x = 2244614371u;
    y = 521288629u;
    z = 362436069u;
    c = s ^ x;
    StepC(), StepX(), StepY(), StepZ();
    x = c;
    StepC(), StepX(), StepY(), StepZ();
    seeded = true;
  }

  // Uniform in [0, 1).
  float Next() {
    if (!seeded) Seed();
    StepC(), StepX(), StepY(), StepZ();
    uint32_t a = (c << 9) ^ c;
    a ^= a >> 17;
    a ^= a << 6;
    uint32_t b = (y << 17) ^ y;
    b ^= b >> 15;
    b ^= b << 5;
    const uint32_t out = (a + x) ^ (b + z);
    return static_cast<float>(out) * 2.3283064e-10f;
  }
};

struct GaussState {
  CombinedGenerator gen;
  float cached = 0;
  bool valid = false;

  // Returns the deviate for unit sigma.
  double Next() {
    if (valid) {
      valid = false;
      return cached;
    }
    double p1, p2, r;
    do {
      p1 = 2.0 * gen.Next() - 1.0;
      p2 = 2.0 * gen.Next() - 1.0;
      r = p1 * p1 + p2 * p2;
    } while (!(r > 0 && r < 1));
    const double f = std::sqrt(-2.0 * std::log(r) / r);
    cached = static_cast<float>(p1 * f);
    valid = true;
    return p2 * f;
  }
};

CombinedGenerator uniformGenerator;
GaussState gaussState, gaussState2;

// The fit's own stream (BeginFitDraws). Any fixed number would do: it only
// has to be the same for every Fit.
constexpr unsigned kFixedFitSeed = 1u;
unsigned fitSeed = kFixedFitSeed;
GaussState fitGaussState;
int fitDrawDepth = 0;

GaussState& GaussStream() { return fitDrawDepth > 0 ? fitGaussState : gaussState; }

}  // namespace

float ran1(int* seed) {
  if (*seed <= 0 || ranLast == 0) {
    *seed = (-*seed < 1) ? 1 : -*seed;
    for (int j = NTAB + 7; j >= 0; --j) {
      SchrageStep(seed);
      if (j < NTAB) ranTable[j] = *seed;
    }
    ranLast = ranTable[0];
  }
  SchrageStep(seed);
  const int j = ranLast / NDIV;
  ranLast = ranTable[j];
  ranTable[j] = *seed;
  const float temp = static_cast<float>(AM * ranLast);
  return temp > RNMX ? RNMX : temp;
}

std::time_t ClockSeed() { return platform::Clock().Now(); }

double UniformRandom(float lo, float hi) {
  const long double u = uniformGenerator.Next();
  return static_cast<double>(u * (static_cast<long double>(hi) - lo) + lo);
}

float GaussRandom(float sigma) { return static_cast<float>(GaussStream().Next() * sigma); }

void BeginFitDraws() {
  if (fitDrawDepth++ > 0) return;
  fitGaussState = GaussState{};
  fitGaussState.gen.Seed(fitSeed);
}

void EndFitDraws() {
  if (fitDrawDepth > 0) --fitDrawDepth;
}

double GaussRandom2(double sigma) { return gaussState2.Next() * sigma; }

bool RandomSelectFraction(int* a, int from, int to, float fraction) {
  if (!a || from < 1 || to < from) return false;
  const long pairs = static_cast<long>(std::floor(static_cast<double>(to) * fraction));
  for (long k = 1; k <= pairs; ++k) {
    const int p = static_cast<int>(std::floor(UniformRandom(static_cast<float>(from), static_cast<float>(to)) + 0.5));
    const int q = static_cast<int>(std::floor(UniformRandom(static_cast<float>(from), static_cast<float>(to)) + 0.5));
    if (p != q && p >= from && p <= to && q >= from && q <= to) {
      const int t = a[p];
      a[p] = a[q];
      a[q] = t;
    }
  }
  return true;
}

bool RandomSelectFraction2(int* a, int from, int to, float fraction) {
  if (!a || from < 1 || to < from) return false;
  if (from == to) {
    a[from] = from;
    return true;
  }
  std::vector<char> used(static_cast<size_t>(to) + 1, 0);
  int usedCount = 0;
  for (int k = 1; k < from; ++k) {
    a[k] = k;
    used[static_cast<size_t>(k)] = 1;
    ++usedCount;
  }
  const long target = static_cast<long>(std::floor(static_cast<double>(to) * fraction));
  int next = from;
  const long attempts = 10L * (to - from);
  for (long k = 0; k < attempts && next <= to; ++k) {
    const int r = static_cast<int>(std::floor(UniformRandom(static_cast<float>(from), static_cast<float>(to)) + 0.5));
    if (r >= from && r <= to && !used[static_cast<size_t>(r)]) {
      used[static_cast<size_t>(r)] = 1;
      ++usedCount;
      a[next++] = r;
    }
    if (usedCount >= target) break;
  }
  for (int v = from; v <= to && next <= to; ++v)
    if (!used[static_cast<size_t>(v)]) a[next++] = v;
  return true;
}

void ResetRandomGenerators() {
  uniformGenerator.seeded = false;
  gaussState = GaussState{};
  gaussState2 = GaussState{};
  fitSeed = kFixedFitSeed;
}

void SeedGaussRandom(unsigned seed) {
  gaussState = GaussState{};
  gaussState.gen.Seed(seed);
  fitSeed = seed;
}

void SeedRandomGenerators(unsigned seed) {
  uniformGenerator = CombinedGenerator{};
  uniformGenerator.Seed(seed);
  SeedGaussRandom(seed + 1u);
  gaussState2 = GaussState{};
  gaussState2.gen.Seed(seed + 2u);
}
