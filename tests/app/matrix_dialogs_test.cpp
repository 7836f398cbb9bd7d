// The dialogs built at run time: templates and label columns by request,
// parsing of the typed numbers with one message per bad field, and the
// caller's matrices changed only by a confirmed OK.
#include "app/dialogs/matrix_dialogs.h"
#include "numerics/arrays.h"
#include "road_support.h"

namespace {

class MatrixDialogs : public RoadTest {
 protected:
  // A 2 x 2 request with "a1" "a2" / "b1" "b2" and values 1 2 / 3 4.
  void SetUp() override {
    RoadTest::SetUp();
    values_ = matrix(1, 2, 1, 2);
    values_[1][1] = 1, values_[1][2] = 2, values_[2][1] = 3, values_[2][2] = 4;
  }
  void TearDown() override {
    free_matrix(values_, 1, 2, 1, 2);
    RoadTest::TearDown();
  }
  std::vector<float> Values() const { return {values_[1][1], values_[1][2], values_[2][1], values_[2][2]}; }

  const std::vector<std::string> labels_ = {"a1", "a2", "b1", "b2"};
  float** values_ = nullptr;
};

TEST_F(MatrixDialogs, EmptyRequestsShowNothing) {
  EXPECT_FALSE(GetMatrixBox::Run(0, 2, values_, labels_, "x"));
  EXPECT_FALSE(GetMatrixBox::Run(2, 0, values_, labels_, "x"));
  EXPECT_FALSE(GetMatrixFitBox::Run(0, 1, values_, nullptr, nullptr, nullptr, labels_, "x"));
  EXPECT_FALSE(GetMatrixFitBox::Run(1, -1, values_, nullptr, nullptr, nullptr, labels_, "x"));
  EXPECT_TRUE(forms_.seen.empty());
  EXPECT_TRUE(ui_->transcript.empty());
}

TEST_F(MatrixDialogs, FieldsShowFourDecimalsAndTakeTheLeadingNumber) {
  forms_.Expect({"two by two", {{MatrixEditId(1, 1), "1.5abc"}, {MatrixEditId(2, 2), "  -2e-3"}}, {}});
  ASSERT_TRUE(GetMatrixBox::Run(2, 2, values_, labels_, "two by two"));
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_EQ(Values(), (std::vector<float>{1.5f, 2, 3, -0.002f}));
  const FormDialog& shown = forms_.seen.front();
  EXPECT_EQ(shown.Find(MatrixEditId(1, 2))->text, "2.0000");
  EXPECT_EQ(shown.Find(MatrixEditId(2, 1))->label, "b1");
  EXPECT_EQ(shown.Find(MatrixEditId(2, 1))->maxChars, 100);
  // Without a caption the dialog keeps the last one.
  forms_.Expect({"two by two", {}, {}});
  EXPECT_TRUE(GetMatrixBox::Run(2, 2, values_, labels_));
  EXPECT_TRUE(forms_.failures.empty());
}

TEST_F(MatrixDialogs, EveryBadFieldIsNamedAndACancelAfterwardsLeavesTheMatrix) {
  struct Case {
    std::string a1, b2;
    std::vector<std::string> named;
  };
  for (const Case& k : {Case{"abc", "", {"a1", "b2"}}, Case{"nan", "4", {"a1"}}, Case{"1", "inf", {"b2"}},
                        Case{"-infinity", "1e39", {"a1", "b2"}}}) {
    ui_->transcript.clear();
    forms_.seen.clear();
    // a2 parses, the bad fields do not: the dialog stays open with them.
    forms_.Expect({"", {{MatrixEditId(1, 1), k.a1}, {MatrixEditId(1, 2), "9"}, {MatrixEditId(2, 2), k.b2}}, {}});
    forms_.Expect({"", {}, {}, false});
    for (const std::string& label : k.named) ui_->ExpectBox("errror", "not a number in " + label);
    EXPECT_FALSE(GetMatrixBox::Run(2, 2, values_, labels_, "bad"));
    ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    EXPECT_EQ(ui_->transcript.size(), k.named.size()) << k.a1;
    EXPECT_EQ(ui_->transcript.front().text, "not a number in " + k.named.front());
    EXPECT_EQ(Values(), (std::vector<float>{1, 2, 3, 4})) << k.a1;
  }
  // Corrected, the second OK is taken.
  forms_.Expect({"", {{MatrixEditId(1, 1), "x"}}, {}});
  forms_.Expect({"", {{MatrixEditId(1, 1), "7"}}, {}});
  ui_->ExpectBox("errror", "not a number in a1");
  EXPECT_TRUE(GetMatrixBox::Run(2, 2, values_, labels_, "bad"));
  EXPECT_EQ(Values(), (std::vector<float>{7, 2, 3, 4}));
  EXPECT_TRUE(ui_->failures.empty());
}

TEST_F(MatrixDialogs, TemplatesFollowTheRowCountAndLabelColumnsTheLongestLabel) {
  for (const auto& [rows, id] : std::vector<std::pair<int, int>>{{1, 1086}, {4, 1086}, {5, 1097}, {6, 1097},
                                                                 {7, 1096}, {12, 1096}})
    EXPECT_EQ(MatrixDialogTemplate(rows), id) << rows;
  forms_.Expect({"", {}, {}});
  ASSERT_TRUE(GetMatrixBox::Run(2, 2, values_, labels_, "t"));
  EXPECT_EQ(forms_.seen.front().templateId, 1086);

  // Column 1 has "abcde" (5), column 2 a 12-character label.
  const std::vector<std::string> labels = {"abcde", "x", "ab", "twelve chars"};
  EXPECT_EQ(GetMatrixBox::ColumnWidths(2, 2, labels), (std::vector<int>{0, 70, 96}));
  EXPECT_EQ(GetMatrixFitBox::ColumnWidths(2, 2, labels), (std::vector<int>{0, 88, 126}));
  const std::vector<MatrixCellPlace> plain = GetMatrixBox::Layout(2, 2, labels);
  ASSERT_EQ(plain.size(), 4u);
  EXPECT_EQ(plain[0].labelX, 25);
  EXPECT_EQ(plain[0].editX, 25 + 70 + 10);
  EXPECT_EQ(plain[1].labelX, 105 + 60);
  EXPECT_EQ(plain[1].editX, 165 + 96 + 10);
  EXPECT_EQ(plain[3].top, 10 + 28);
  EXPECT_EQ(plain[3].checkX, -1);
}

TEST_F(MatrixDialogs, FitBoxShowsCheckBoxesWhereAskedAndKeepsTheFieldsInLine) {
  // As the Wiener skewing question: 2 x 1, a check box in row 1 only.
  const std::vector<std::string> labels = {"mag (dr/(dw/dr)) (1e-6cm^2ml/mg):", "signal per mg/ml:"};
  float** v = matrix(1, 2, 1, 1);
  int** fit = imatrix(1, 2, 1, 1);
  int** hasFit = imatrix(1, 2, 1, 1);
  v[1][1] = 0.5f, v[2][1] = 3.3f;
  fit[1][1] = 0, fit[2][1] = 0;
  hasFit[1][1] = 1, hasFit[2][1] = 0;
  const std::vector<MatrixCellPlace> places = GetMatrixFitBox::Layout(2, 1, labels, nullptr, hasFit);
  EXPECT_EQ(places[0].checkX, 25 + 9 * 33 + 18 + 10);
  EXPECT_EQ(places[1].checkX, -1);
  EXPECT_EQ(places[0].editX, places[1].editX);
  EXPECT_EQ(places[0].editX, places[0].checkX + 23);

  forms_.Expect({"Wiener skewing parameters:", {{MatrixEditId(1, 1), "0.7"}}, {{MatrixCheckId(1, 1), 1}}});
  ASSERT_TRUE(GetMatrixFitBox::Run(2, 1, v, nullptr, fit, hasFit, labels, "Wiener skewing parameters:"));
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const FormDialog& shown = forms_.seen.front();
  EXPECT_NE(shown.Find(MatrixCheckId(1, 1)), nullptr);
  EXPECT_EQ(shown.Find(MatrixCheckId(2, 1)), nullptr);
  EXPECT_EQ(shown.Find(MatrixEditId(1, 1))->column, shown.Find(MatrixEditId(2, 1))->column);
  EXPECT_FLOAT_EQ(v[1][1], 0.7f);
  EXPECT_FLOAT_EQ(v[2][1], 3.3f);
  EXPECT_EQ(fit[1][1], 1);

  // A cell without a field keeps its value; without fit flags no check box
  // is shown and no flag is written.
  int** hasEdit = imatrix(1, 2, 1, 1);
  hasEdit[1][1] = 1, hasEdit[2][1] = 0;
  forms_.Expect({"", {{MatrixEditId(1, 1), "2"}}, {}});
  ASSERT_TRUE(GetMatrixFitBox::Run(2, 1, v, hasEdit, nullptr, hasFit, labels));
  EXPECT_EQ(forms_.seen.back().Find(MatrixEditId(2, 1)), nullptr);
  EXPECT_EQ(forms_.seen.back().Find(MatrixCheckId(1, 1)), nullptr);
  EXPECT_EQ(forms_.seen.back().caption, "Wiener skewing parameters:");
  EXPECT_FLOAT_EQ(v[1][1], 2.0f);
  EXPECT_FLOAT_EQ(v[2][1], 3.3f);
  // Unticked and cancelled: the flag stays.
  forms_.Expect({"", {}, {{MatrixCheckId(1, 1), 0}}, false});
  EXPECT_FALSE(GetMatrixFitBox::Run(2, 1, v, nullptr, fit, hasFit, labels));
  EXPECT_EQ(fit[1][1], 1);
  free_imatrix(hasEdit, 1, 2, 1, 1);
  free_imatrix(hasFit, 1, 2, 1, 1);
  free_imatrix(fit, 1, 2, 1, 1);
  free_matrix(v, 1, 2, 1, 1);
}

TEST_F(MatrixDialogs, MeniscusLimitsRefuseTextThatIsNoNumber) {
  LoadRun(3);
  const float meniscus = gModelParams.meniscus;
  forms_.Expect({"set meniscus+limits", {{MatrixEditId(1, 1), "abc"}}, {}});
  forms_.Expect({"set meniscus+limits", {}, {}, false});
  ui_->ExpectBox("errror", "not a number in meniscus");
  Window().Dispatch(240);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_EQ(forms_.canCloseRefusals, 1);
  EXPECT_EQ(gModelParams.meniscus, meniscus);
  EXPECT_NE(gModelParams.meniscus, 0.0f);
  const FormDialog& shown = forms_.seen.front();
  EXPECT_EQ(shown.Find(MatrixEditId(2, 3))->label, "up limit (0=auto)");
  EXPECT_EQ(shown.Find(MatrixEditId(2, 1))->label, "bottom");
}

}  // namespace
