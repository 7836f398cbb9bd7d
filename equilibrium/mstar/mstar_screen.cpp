#include "equilibrium/mstar/mstar_screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "equilibrium/mstar/mstar_transform.h"

namespace {

constexpr float kScreenWidth = 1400.0f, kScreenHeight = 1000.0f;
// Half the resampling grid less the point itself: the widest window it holds.
constexpr int kWidestHalfWidth = (kMStarResamplePoints - 1) / 2;
// Higher Savitzky-Golay orders smooth nothing away and make every
// recomputation of the screen slow.
constexpr int kHighestSgOrder = 10;

std::string Format(const char* format, double v) {
  char text[200];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// Rounds down, and keeps values beyond int range (or NaN) from reaching a cast.
int Floor(float v, int lo, int hi) {
  if (!(v >= static_cast<float>(lo))) return lo;
  if (!(v <= static_cast<float>(hi))) return hi;
  return std::clamp(static_cast<int>(std::floor(v)), lo, hi);
}

}  // namespace

MStarScreenRequests& CurrentMStarRequests() {
  static MStarScreenRequests requests;
  return requests;
}

int MStarSlotCount(int N) { return 4 * N + 9; }

MStarAction MStarSlotAction(int slot, int N, int* dataSet) {
  if (dataSet) *dataSet = 0;
  static constexpr MStarAction kFixed[] = {
      MStarAction::None,          MStarAction::SignalExtrapolation, MStarAction::SgSmoothing,
      MStarAction::MwappMean,     MStarAction::MStarExtrapolation,  MStarAction::IndividualBaselines,
      MStarAction::CofMSmoothing, MStarAction::HingePoint,          MStarAction::MwappForm};
  if (slot < 1 || N < 1 || slot > MStarSlotCount(N)) return MStarAction::None;
  if (slot <= 8) return kFixed[slot];
  if (slot == MStarSlotCount(N)) return MStarAction::MwappAbscissa;
  static constexpr MStarAction kPerDataSet[] = {MStarAction::MwavgText, MStarAction::LinearFitText,
                                                MStarAction::Baseline, MStarAction::MeniscusSignal};
  const int k = slot - 9;  // 0 .. 4N - 1
  if (dataSet) *dataSet = k % N + 1;
  return kPerDataSet[k / N];
}

std::string MStarSgCaption(const MStarSettings& s) {
  char text[80];
  std::snprintf(text, sizeof text, "SG smooth = %.1f %%(%d)", s.sgHalfWidth / 10.0, s.sgOrder);
  return text;
}

std::string MStarMwappMeanCaption(const MStarSettings& s) {
  return Format("SG smooth = %.1f %%(box)", s.mwappHalfWidth / 10.0);
}

std::string MStarMeniscusSignalCaption(int d, float ca, bool interference, bool fixed) {
  char text[80];
  std::snprintf(text, sizeof text, interference ? "Ja(%d) = %.4f" : "A0(%d) = %.4f", d, ca);
  return std::string(text) + (fixed ? " (fix)" : "");
}

namespace {

// Down: top = topAt + topRows h, bottom = bottomAt + bottomRows h, h the
// height of a button in screen units.
struct Down {
  float topAt, topRows, bottomAt, bottomRows;
};

// Across: from `at` to the right (left edge) or ending at `at` (right edge),
// as wide as the caption at perChar units a character, plus margin. The
// switch of the derivative's form is as wide as its longer "on" caption.
enum class Edge { Left, Right };
struct Across {
  Edge edge;
  float at, perChar, margin;
  bool byOnCaption = false;
};

// One button of the table.
struct Row {
  int slot;
  std::string caption, onCaption;
  Down down;
  Across across;
  std::uint32_t offFill, onFill;
  bool pressed = false;
};

constexpr std::uint32_t kGrey = 0xf0f0f0, kBlue = 0xffe6e6, kPressed = 0xc8c8ff, kWhite = 0xffffff;
constexpr std::uint32_t kViewOff = 0xffd2d2, kViewOn = 0xffdcdc, kRiOn = 0xc8faff;
constexpr std::uint32_t kBaselineOff = 0xffc796, kBaselineOn = 0x9696ff, kMeniscusOff = 0xf0f0ff;

}  // namespace

std::vector<MStarButtonSpec> MStarButtonLayout(const MStarState& st, bool riNoise, bool interference,
                                               float clientWidth, float clientHeight) {
  const int N = st.count;
  std::vector<MStarButtonSpec> table(static_cast<size_t>(std::max(0, MStarSlotCount(N))) + 1);
  if (N < 1 || !st.HasData()) return table;
  const float W = clientWidth > 0 ? clientWidth : kScreenWidth;
  const float H = clientHeight > 0 ? clientHeight : kScreenHeight;
  // A button keeps its size in pixels, whatever the window: 18 px high and
  // k px a character of its caption (plus a margin in screen units). Sized
  // in screen units they shrank with the window until their captions were a
  // few pixels high on a laptop screen.
  const float h = 18.0f * kScreenHeight / H;
  auto width = [W](const std::string& caption, float k) {
    return k * static_cast<float>(caption.size()) * kScreenWidth / W;
  };
  const MStarSettings& set = st.settings;
  const bool smoothing = set.cmSmoothing;

  // The signal plot's column of A0 buttons and the Mwapp plot's view switch
  // stand where the buttons beside them would begin; those move on past them.
  float a0Right = 0;
  for (int i = 1; i <= N; ++i)
    a0Right = std::max(a0Right, 110 + width(MStarMeniscusSignalCaption(i, st.ca[static_cast<size_t>(i)],
                                                                       interference, false), 5.0f) + 60);
  // The Mwapp plot's view switch begins inside its frame (at 770), in the
  // column of the smoothing button of the ln c plot above: left of the frame
  // stand the axis numbers and the long Mwapp label, which ran under it.
  constexpr float kViewLeft = 785;
  const float viewRight = kViewLeft + width("go to Mwapp(r)", 5.0f) + 60;
  const float signalExtrapLeft = std::max(205.0f, a0Right + 5);
  const float mwappMeanLeft = std::max(785.0f, viewRight + 5);
  const std::string sg = MStarSgCaption(set), mean = MStarMwappMeanCaption(set);

  // Fixed buttons, one a row: slot, captions off and on, down, across,
  // fills off and on, pressed.
  std::vector<Row> rows;
  if (!smoothing)
    rows.push_back({1, "extrap.", "extrap.", {50, 0.5f, 50, 1.5f}, {Edge::Left, signalExtrapLeft, 5, 30}, kGrey, kPressed});
  rows.push_back({2, sg, sg, {50, 0.5f, 50, 1.5f}, {Edge::Left, 785, 5, 60}, kBlue, kPressed});
  rows.push_back({3, mean, mean, {525, 0.5f, 525, 1.5f}, {Edge::Left, mwappMeanLeft, 5, 60}, kBlue, kPressed});
  if (!smoothing)
    rows.push_back({4, "extrap.", "extrap.", {525, 0.5f, 525, 1.5f}, {Edge::Right, 600, 5, 30}, kGrey, kPressed});
  if (N >= 2)
    rows.push_back({5, "RI off", "RI on ", {49, -1, 48, 0}, {Edge::Left, 622, 5, 50}, kGrey, kRiOn, riNoise});
  rows.push_back({6, "c(M) off", "c(M) on ", {49, -2, 48, -1}, {Edge::Left, 622, 5, 100}, kGrey, kPressed, smoothing});
  rows.push_back({7, " hinge point info ", " hinge point info ", {49, -2, 48, -1}, {Edge::Left, 747, 5, 50}, kGrey,
                  kPressed});
  rows.push_back({8, " toggle to dlnc/dr2", " toggle to (1/2)(1/(c*r))(dc/dr)", {525, 1.75f, 525, 2.75f},
                  {Edge::Left, kViewLeft, 5, 60, true}, kViewOff, kViewOn, set.dlncForm});
  rows.push_back({MStarSlotCount(N), "go to Mwapp(r)", "go to Mwapp(c)", {525, 0.5f, 525, 1.5f},
                  {Edge::Left, kViewLeft, 5, 60}, kViewOff, kViewOn, set.mwappAgainstRadius});

  // A row per data set i of each kind: the Mwavg texts (under the M* plot's
  // top), the linear fits (ending at the ln c plot's right edge), the
  // baselines and the meniscus signals.
  const MStarResultTexts texts = ComposeMStarResultTexts(st);
  for (int i = 1; i <= N; ++i) {
    const size_t k = static_cast<size_t>(i - 1);
    const float fi = static_cast<float>(i);
    if (k < texts.mwavg.size())
      rows.push_back({8 + i, texts.mwavg[k], texts.mwavg[k], {525, fi + 1, 525, fi + 2}, {Edge::Right, 600, 5, 60},
                      kWhite, kWhite});
    if (!smoothing && k < texts.linearFit.size())
      rows.push_back({8 + N + i, texts.linearFit[k], texts.linearFit[k], {450, fi - 11, 450, fi - 10},
                      {Edge::Right, 1360, 7, 0}, kWhite, kWhite});
    if (k < texts.baseline.size())
      rows.push_back({8 + 2 * N + i, texts.baseline[k], "set", {49, fi - 3, 50, fi - 2}, {Edge::Right, 620, 6, 60},
                      kBaselineOff, kBaselineOn});
    const std::string a0 = MStarMeniscusSignalCaption(i, st.ca[static_cast<size_t>(i)], interference, false);
    rows.push_back({8 + 3 * N + i, a0, a0, {50, fi - 0.5f, 50, fi + 0.5f}, {Edge::Left, 110, 5, 60}, kMeniscusOff,
                    kPressed});
  }

  for (Row& row : rows) {
    MStarButtonSpec& b = table[static_cast<size_t>(row.slot)];
    const Across& x = row.across;
    const float w = width(x.byOnCaption ? row.onCaption : row.caption, x.perChar);
    b.exists = true;
    b.top = row.down.topAt + row.down.topRows * h;
    b.bottom = row.down.bottomAt + row.down.bottomRows * h;
    b.left = x.edge == Edge::Left ? x.at : x.at - w - x.margin;
    b.right = x.edge == Edge::Left ? x.at + w + x.margin : x.at;
    b.caption = std::move(row.caption);
    b.onCaption = std::move(row.onCaption);
    b.offFill = row.offFill;
    b.onFill = row.onFill;
    b.pressed = row.pressed;
    b.aspect = (H / kScreenHeight) / (W / kScreenWidth);
  }
  return table;
}

int MStarHalfWidthFromPercent(float percent) { return Floor(10.0f * percent, 1, kWidestHalfWidth); }

int MStarSgOrderFromTyped(float typed, int halfWidth) {
  return Floor(typed, 0, std::min(kHighestSgOrder, 2 * std::max(0, halfWidth)));
}

int MStarExtrapolationOrderFromTyped(float typed) { return Floor(typed, 0, 2); }

double MStarRadiusAtPixel(double px, double clientWidth, double xOffset, double xScale, bool logX) {
  const double X = clientWidth > 0 ? std::trunc(std::trunc(px) * 1400.0 / clientWidth) : 0.0;
  if (xScale == 0.0) return 0.0;
  const double v = (X - xOffset) / xScale;
  return logX ? std::pow(10.0, v) : v;
}
