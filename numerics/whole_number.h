#pragma once
// Whole numbers read from files that store every value as a float ("%f" a
// line): counts, codes, switches and fit flags. A float outside the range of
// int32 (NaN, the infinities, 1e30, 2^31) has no int value at all; a plain
// cast of it is undefined behaviour, so a reader asks first.
#include <cstdint>
#include <optional>

// The int32 that v truncates to (as a cast would), or nothing when no int32
// holds it.
inline std::optional<std::int32_t> WholeNumberOf(double v) {
  // Both bounds are exact in double; NaN fails both comparisons.
  if (!(v > -2147483649.0 && v < 2147483648.0)) return std::nullopt;
  return static_cast<std::int32_t>(v);
}
