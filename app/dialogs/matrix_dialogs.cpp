#include "app/dialogs/matrix_dialogs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/user_interface.h"

namespace {

// Pixels of the client area.
constexpr int kRowPitch = 28;
constexpr int kFirstTop = 10;
constexpr int kControlHeight = 18;
constexpr int kLeft = 25;
constexpr int kLabelGap = 10;
constexpr int kEditWidth = 55;
constexpr int kCellAdvance = 60;  // from a number field to the next cell's label
constexpr int kMinColumnWidth = 70;
constexpr int kFieldChars = 100;

// One run of either dialog: the request and what the user typed.
struct MatrixRequest {
  int rows = 0, columns = 0;
  float** values = nullptr;
  int** hasEdit = nullptr;   // null: every cell has a field
  int** fitFlags = nullptr;  // null: no check boxes
  int** hasFit = nullptr;
  const std::vector<std::string>* labels = nullptr;

  const std::string& Label(int r, int c) const {
    static const std::string none;
    const std::size_t i = static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(columns) +
                          static_cast<std::size_t>(c - 1);
    return labels && i < labels->size() ? (*labels)[i] : none;
  }
  bool Edit(int r, int c) const { return !hasEdit || hasEdit[r][c] != 0; }
  bool Check(int r, int c) const { return fitFlags && hasFit && hasFit[r][c] != 0; }
};

std::vector<int> Widths(int rows, int columns, const std::vector<std::string>& labels, int charWidth,
                        int extra) {
  const MatrixRequest q{rows, columns, nullptr, nullptr, nullptr, nullptr, &labels};
  std::vector<int> w(static_cast<std::size_t>(std::max(columns, 0)) + 1, 0);
  for (int c = 1; c <= columns; ++c) {
    std::size_t longest = 0;
    for (int r = 1; r <= rows; ++r) longest = std::max(longest, q.Label(r, c).size());
    w[c] = std::max(charWidth * static_cast<int>(longest), kMinColumnWidth) + extra;
  }
  return w;
}

std::vector<MatrixCellPlace> Places(const MatrixRequest& q, const std::vector<int>& widths, bool fitBox) {
  std::vector<MatrixCellPlace> places;
  for (int r = 1; r <= q.rows; ++r) {
    int x = kLeft;
    for (int c = 1; c <= q.columns; ++c) {
      MatrixCellPlace p;
      p.row = r;
      p.column = c;
      p.top = kFirstTop + kRowPitch * (r - 1);
      p.labelX = x;
      p.labelWidth = widths[c];
      const int after = x + widths[c] + kLabelGap;
      int field = after;
      if (fitBox) {
        if (q.Check(r, c)) p.checkX = after;
        // The field keeps its place whether or not the check box is there,
        // so the fields of a column line up.
        field = after + kControlHeight + 5;
      }
      if (q.Edit(r, c)) p.editX = field;
      places.push_back(p);
      x = field + kCellAdvance;
    }
  }
  return places;
}

std::string FieldText(float v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(v));
  return text;
}

// The dialog as a form: each cell's field carries the cell's label; in the
// fit box a cell with a check box shows the label on the check box and the
// field after it.
FormDialog BuildForm(const MatrixRequest& q, const std::string& caption, bool fitBox) {
  FormDialog box;
  box.templateId = MatrixDialogTemplate(q.rows);
  box.caption = caption;
  for (int r = 1; r <= q.rows; ++r)
    for (int c = 1; c <= q.columns; ++c) {
      const bool check = fitBox && q.Check(r, c);
      if (check) {
        FormControl k;
        k.id = MatrixCheckId(r, c);
        k.kind = FormControl::Kind::Check;
        k.label = q.Label(r, c);
        k.state = q.fitFlags[r][c] != 0 ? 1 : 0;
        k.row = r;
        k.column = 2 * (c - 1);
        box.controls.push_back(k);
      }
      if (!q.Edit(r, c)) continue;
      FormControl e;
      e.id = MatrixEditId(r, c);
      e.kind = FormControl::Kind::Edit;
      if (!check) e.label = q.Label(r, c);
      e.text = FieldText(q.values[r][c]);
      e.maxChars = kFieldChars;
      e.row = r;
      // A field takes the column after its label's, or after the check box
      // that carries the label, so the fields of a column line up.
      e.column = 2 * (c - 1);
      box.controls.push_back(e);
    }
  return box;
}

// OK is taken only when every field holds a number; each bad field has
// had its own message.
bool AllFieldsParse(const MatrixRequest& q, const FormDialog& typed) {
  bool ok = true;
  for (int r = 1; r <= q.rows; ++r)
    for (int c = 1; c <= q.columns; ++c) {
      const FormControl* e = typed.Find(MatrixEditId(r, c));
      if (!e) continue;
      float v = 0;
      if (ParseMatrixNumber(e->text, v)) continue;
      platform::Tell("errror", "not a number in " + q.Label(r, c), platform::BoxIcon::None);
      ok = false;
    }
  return ok;
}

// The confirmed entries into the caller's matrices.
void WriteBack(const MatrixRequest& q, const FormDialog& typed) {
  for (int r = 1; r <= q.rows; ++r)
    for (int c = 1; c <= q.columns; ++c) {
      if (const FormControl* e = typed.Find(MatrixEditId(r, c))) {
        float v = 0;
        if (ParseMatrixNumber(e->text, v)) q.values[r][c] = v;
      }
      if (const FormControl* k = typed.Find(MatrixCheckId(r, c))) q.fitFlags[r][c] = k->state != 0 ? 1 : 0;
    }
}

bool RunMatrixDialog(const MatrixRequest& q, const std::string& caption, bool fitBox) {
  FormDialog box = BuildForm(q, caption, fitBox);
  box.canClose = [q](const FormDialog& typed) { return AllFieldsParse(q, typed); };
  if (!RunFormDialog(box)) return false;
  WriteBack(q, box);
  return true;
}

std::string& PlainCaption() {
  static std::string caption = "Testing Dialog Boxes";
  return caption;
}

std::string& FitCaption() {
  static std::string caption = "Testing Dialog Boxes";
  return caption;
}

}  // namespace

bool ParseMatrixNumber(const std::string& text, float& value) {
  const char* start = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(start, &end);
  if (end == start) return false;
  // "%f" would take "nan" and "inf" as numbers; no field of these dialogs means them.
  if (!std::isfinite(v) || std::fabs(v) > 3.4028234663852886e38) return false;
  value = static_cast<float>(v);
  return true;
}

int MatrixDialogTemplate(int rows) {
  if (rows >= 7) return 1096;
  if (rows >= 5) return 1097;
  return 1086;
}

std::vector<int> GetMatrixBox::ColumnWidths(int rows, int columns, const std::vector<std::string>& labels) {
  return Widths(rows, columns, labels, 8, 0);
}

std::vector<MatrixCellPlace> GetMatrixBox::Layout(int rows, int columns, const std::vector<std::string>& labels) {
  const MatrixRequest q{rows, columns, nullptr, nullptr, nullptr, nullptr, &labels};
  return Places(q, ColumnWidths(rows, columns, labels), false);
}

bool GetMatrixBox::Run(int rows, int columns, float** values, const std::vector<std::string>& labels,
                       const char* caption) {
  if (rows < 1 || columns < 1 || !values) return false;
  if (caption) PlainCaption() = caption;
  return RunMatrixDialog({rows, columns, values, nullptr, nullptr, nullptr, &labels}, PlainCaption(), false);
}

std::vector<int> GetMatrixFitBox::ColumnWidths(int rows, int columns, const std::vector<std::string>& labels) {
  return Widths(rows, columns, labels, 9, kControlHeight);
}

std::vector<MatrixCellPlace> GetMatrixFitBox::Layout(int rows, int columns, const std::vector<std::string>& labels,
                                                     int** hasEdit, int** hasFit) {
  // Only the presence of the fit flags matters for the layout.
  const MatrixRequest q{rows, columns, nullptr, hasEdit, hasFit, hasFit, &labels};
  return Places(q, ColumnWidths(rows, columns, labels), true);
}

bool GetMatrixFitBox::Run(int rows, int columns, float** values, int** hasEdit, int** fitFlags, int** hasFit,
                          const std::vector<std::string>& labels, const char* caption) {
  if (rows < 1 || columns < 1 || !values) return false;
  if (caption) FitCaption() = caption;
  return RunMatrixDialog({rows, columns, values, hasEdit, fitFlags, fitFlags ? hasFit : nullptr, &labels},
                         FitCaption(), true);
}
