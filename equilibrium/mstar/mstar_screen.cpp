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
  // Rectangles as top, bottom, left, right.
  auto put = [&](int slot, std::string caption, std::string onCaption, float top, float bottom, float left,
                 float right, std::uint32_t offFill, std::uint32_t onFill, bool pressed = false) {
    MStarButtonSpec& b = table[static_cast<size_t>(slot)];
    b.exists = true;
    b.caption = std::move(caption);
    b.onCaption = std::move(onCaption);
    b.top = top;
    b.bottom = bottom;
    b.left = left;
    b.right = right;
    b.offFill = offFill;
    b.onFill = onFill;
    b.pressed = pressed;
    b.aspect = (H / kScreenHeight) / (W / kScreenWidth);
  };
  constexpr std::uint32_t kGrey = 0xf0f0f0, kBlue = 0xffe6e6, kPressed = 0xc8c8ff, kWhite = 0xffffff;
  constexpr std::uint32_t kViewOff = 0xffd2d2, kViewOn = 0xffdcdc;

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
  if (!smoothing) {
    const float w = width("extrap.", 5.0f);
    const float left = std::max(205.0f, a0Right + 5);
    put(1, "extrap.", "extrap.", 50 + 0.5f * h, 50 + 1.5f * h, left, left + w + 30, kGrey, kPressed);
  }
  {
    const std::string c = MStarSgCaption(set);
    put(2, c, c, 50 + 0.5f * h, 50 + 1.5f * h, 785, 785 + width(c, 5.0f) + 60, kBlue, kPressed);
  }
  {
    const std::string c = MStarMwappMeanCaption(set);
    const float left = std::max(785.0f, viewRight + 5);
    put(3, c, c, 525 + 0.5f * h, 525 + 1.5f * h, left, left + width(c, 5.0f) + 60, kBlue, kPressed);
  }
  if (!smoothing) {
    const float w = width("extrap.", 5.0f);
    put(4, "extrap.", "extrap.", 525 + 0.5f * h, 525 + 1.5f * h, 600 - w - 30, 600, kGrey, kPressed);
  }
  if (N >= 2)
    put(5, "RI off", "RI on ", 49 - h, 48, 622, 622 + width("RI off", 5.0f) + 50, kGrey, 0xc8faff, riNoise);
  put(6, "c(M) off", "c(M) on ", 49 - 2 * h, 48 - h, 622, 622 + width("c(M) off", 5.0f) + 100, kGrey, kPressed,
      smoothing);
  {
    const std::string c = " hinge point info ";
    put(7, c, c, 49 - 2 * h, 48 - h, 747, 747 + width(c, 5.0f) + 50, kGrey, kPressed);
  }
  {
    const std::string off = " toggle to dlnc/dr2", on = " toggle to (1/2)(1/(c*r))(dc/dr)";
    put(8, off, on, 525 + 1.75f * h, 525 + 2.75f * h, kViewLeft, kViewLeft + width(on, 5.0f) + 60, kViewOff, kViewOn,
        set.dlncForm);
  }
  const MStarResultTexts texts = ComposeMStarResultTexts(st);
  for (int i = 1; i <= N; ++i) {
    const size_t k = static_cast<size_t>(i - 1);
    const float fi = static_cast<float>(i);
    if (k < texts.mwavg.size()) {
      const std::string& c = texts.mwavg[k];
      put(8 + i, c, c, 525 + (fi + 1) * h, 525 + (fi + 2) * h, 600 - width(c, 5.0f) - 60, 600, kWhite, kWhite);
    }
    if (!smoothing && k < texts.linearFit.size()) {
      const std::string& c = texts.linearFit[k];
      // Ending at the ln c plot's right edge.
      put(8 + N + i, c, c, 450 - (11 - fi) * h, 450 - (10 - fi) * h, 1360 - width(c, 7.0f), 1360, kWhite, kWhite);
    }
    if (k < texts.baseline.size()) {
      const std::string& c = texts.baseline[k];
      put(8 + 2 * N + i, c, "set", 49 - (3 - fi) * h, 50 - (2 - fi) * h, 620 - width(c, 6.0f) - 60, 620, 0xffc796,
          0x9696ff);
    }
    const std::string c = MStarMeniscusSignalCaption(i, st.ca[static_cast<size_t>(i)], interference, false);
    put(8 + 3 * N + i, c, c, 50 + (fi - 0.5f) * h, 50 + (fi + 0.5f) * h, 110, 110 + width(c, 5.0f) + 60, 0xf0f0ff,
        kPressed);
  }
  {
    const std::string off = "go to Mwapp(r)", on = "go to Mwapp(c)";
    put(MStarSlotCount(N), off, on, 525 + 0.5f * h, 525 + 1.5f * h, kViewLeft, viewRight, kViewOff,
        kViewOn, set.mwappAgainstRadius);
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
