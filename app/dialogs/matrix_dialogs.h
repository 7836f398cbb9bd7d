#pragma once
// Dialogs whose fields are known only when a command runs: a small matrix
// of labelled number fields (GetMatrixBox), and the same with an optional
// fit check box in front of each field and optional empty cells
// (GetMatrixFitBox). Both are FormDialogs; the layout below (template by
// row count, label column widths, control positions in pixels) describes
// them as the program has always drawn them.
//
// Matrices are 1-based, [1..rows][1..columns], as matrix() and imatrix()
// allocate them. Labels are given row by row: labels[(r-1)*columns + c-1].
// The caller's matrices change only when the user confirms with OK.
#include <string>
#include <vector>

#include "app/dialogs/form_dialog.h"

// Where one cell's controls stand, in pixels of the dialog's client area.
struct MatrixCellPlace {
  int row = 0, column = 0;
  int top = 0;
  int labelX = 0, labelWidth = 0;
  int checkX = -1;  // -1: the cell has no check box
  int editX = -1;   // -1: the cell has no number field
};

// Control ids of cell (r, c).
inline int MatrixLabelId(int r, int c) { return -(10 * r + c); }
inline int MatrixEditId(int r, int c) { return 1000 - (10 * r + c); }
inline int MatrixCheckId(int r, int c) { return 2000 - (10 * r + c); }

// The dialog template for a request of this many rows: 1086, 1097 or 1096.
int MatrixDialogTemplate(int rows);

class GetMatrixBox {
 public:
  // True when the user confirmed with OK: values then hold the numbers
  // typed. False, showing nothing, when rows or columns is below 1; false
  // on Cancel, values untouched. Without a caption the dialog keeps the
  // caption of the previous call.
  static bool Run(int rows, int columns, float** values, const std::vector<std::string>& labels,
                  const char* caption = nullptr);

  // Label column widths [1..columns] (index 0 unused) and the cell places.
  static std::vector<int> ColumnWidths(int rows, int columns, const std::vector<std::string>& labels);
  static std::vector<MatrixCellPlace> Layout(int rows, int columns, const std::vector<std::string>& labels);
};

class GetMatrixFitBox {
 public:
  // As GetMatrixBox::Run. hasEdit null: every cell has a number field.
  // fitFlags null, or hasFit null: no cell has a check box. On OK the
  // values of the cells with a field and the fit flags (1/0) of the cells
  // with a check box are written back.
  static bool Run(int rows, int columns, float** values, int** hasEdit, int** fitFlags, int** hasFit,
                  const std::vector<std::string>& labels, const char* caption = nullptr);

  static std::vector<int> ColumnWidths(int rows, int columns, const std::vector<std::string>& labels);
  static std::vector<MatrixCellPlace> Layout(int rows, int columns, const std::vector<std::string>& labels,
                                             int** hasEdit, int** hasFit);
};

// The number in a field as "%f" reads it: leading blanks skipped, the rest
// after the number ignored. False for text without a number, and for
// "nan", "inf" and values beyond single precision.
bool ParseMatrixNumber(const std::string& text, float& value);
