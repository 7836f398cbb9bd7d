#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/metafile.h"
#include "platform/scripted_ui.h"
#include "plot/screen_button_group.h"
#include "plot/screen_slider.h"

#include "curve_test_support.h"

using namespace platform;

namespace {

using plottest::Ops;
using plottest::Has;

// A client area that records nothing and hands out white pixels.
class BlankSurface : public DrawSurface {
 public:
  int ClientWidth() const override { return 1400; }
  int ClientHeight() const override { return 1000; }
  std::unique_ptr<DrawContext> ClientDC() override { return std::make_unique<RecordingDC>(); }
  Bitmap CopyPixels(int, int, int width, int height) const override { return Bitmap(width, height); }
  void PastePixels(const Bitmap&, int, int) override {}
};

// Client units (0..1000) of a plot-space column.
float ClientX(float plotX) { return plotX / 1.4f; }

}  // namespace

TEST(ScreenSlider, KnobSizeAndPositionAlongEitherAxis) {
  CScreenSlider h;
  h.SetRect(200, 100, 220, 400);
  EXPECT_EQ(h.knobHalfSize, 10);
  EXPECT_EQ(h.knobPos, 100);
  h.SetPosition(0.25f);
  EXPECT_EQ(h.knobPos, 175);
  h.SetPosition(1.5f);
  EXPECT_EQ(h.position, 0.25f);
  h.SetPosition(-0.1f);
  EXPECT_EQ(h.knobPos, 175);

  CScreenSlider v;
  v.SetVertical();
  EXPECT_FALSE(v.horizontal);
  v.SetRect(300, 50, 320, 60);  // 20 units high
  EXPECT_EQ(v.knobHalfSize, 1);
  v.SetPosition(1.0f);
  EXPECT_EQ(v.knobPos, 300);  // position 1 lies at the top
  EXPECT_EQ(v.caption, "");
}

TEST(ScreenSlider, ClicksMoveTheKnobAndRecordTheFace) {
  CScreenSlider s;
  s.SetRect(200, 100, 220, 400);
  EXPECT_EQ(s.Click(ClientX(50), 210), -1.0f);
  EXPECT_EQ(s.Click(ClientX(250), 230), -1.0f);
  const float p = s.Click(ClientX(250), 210);
  EXPECT_NEAR(p, 0.5f, 1e-5f);
  EXPECT_EQ(s.knobPos, 250);
  EXPECT_EQ(s.on, 0);  // a slider is not toggled by clicks
  const auto ops = Ops(s.face);
  EXPECT_TRUE(Has(ops, "Rectangle(101,221,400,200)"));  // body
  EXPECT_TRUE(Has(ops, "Rectangle(261,221,240,200)"));  // knob, half-size 10
  EXPECT_TRUE(Has(ops, "LineTo(260,200)"));             // its outline
}

TEST(ValueSlider, ButtonsLabelsAndArrows) {
  CValueSlider s;
  s.SetRange(10, 0, false);
  EXPECT_EQ(s.minValue, 0);
  EXPECT_EQ(s.maxValue, 10);
  s.SetLabel("s", "S", 1.0f);
  s.SetRect(200, 100, 220, 400);
  EXPECT_EQ((std::vector<int>{s.upButton->top, s.upButton->left, s.upButton->bottom, s.upButton->right}),
            (std::vector<int>{200, 401, 220, 420}));
  EXPECT_EQ((std::vector<int>{s.downButton->left, s.downButton->right}), (std::vector<int>{80, 99}));
  EXPECT_EQ((std::vector<int>{s.labelButton->left, s.labelButton->right}), (std::vector<int>{421, 571}));

  s.SetValueAt(0.995f);
  EXPECT_NEAR(s.Click(ClientX(410), 210), 0.995f, 1e-6f);  // 1.005 is refused by the knob
  EXPECT_EQ(s.value, 10.0f);
  EXPECT_EQ(s.labelButton->caption, "s = 1.000e+01 S");
  EXPECT_NEAR(s.Click(ClientX(90), 210), 0.985f, 1e-5f);
  EXPECT_NEAR(s.value, 9.85f, 1e-4f);
  EXPECT_EQ(s.Click(ClientX(700), 210), -1.0f);
  EXPECT_TRUE(s.RedrawAll());
}

TEST(ValueSlider, LogarithmicValuesAndPrompts) {
  ScriptedUserInterface ui;
  ScopedUI scoped(ui);
  CValueSlider s;
  s.SetRange(0, 3, true);  // 1 .. 1000
  s.SetLabel("c", "uM", 1.0f);
  s.SetRect(200, 100, 220, 400);
  EXPECT_NEAR(s.DisplayValueAt(2.0f / 3.0f), 100.0f, 1e-3f);
  EXPECT_EQ(s.PositionOfDisplayValue(0), 0.0f);
  ui.ExpectPrompt("", "enter value between 1.000 and 1000.000 uM", std::string("100"));
  EXPECT_NEAR(s.PromptValue(ClientX(250), 210), 2.0f / 3.0f, 1e-5f);
  EXPECT_NEAR(s.value, 2.0f, 1e-6f);
  ui.ExpectPrompt("", "", std::string("5000"));
  EXPECT_EQ(s.PromptValue(ClientX(250), 210), -1.0f);  // beyond the range
  ui.ExpectPrompt("", "", std::nullopt);
  EXPECT_EQ(s.PromptValue(ClientX(250), 210), -1.0f);
  EXPECT_EQ(s.PromptValue(ClientX(50), 210), -1.0f);  // a miss asks nothing
  EXPECT_NEAR(s.value, 2.0f, 1e-6f);
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty());
}

TEST(ListValueSlider, SnapsToTheNearestAllowedValue) {
  CListValueSlider s;
  s.SetRange(0, 10, false);
  s.SetLabel("n", "x", 1.0f);
  s.SetRect(200, 100, 220, 400);
  EXPECT_FALSE(s.SetValueList(0, nullptr, false));
  const float values[] = {0, 1, 2, 5, 10};
  ASSERT_TRUE(s.SetValueList(4, values, false));
  struct Case {
    float p;
    int index;
    float position;
  } cases[] = {{0.36f, 3, 0.5f}, {0.35f, 2, 0.2f}, {0.0f, 1, 0.0f}, {0.97f, 4, 1.0f}};
  for (const Case& c : cases) {
    EXPECT_EQ(s.SnapToPosition(c.p), c.index) << c.p;
    EXPECT_NEAR(s.position, c.position, 1e-6f);
  }
  EXPECT_EQ(s.SnapToPosition(1.2f), 4);  // outside: unchanged
  EXPECT_EQ(s.labelButton->caption, "n = 10.000 x");
  EXPECT_EQ(s.StepUp(), -1.0f);
  s.SnapToPosition(0);
  EXPECT_EQ(s.StepDown(), -1.0f);
  EXPECT_NEAR(s.StepUp(), 0.2f, 1e-6f);
  EXPECT_EQ(s.valueIndex, 2);
}

TEST(ListValueSlider, ZeroAllowedOnALogarithmicScale) {
  CListValueSlider s;
  s.SetRange(0, 3, true);
  s.SetLabel("c", "uM", 1.0f);
  s.SetRect(200, 100, 220, 400);
  const float values[] = {0, 1, 10, 100, 1000};
  ASSERT_TRUE(s.SetValueList(4, values, true));
  EXPECT_EQ(s.values[3], 2.0f);
  s.AllowZero();
  for (float p : {0.01f, 0.2f, 0.249f}) {
    EXPECT_EQ(s.SnapToPosition(p), 1) << p;
    EXPECT_EQ(s.position, 0.0f);
    EXPECT_EQ(s.labelButton->caption, "c = 0.000 uM");
  }
  EXPECT_EQ(s.SnapToPosition(0.7f), 3);
  EXPECT_EQ(s.labelButton->caption, "c = 100.000 uM");
  s.SnapToPosition(0.4f);  // index 2 (10 uM)
  ASSERT_EQ(s.valueIndex, 2);
  EXPECT_EQ(s.StepDown(), 0.0f);  // down to the explicit zero
}

TEST(ListValueSlider, ArrowClicksStepThroughTheList) {
  BlankSurface window;
  CListValueSlider s;
  s.SetRange(0, 10, false);
  s.SetRect(200, 100, 220, 400);
  const float values[] = {0, 1, 2, 5, 10};
  s.SetValueList(4, values, false);
  s.SnapToPosition(0.2f);
  EXPECT_EQ(s.HandleClick(window, ClientX(410), 210), -2.0f);
  EXPECT_EQ(s.valueIndex, 3);
  EXPECT_FALSE(s.upButton->on);
  EXPECT_EQ(s.HandleClick(window, ClientX(90), 210), -3.0f);
  EXPECT_EQ(s.valueIndex, 2);
  EXPECT_NEAR(s.HandleClick(window, ClientX(349), 210), 1.0f, 1e-6f);
  EXPECT_EQ(s.valueIndex, 4);
  EXPECT_EQ(s.HandleClick(window, ClientX(700), 210), -1.0f);
  EXPECT_EQ(s.ClickOrPrompt(ClientX(700), 210), -1.0f);
}

TEST(ScreenButtonGroup, StacksButtonsAndFindsTheHitOne) {
  CScreenButtonGroup g;
  int index = -1;
  EXPECT_FALSE(g.HitTest(10, 10, &index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(g.RedrawAll());
  EXPECT_FALSE(g.RecordGroupFace());
  g.Create(4, 900.7f, 10.2f, 500, 110);
  ASSERT_EQ(g.count, 4);
  EXPECT_EQ(g.firstEdge, 900);
  EXPECT_EQ(g.left, 10);
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(g.buttons[i]->top, static_cast<int>(std::floor(900.7f - (i - 1) * 100)));
    EXPECT_EQ(g.buttons[i]->bottom, static_cast<int>(std::floor(900.7f - i * 100 + 1)));
  }
  EXPECT_TRUE(g.HitTest(ClientX(50), 750, &index));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(g.IsOnAt(2));  // toggle buttons flip when hit
  EXPECT_FALSE(g.HitTest(ClientX(200), 750, &index));
  EXPECT_EQ(index, 0);
  g.SetHiddenAt(2, true);
  EXPECT_FALSE(g.HitTest(ClientX(50), 750, &index));
  EXPECT_FALSE(g.IsOnAt(9));
  EXPECT_EQ(g.FaceAt(0), 0u);
  g.SetColors(0x9696ff, 0x808080);
  g.SetTextAt(1, "a", 1, "b", 1);
  EXPECT_EQ(g.buttons[1]->faceColor, 0x808080u);
  EXPECT_TRUE(g.RedrawAll());
  ASSERT_TRUE(g.RecordGroupFace());
  const auto ops = Ops(g.GroupFace());
  EXPECT_EQ(ops.front(), "SetWindowExt(1399,1000)");
  // The faces of the three shown buttons, each with its fill.
  EXPECT_EQ(std::count_if(ops.begin(), ops.end(), [](const std::string& s) { return s.rfind("Rectangle(", 0) == 0; }),
            3);
}
