#include "numerics/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using u128 = unsigned __int128;

constexpr int kMaxPower = 22;  // 10^22 keeps a 53-bit mantissa below 2^127

struct Powers {
  u128 p[kMaxPower + 1];
  constexpr Powers() : p() {
    p[0] = 1;
    for (int k = 1; k <= kMaxPower; ++k) p[k] = p[k - 1] * 10;
  }
};
constexpr Powers kPowers;
u128 Power10(int k) { return kPowers.p[k]; }

// |v| = m 2^e with m < 2^53; also floor(log2 |v|) for a nonzero v.
int Decompose(double v, std::uint64_t& m, int& e) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const int exponent = static_cast<int>((bits >> 52) & 0x7ff);
  m = bits & ((std::uint64_t{1} << 52) - 1);
  if (exponent == 0) {
    e = -1074;
    int top = 63;
    while (top > 0 && !(m >> top)) --top;
    return e + top;
  }
  m |= std::uint64_t{1} << 52;
  e = exponent - 1075;
  return e + 52;
}

// Bits that 10^k needs at most (k >= 0): ceil(k log2 10).
int Power10Bits(int k) { return (k * 3322 + 999) / 1000; }

// m 2^e 10^k as integer part (floorPart) and rounded to the nearest
// integer, half to even; false when the exact arithmetic would not fit.
bool Scaled(std::uint64_t m, int e, int k, u128& rounded, u128& floorPart) {
  if (k > kMaxPower || k < -kMaxPower) return false;
  u128 q, r;
  bool exactHalf, above;
  if (k >= 0) {
    if (53 + Power10Bits(k) + (e > 0 ? e : 0) > 127) return false;
    const u128 num = k <= 19 ? static_cast<u128>(m) * static_cast<std::uint64_t>(Power10(k))
                             : static_cast<u128>(m) * Power10(k);
    if (e >= 0) {
      rounded = floorPart = num << e;
      return true;
    }
    const int s = -e;
    if (s > 126) return false;
    q = num >> s;
    r = num & ((u128{1} << s) - 1);
    const u128 half = u128{1} << (s - 1);
    exactHalf = r == half;
    above = r > half;
  } else {
    // Large numbers: a true division, rare in the tables.
    u128 num = m, den = Power10(-k);
    if (e >= 0) {
      if (53 + e > 127) return false;
      num <<= e;
    } else {
      if (Power10Bits(-k) - e > 126) return false;
      den <<= -e;
    }
    q = num / den;
    r = num % den;
    exactHalf = 2 * r == den;
    above = 2 * r > den;
  }
  floorPart = q;
  rounded = q + ((above || (exactHalf && (q & 1))) ? 1 : 0);
  return true;
}

// value in decimal, at least width digits.
void AppendDigits(std::string& out, std::uint64_t value, int width) {
  char buffer[24];
  int n = 0;
  do {
    buffer[n++] = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0 || n < width);
  while (n > 0) out.push_back(buffer[--n]);
}

void AppendDigits(std::string& out, u128 value, int width) {
  if (value <= UINT64_MAX) return AppendDigits(out, static_cast<std::uint64_t>(value), width);
  char buffer[48];
  int n = 0;
  do {
    buffer[n++] = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0 || n < width);
  while (n > 0) out.push_back(buffer[--n]);
}

void Library(std::string& out, double v, const char* format) {
  char buffer[400];
  const int n = std::snprintf(buffer, sizeof buffer, format, v);
  if (n > 0) out.append(buffer, static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : sizeof buffer - 1);
}

}  // namespace

void AppendE(std::string& out, double v) {
  if (!std::isfinite(v)) return Library(out, v, "%e");
  if (std::signbit(v)) out.push_back('-');
  if (v == 0.0) {
    out += "0.000000e+00";
    return;
  }
  std::uint64_t m;
  int e;
  const int log2v = Decompose(v, m, e);
  // The decimal exponent X with 10^6 <= |v| 10^(6 - X) < 10^7, first
  // estimated from the binary one (at most one off).
  int X = static_cast<int>(std::floor(log2v * 0.30102999566398120));
  u128 rounded = 0, floorPart = 0;
  const u128 low = 1000000, high = 10000000;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 3 || !Scaled(m, e, 6 - X, rounded, floorPart)) {
      if (std::signbit(v)) out.pop_back();
      return Library(out, v, "%e");
    }
    if (floorPart < low) {
      --X;
    } else if (floorPart >= high) {
      ++X;
    } else {
      break;
    }
  }
  if (rounded == high) {
    rounded = low;
    ++X;
  }
  // d.dddddde+XX in one piece.
  auto digits = static_cast<std::uint32_t>(rounded);
  char text[16];
  for (int i = 7; i >= 2; --i) {
    text[i] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  text[0] = static_cast<char>('0' + digits);
  text[1] = '.';
  text[8] = 'e';
  text[9] = X < 0 ? '-' : '+';
  const int a = X < 0 ? -X : X;
  int n = 10;
  if (a >= 100) text[n++] = static_cast<char>('0' + a / 100);
  text[n++] = static_cast<char>('0' + a / 10 % 10);
  text[n++] = static_cast<char>('0' + a % 10);
  out.append(text, static_cast<std::size_t>(n));
}

void AppendF(std::string& out, double v) {
  if (!std::isfinite(v)) return Library(out, v, "%f");
  std::uint64_t m;
  int e;
  Decompose(v, m, e);
  u128 rounded = 0, floorPart = 0;
  if (v != 0.0 && !Scaled(m, e, 6, rounded, floorPart)) return Library(out, v, "%f");
  if (std::signbit(v)) out.push_back('-');
  if (rounded > UINT64_MAX) {
    AppendDigits(out, rounded / 1000000, 1);
    out.push_back('.');
    AppendDigits(out, static_cast<std::uint64_t>(rounded % 1000000), 6);
    return;
  }
  const auto whole = static_cast<std::uint64_t>(rounded);
  AppendDigits(out, whole / 1000000, 1);
  auto fraction = static_cast<std::uint32_t>(whole % 1000000);
  char text[7];
  text[0] = '.';
  for (int i = 6; i >= 1; --i) {
    text[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  out.append(text, 7);
}
