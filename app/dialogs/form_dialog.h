#pragma once
// Dialogs described as data: a caption and a list of controls (check boxes,
// edit fields, radio buttons) with their ids, labels and transfer values.
// The desktop shows them as Qt dialogs; tests and the unattended run answer
// them through an installed runner, so nothing blocks without a screen.
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct FormControl {
  enum class Kind { Check, Edit, Radio };
  int id = 0;
  Kind kind = Kind::Edit;
  std::string label;
  bool visible = true;
  bool enabled = true;  // shown but not editable when false
  // Radio buttons of one group exclude each other; group 0 is the dialog's
  // one common group.
  int group = 0;
  int state = 0;     // check boxes and radio buttons: 1 = ticked
  std::string text;  // edit fields
  int maxChars = 14;
  // Place in the dialog's grid; an edit's label takes its cell and the
  // edit the next one.
  int row = 0, column = 0;
};

// A framed group of the dialog's grid with a heading: the controls whose
// cell (row, column) lies in rows row..row+rows-1 and columns
// column..column+columns-1 are shown inside it.
struct FormGroupBox {
  std::string title;
  int row = 0, column = 0, rows = 1, columns = 1;
  bool Contains(int r, int c) const {
    return r >= row && r < row + rows && c >= column && c < column + columns;
  }
};

struct FormDialog {
  int templateId = 0;
  std::string caption;
  std::vector<FormControl> controls;
  std::vector<FormGroupBox> groupBoxes;  // must not overlap
  // The group box a control is shown in; null when it stands alone.
  const FormGroupBox* GroupBoxOf(const FormControl& c) const;
  // Asked on OK with the entries as typed; false keeps the dialog open
  // (it has shown its own message).
  std::function<bool(const FormDialog&)> canClose;

  FormControl* Find(int id);
  const FormControl* Find(int id) const;

  // Check boxes and radio buttons; edit fields (a number as printf formats
  // it, read as by strtod, 0 for no such control).
  void Tick(int id, bool on);
  bool Ticked(int id) const;
  void Put(int id, const char* format, double value);
  double Value(int id) const;
};

// Shows the dialog modally; true on OK (the controls then hold the entries).
using FormRunner = std::function<bool(FormDialog&)>;
bool RunFormDialog(FormDialog& dialog);
// Installs a runner; an empty one restores the default (Qt on a screen,
// else accepting the entries as filled in).
void SetFormRunner(FormRunner runner);
// The desktop's runner, or null without a screen.
FormRunner DesktopFormRunner();

// A runner for tests: each expected dialog gets its entries typed in and is
// confirmed or cancelled; what it saw is kept.
class ScriptedFormRunner {
 public:
  struct Expectation {
    std::string caption;  // empty matches any
    std::vector<std::pair<int, std::string>> texts;
    std::vector<std::pair<int, int>> states;
    bool accept = true;
  };
  ScriptedFormRunner& Expect(Expectation e) {
    expected.push_back(std::move(e));
    return *this;
  }
  bool Run(FormDialog& dialog);

  std::deque<Expectation> expected;
  std::vector<FormDialog> seen;      // as shown, before any typing
  std::vector<std::string> failures;
  int canCloseRefusals = 0;
};

// Installs a scripted runner for the lifetime of the guard.
class ScopedFormRunner {
 public:
  explicit ScopedFormRunner(ScriptedFormRunner& runner);
  ~ScopedFormRunner();
  ScopedFormRunner(const ScopedFormRunner&) = delete;
  ScopedFormRunner& operator=(const ScopedFormRunner&) = delete;
};
