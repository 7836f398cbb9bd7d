#pragma once
// How the fits of one synthetic set ended, judged together: each ends
// within 1 % of the lowest rmsd any fit reached on the set, unless its end
// names the limit that stopped it or says that it stopped away from a
// minimum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fit/fit_end.h"
#include "numerics/vector_kernel.h"

namespace fitoutcomes {

// Whether a row of a fit table runs in this process. Every row runs on the
// kernel the program chooses; under another one (ctest runs the programs
// once more per kernel, TARNEL_KERNEL set) only the rows marked to. The
// kernels differ only in the rounding of the dispatched loops, and a row
// costs minutes of CPU a kernel: the marked rows are those where rounding
// decides, one of each kind (see the table).
inline bool RowRunsUnderThisKernel(bool everyKernel) {
  return everyKernel || ActiveVectorKernel() == BestVectorKernel();
}

struct Outcome {
  std::string what;  // the method and start
  float rmsd;
  FitEndKind end;
  std::string text;
};

// `bound` is the largest rmsd an end that claims a minimum may have
// (1.01 times the best, or what an exact fit leaves).
inline void ExpectNearTheBestOrANamedEnd(const std::vector<Outcome>& outcomes, float bound) {
  for (const Outcome& o : outcomes) {
    if (o.end == FitEndKind::Limit || o.end == FitEndKind::NotReached) continue;
    EXPECT_LE(o.rmsd, bound) << o.what << ": " << o.text;
  }
}


// The quantities an end names as not determined by the data ("the data do
// not determine a, b and c: ..." or "...; the data do not determine a and
// b; ..."); none for another end.
inline std::vector<std::string> NamesAfter(const std::string& text, const std::string& lead, const char* ends) {
  const size_t at = text.find(lead);
  if (at == std::string::npos) return {};
  const size_t from = at + lead.size();
  std::string list = text.substr(from, text.find_first_of(ends, from) - from);
  std::vector<std::string> names;
  for (size_t k = 0; k <= list.size();) {
    size_t next = std::min(list.find(", ", k), list.find(" and ", k));
    if (next == std::string::npos) next = list.size();
    names.push_back(list.substr(k, next - k));
    k = next + (next < list.size() && list[next] == ',' ? 2 : 5);
  }
  return names;
}
inline std::vector<std::string> NamedUndetermined(const std::string& text) {
  return NamesAfter(text, "the data do not determine ", ":;");
}
// The quantities an end tells held at the end of their range ("its steps
// lead beyond the fit range of a and b, which is held at its limit").
inline std::vector<std::string> NamedHeldAtTheirLimit(const std::string& text) {
  const size_t tail = text.find(", which is held at its limit");
  if (tail == std::string::npos) return {};
  return NamesAfter(text.substr(0, tail), "its steps lead beyond the fit range of ", ";");
}

// The end of a fit judged from outside by the one rule every method's end
// follows: each fitted entry (v[1..n] as the fit left it, named name[k])
// is moved by a tenth of the larger of its value and its start (0.1 where
// both are 0; one in units of the signal by at least sigma) either way
// through `rmsdAt` (the model's rmsd at v, kRejectedTrial or above where it
// cannot be computed; it writes back into v the value a limit holds), and
// the change of chi-square N (r^2 - r_end^2) / sigma^2 is taken in units of
// the noise the test put into the data. An entry named changes it by less
// than a unit on every side the model takes (up to 1.25: the fit judges by
// its own estimate of the noise); one not named changes it by a unit on
// some side (at least 0.8) or lowers it by one, and then the end says it
// stopped away from a minimum; one told held at its range's end changes it
// by a unit too. Other ends by a limit or a stop name nothing and are not
// judged; nor is an exact fit (`exact`: an rmsd within the rounding
// of the signals, where a change of chi-square is rounding too), which
// names nothing. Returns the largest change of each entry, in units, with
// the sign of the larger side (0 where no side was computed).
inline std::vector<double> ExpectEndNamesFollowTheTenthRule(const std::function<float(float*)>& rmsdAt,
                                                            const std::vector<float>& end,
                                                            const std::vector<float>& start,
                                                            const std::vector<std::string>& name, double rmsd,
                                                            double points, double sigma, bool exact,
                                                            const Outcome& o) {
  const std::vector<std::string> named = NamedUndetermined(o.text), held = NamedHeldAtTheirLimit(o.text);
  const bool judged = !exact && (o.end == FitEndKind::Reached || o.end == FitEndKind::Undetermined);
  if (exact) {
    EXPECT_TRUE(named.empty()) << o.what << ": " << o.text;
  }
  const int n = static_cast<int>(end.size()) - 1;
  std::vector<double> largest(end.size(), 0.0);
  std::string said;
  for (int k = 1; k <= n; ++k) {
    const double value = end[k], scale = std::max(std::fabs(value), std::fabs(static_cast<double>(start[k])));
    double step = scale != 0.0 ? 0.1 * scale : 0.1;
    if (NamedInSignalUnits(name[k])) step = std::max(step, sigma);
    double up = 0.0, fall = 0.0;
    int sides = 0;
    for (const double side : {1.0, -1.0}) {
      std::vector<float> v(end);
      const float wanted = static_cast<float>(value + side * step);
      v[k] = wanted;
      const double r = rmsdAt(v.data());
      if (v[k] != wanted || !(r < 1e10)) continue;
      ++sides;
      const double change = points * (r * r - rmsd * rmsd) / (sigma * sigma);
      up = std::max(up, std::fabs(change));
      fall = std::max(fall, -change);
      if (std::fabs(change) >= std::fabs(largest[k])) largest[k] = change;
    }
    const bool isNamed = std::find(named.begin(), named.end(), name[k]) != named.end();
    char line[160];
    std::snprintf(line, sizeof line, " %s=%.4g%s %+.2f", name[k].c_str(), value, isNamed ? "(named)" : "",
                  largest[k]);
    said += line;
    // One held at its range's end is pressed there by the data, not left
    // open by them.
    if (!exact && sides > 0 && std::find(held.begin(), held.end(), name[k]) != held.end()) {
      EXPECT_GE(up, 0.8) << o.what << ": " << name[k] << " told held, a tenth moves chi-square by " << up << ": "
                         << o.text;
    }
    if (!judged || sides == 0) {
      EXPECT_FALSE(isNamed) << o.what << ": " << name[k] << " named, no move of it computed: " << o.text;
      continue;
    }
    if (isNamed)
      EXPECT_LT(up, 1.25) << o.what << ": " << name[k] << " named, a tenth moves chi-square by " << up << ": "
                          << o.text;
    else if (fall >= 1.25)
      EXPECT_EQ(o.end, FitEndKind::NotReached) << o.what << ": a tenth of " << name[k] << " lowers chi-square by "
                                               << fall << ": " << o.text;
    else
      EXPECT_GE(up, 0.8) << o.what << ": " << name[k] << " not named, a tenth moves chi-square by " << up << ": "
                         << o.text;
  }
  for (const std::string& k : named)
    EXPECT_NE(std::find(name.begin(), name.end(), k), name.end()) << o.what << ": " << k << " is no fitted entry";
  std::printf("%s: tenth moves in units of chi-square:%s\n", o.what.c_str(), said.c_str());
  return largest;
}

}  // namespace fitoutcomes
