#include "lamm/amount_kept.h"

#include <cmath>
#include <cstdio>
#include <mutex>

namespace {
std::mutex gMutex;
std::optional<AmountNotKept> gFirst;
}  // namespace

bool AmountKeptWithin(double loaded, double kept, double tolerance) {
  return std::fabs(kept - loaded) <= tolerance * std::fabs(loaded);
}

void RecordAmountNotKept(const AmountNotKept& a) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (!gFirst) gFirst = a;
}

std::optional<AmountNotKept> TakeAmountNotKept() {
  std::lock_guard<std::mutex> lock(gMutex);
  std::optional<AmountNotKept> a = gFirst;
  gFirst.reset();
  return a;
}

std::string AmountNotKeptText(const std::optional<AmountNotKept>& a) {
  const char* const kGrid = "change grid size and readjust max dc/c (Lamm equation parameters, Options menu)";
  if (!a || !(a->loaded != 0)) {
    return std::string("the Lamm equation solution lost or created material: it was not computed\n") + kGrid;
  }
  const double change = (a->kept - a->loaded) / std::fabs(a->loaded);
  char text[400];
  std::snprintf(text, sizeof text,
                "the Lamm equation solution of s = %.4g S, D = %.4g cm^2/sec %s %.3g %% of the material "
                "loaded: it was not computed\n",
                a->s, a->D, change < 0 ? "lost" : "created", 100 * std::fabs(change));
  std::string out = text;
  if (!(a->D <= kFastestSolute)) {
    std::snprintf(text, sizeof text,
                  "no solute diffuses that fast (D = %.3g cm^2/sec; small molecules about 1e-5): check the "
                  "partial-specific volume, frictional ratio or molar mass this D follows from",
                  a->D);
    return out + text;
  }
  return out + kGrid;
}
