// The Lamm-equation dialog shows its controls in five headed groups; the
// desktop form draws each group as a framed box holding exactly its controls,
// and the whole form fits a laptop screen.
// The program's headers first: Qt's keyword macros would clash with them.
#include "road_support.h"
#include "app/dialogs/lamm_params_dialog.h"

#include <QGroupBox>
#include <QScrollArea>
#include <QLineEdit>
#include <QRadioButton>
#include <map>
#include <string>

#include "app/dialogs/form_dialog_qt.h"
#include "desktop_support.h"

namespace {

constexpr const char* kAlgorithm = "Finite Element Algorithm";
constexpr const char* kSpatial = "Finite Element Spatial Discretization";
constexpr const char* kTemporal = "Temporal Discretization";
constexpr const char* kShutOff = "Shut Off Diffusion";
constexpr const char* kResolution = "Account for Finite Resolution in ABS";

// Each control and the group it belongs to ("" for none).
const std::map<int, std::string> kGroupOf = {
    {612, kAlgorithm}, {613, kShutOff},    {614, kShutOff},    {615, kSpatial},    {616, kSpatial},
    {617, kSpatial},   {619, kSpatial},    {618, kSpatial},    {620, kTemporal},   {621, kTemporal},
    {924, kTemporal},  {944, kTemporal},   {622, kAlgorithm},  {623, kTemporal},   {624, kAlgorithm},
    {625, kAlgorithm}, {626, kAlgorithm},  {627, kAlgorithm},  {628, ""},          {629, kTemporal},
    {630, ""},         {639, kAlgorithm},  {640, kSpatial},    {641, kSpatial},    {643, kSpatial},
    {832, kResolution}, {833, kResolution}, {834, kResolution}, {835, kResolution}, {948, kShutOff},
};

TEST(LammDialogGroups, EveryControlLiesInItsHeadedGroup) {
  const LammPBox box(LammSolverSettings{}, 0.01f, false);
  ASSERT_EQ(box.form.groupBoxes.size(), 5u);
  ASSERT_EQ(box.form.controls.size(), kGroupOf.size());
  for (const FormControl& c : box.form.controls) {
    const FormGroupBox* g = box.form.GroupBoxOf(c);
    EXPECT_EQ(g ? g->title : std::string(), kGroupOf.at(c.id)) << c.id;
  }
  // No two groups share a cell.
  for (size_t a = 0; a < box.form.groupBoxes.size(); ++a)
    for (size_t b = a + 1; b < box.form.groupBoxes.size(); ++b) {
      const FormGroupBox& x = box.form.groupBoxes[a];
      const FormGroupBox& y = box.form.groupBoxes[b];
      const bool rows = x.row < y.row + y.rows && y.row < x.row + x.rows;
      const bool columns = x.column < y.column + y.columns && y.column < x.column + x.columns;
      EXPECT_FALSE(rows && columns) << x.title << " / " << y.title;
    }
}

class LammDialogDesktop : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    StartOffscreenDesktop(false);
  }
};

// The framed boxes carry the headings, and the widgets of a group's controls
// sit inside its box: the edit of "level" under "Shut Off Diffusion", the
// limits under the spatial discretization, tolerance outside every box.
TEST_F(LammDialogDesktop, TheFormDrawsTheGroupsAroundTheirControls) {
  LammPBox box(LammSolverSettings{}, 0.01f, false);
  // Distinct texts, so that each edit widget can be told by its text.
  for (FormControl& c : box.form.controls)
    if (c.kind == FormControl::Kind::Edit) c.text = std::to_string(c.id);
  std::unique_ptr<QDialog> dialog = BuildQtForm(box.form, nullptr);
  std::map<std::string, QGroupBox*> boxes;
  for (QGroupBox* g : dialog->findChildren<QGroupBox*>()) boxes[g->title().toStdString()] = g;
  ASSERT_EQ(boxes.size(), 5u);
  auto groupOf = [&](QWidget* w) {
    for (QWidget* p = w; p; p = p->parentWidget())
      if (auto* g = qobject_cast<QGroupBox*>(p)) return g->title().toStdString();
    return std::string();
  };
  int edits = 0;
  for (QLineEdit* e : dialog->findChildren<QLineEdit*>()) {
    const int id = std::stoi(e->text().toStdString());
    EXPECT_EQ(groupOf(e), kGroupOf.at(id)) << id;
    ++edits;
  }
  EXPECT_EQ(edits, 14);
  for (QRadioButton* r : dialog->findChildren<QRadioButton*>()) {
    const std::string label = r->text().toStdString();
    const bool algorithm = label.find("algorithm") != std::string::npos;
    EXPECT_EQ(groupOf(r), algorithm ? kAlgorithm : kTemporal) << label;
  }
  // The whole form, buttons and margins with it, fits a 1280 x 800 screen
  // below the window's title bar, without scrolling.
  auto* scroll = dialog->findChild<QScrollArea*>();
  ASSERT_NE(scroll, nullptr);
  scroll->widget()->adjustSize();
  const QSize body = scroll->widget()->sizeHint();
  EXPECT_LE(body.height() + 80, 720);
  EXPECT_LE(body.width() + 40, 1280);
}

}  // namespace
