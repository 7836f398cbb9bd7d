// The M* screen's button table as data: which slots exist, where they stand
// at a known client size, which action each slot carries, and the typed
// values kept inside what the smoothing and extrapolations can use.
#include <gtest/gtest.h>

#include <cmath>

#include "equilibrium/mstar/mstar_screen.h"
#include "fit/model_params.h"

namespace {

MStarState Analysis(int N, bool smoothing) {
  MStarState st;
  st.count = N;
  st.sets.assign(static_cast<size_t>(N) + 1, MStarDataSet{});
  for (auto* v : {&st.k, &st.ca, &st.mwavg, &st.mwLin}) v->assign(static_cast<size_t>(N) + 1, 0.0f);
  for (int d = 1; d <= N; ++d) {
    st.ca[static_cast<size_t>(d)] = 0.1234f * d;
    st.mwavg[static_cast<size_t>(d)] = 50.0f + d;
    st.mwLin[static_cast<size_t>(d)] = 49.0f + d;
  }
  st.settings.cmSmoothing = smoothing;
  return st;
}

std::vector<int> Existing(const std::vector<MStarButtonSpec>& t) {
  std::vector<int> slots;
  for (size_t s = 1; s < t.size(); ++s)
    if (t[s].exists) slots.push_back(static_cast<int>(s));
  return slots;
}

}  // namespace

TEST(MStarScreen, SlotsThatExistFollowTheDataSetsAndTheSmoothing) {
  gModelParams = ModelParams{};
  struct Case {
    int N;
    bool smoothing;
    std::vector<int> slots;
  };
  const Case cases[] = {
      {1, false, {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13}},
      {2, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}},
      // No extrapolation buttons and no linear fits (slots 11 and 12).
      {2, true, {2, 3, 5, 6, 7, 8, 9, 10, 13, 14, 15, 16, 17}},
  };
  for (const Case& c : cases) {
    const auto table = MStarButtonLayout(Analysis(c.N, c.smoothing), false, false, 1400, 1000);
    EXPECT_EQ(table.size(), static_cast<size_t>(4 * c.N + 9 + 1));
    EXPECT_EQ(Existing(table), c.slots) << c.N << " " << c.smoothing;
  }
}

TEST(MStarScreen, RectanglesAtAFullSizeClientArea) {
  gModelParams = ModelParams{};
  gModelParams.baseline = 0.01f;
  const auto table = MStarButtonLayout(Analysis(2, false), false, false, 1400, 1000);
  struct Case {
    int slot;
    const char* caption;
    int top, bottom, left, right;
    std::uint32_t offFill, onFill;
  };
  // h = 18; w = 5 L (6 L for the baselines).
  const Case cases[] = {
      {1, "extrap.", 59, 77, 245, 310, 0xf0f0f0, 0xc8c8ff},
      {2, "SG smooth = 2.0 %(1)", 59, 77, 785, 945, 0xffe6e6, 0xc8c8ff},
      {3, "SG smooth = 1.0 %(box)", 534, 552, 920, 1090, 0xffe6e6, 0xc8c8ff},
      {4, "extrap.", 534, 552, 535, 600, 0xf0f0f0, 0xc8c8ff},
      {5, "RI off", 31, 48, 622, 702, 0xf0f0f0, 0xc8faff},
      {6, "c(M) off", 13, 30, 622, 762, 0xf0f0f0, 0xc8c8ff},
      {7, " hinge point info ", 13, 30, 747, 887, 0xf0f0f0, 0xc8c8ff},
      {8, " toggle to dlnc/dr2", 556, 574, 785, 1005, 0xffd2d2, 0xffdcdc},
      {9, "Mwavg(1) = 51.0 (kDa)", 561, 579, 435, 600, 0xffffff, 0xffffff},
      {12, "linear fit to lnc(r^2)(2) --> 51.0 (kDa)", 288, 306, 1080, 1360, 0xffffff, 0xffffff},
      {13, "Baseline = 0.0100", 13, 32, 458, 620, 0xffc796, 0x9696ff},
      {16, "A0(2) = 0.2468", 77, 95, 110, 240, 0xf0f0ff, 0xc8c8ff},
      {17, "go to Mwapp(r)", 534, 552, 785, 915, 0xffd2d2, 0xffdcdc},
  };
  for (const Case& c : cases) {
    const MStarButtonSpec& b = table[static_cast<size_t>(c.slot)];
    SCOPED_TRACE(c.slot);
    EXPECT_EQ(b.caption, c.caption);
    EXPECT_EQ(static_cast<int>(std::floor(b.top)), c.top);
    EXPECT_EQ(static_cast<int>(std::floor(b.bottom)), c.bottom);
    EXPECT_EQ(static_cast<int>(std::floor(b.left)), c.left);
    EXPECT_EQ(static_cast<int>(std::floor(b.right)), c.right);
    EXPECT_EQ(b.offFill, c.offFill);
    EXPECT_EQ(b.onFill, c.onFill);
  }
  EXPECT_EQ(table[5].onCaption, "RI on ");
  EXPECT_EQ(table[8].onCaption, " toggle to (1/2)(1/(c*r))(dc/dr)");
  EXPECT_EQ(table[13].onCaption, "set");
  EXPECT_EQ(table[17].onCaption, "go to Mwapp(c)");
}

TEST(MStarScreen, SizesKeepTheirPixelsAndSwitchesShowWhatIsInForce) {
  gModelParams = ModelParams{};
  gModelParams.riNoiseFit = 1;
  MStarState st = Analysis(2, false);
  st.settings.dlncForm = true;
  st.settings.mwappAgainstRadius = true;
  // Half the height, half the width: the buttons keep their pixels, so
  // h = 36 and w = 10 L in screen units; the places stay.
  const auto table = MStarButtonLayout(st, true, true, 700, 500);
  EXPECT_FLOAT_EQ(table[2].top, 68.0f);
  EXPECT_FLOAT_EQ(table[2].bottom, 104.0f);
  EXPECT_FLOAT_EQ(table[2].left, 785.0f);
  EXPECT_FLOAT_EQ(table[2].right, 785.0f + 200.0f + 60.0f);
  // Before the first paint the client area counts as 1400 x 1000.
  EXPECT_FLOAT_EQ(MStarButtonLayout(st, true, true, 0, 0)[2].bottom, 77.0f);
  for (int slot : {5, 8, 17}) EXPECT_TRUE(table[static_cast<size_t>(slot)].pressed) << slot;
  for (int slot : {1, 2, 6, 7}) EXPECT_FALSE(table[static_cast<size_t>(slot)].pressed) << slot;
  // Interference data give Ja, individual baselines name their data set.
  EXPECT_EQ(table[16].caption, "Ja(2) = 0.2468");
  EXPECT_EQ(table[13].caption.rfind("Baseline(1) = ", 0), 0u);
  gModelParams = ModelParams{};
}

TEST(MStarScreen, SlotsCarryTheirActionsAndDataSets) {
  struct Case {
    int slot;
    MStarAction action;
    int dataSet;
  };
  // N = 3: 8 fixed, then Mwavg 9..11, linear fits 12..14, baselines 15..17,
  // A0 18..20, the abscissa 21.
  const Case cases[] = {
      {0, MStarAction::None, 0},           {1, MStarAction::SignalExtrapolation, 0},
      {5, MStarAction::IndividualBaselines, 0}, {8, MStarAction::MwappForm, 0},
      {9, MStarAction::MwavgText, 1},      {14, MStarAction::LinearFitText, 3},
      {15, MStarAction::Baseline, 1},      {19, MStarAction::MeniscusSignal, 2},
      {21, MStarAction::MwappAbscissa, 0}, {22, MStarAction::None, 0},
  };
  for (const Case& c : cases) {
    int d = -1;
    EXPECT_EQ(MStarSlotAction(c.slot, 3, &d), c.action) << c.slot;
    EXPECT_EQ(d, c.dataSet) << c.slot;
  }
  EXPECT_EQ(MStarSlotAction(13, 1, nullptr), MStarAction::MwappAbscissa);
}

TEST(MStarScreen, TypedValuesStayInsideWhatTheSmoothingAndFitsCanUse) {
  struct HalfWidth {
    float typed;
    int stored;
  };
  for (const HalfWidth& c : {HalfWidth{2.0f, 20}, HalfWidth{0.15f, 1}, HalfWidth{0.0f, 1}, HalfWidth{-3.0f, 1},
                             HalfWidth{49.9f, 499}, HalfWidth{100.0f, 499}, HalfWidth{1e30f, 499},
                             HalfWidth{std::nanf(""), 1}})
    EXPECT_EQ(MStarHalfWidthFromPercent(c.typed), c.stored) << c.typed;
  EXPECT_EQ(MStarSgOrderFromTyped(3.7f, 20), 3);
  EXPECT_EQ(MStarSgOrderFromTyped(9.0f, 2), 4);
  EXPECT_EQ(MStarSgOrderFromTyped(-1.0f, 20), 0);
  EXPECT_EQ(MStarSgOrderFromTyped(50.0f, 100), 10);
  for (auto [typed, order] : {std::pair{1.0f, 1}, {2.9f, 2}, {7.0f, 2}, {-1.0f, 0}, {0.5f, 0}})
    EXPECT_EQ(MStarExtrapolationOrderFromTyped(typed), order) << typed;
}

TEST(MStarScreen, PixelColumnsBecomeRadiiThroughThePlotsTransform) {
  // X = 400 r - 2400 puts 6.0 .. 7.2 cm on columns 0 .. 480 of the plot space.
  const double offset = -2400, scale = 400;
  // At 1400 px a pixel is a plot unit; at 700 px two.
  EXPECT_DOUBLE_EQ(MStarRadiusAtPixel(200, 1400, offset, scale, false), (200 - offset) / scale);
  EXPECT_DOUBLE_EQ(MStarRadiusAtPixel(100.7, 700, offset, scale, false), (200 - offset) / scale);
  EXPECT_DOUBLE_EQ(MStarRadiusAtPixel(101, 1000, offset, scale, false), (141 - offset) / scale);
  // No client width yet: column 0.
  EXPECT_DOUBLE_EQ(MStarRadiusAtPixel(300, 0, offset, scale, false), -offset / scale);
  // A logarithmic axis maps log10 r.
  EXPECT_NEAR(MStarRadiusAtPixel(300, 1400, 100, 200, true), 10.0, 1e-12);
}
