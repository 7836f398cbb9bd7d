#include "app/dialogs/form_dialog.h"

#include <cstdio>
#include <cstdlib>

const FormGroupBox* FormDialog::GroupBoxOf(const FormControl& c) const {
  for (const FormGroupBox& g : groupBoxes)
    if (g.Contains(c.row, c.column)) return &g;
  return nullptr;
}

FormControl* FormDialog::Find(int id) {
  for (FormControl& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

const FormControl* FormDialog::Find(int id) const {
  for (const FormControl& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

void FormDialog::Tick(int id, bool on) {
  if (FormControl* c = Find(id)) c->state = on ? 1 : 0;
}

bool FormDialog::Ticked(int id) const {
  const FormControl* c = Find(id);
  return c && c->state == 1;
}

void FormDialog::Put(int id, const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  if (FormControl* c = Find(id)) c->text = text;
}

double FormDialog::Value(int id) const {
  const FormControl* c = Find(id);
  return c ? std::strtod(c->text.c_str(), nullptr) : 0.0;
}

bool ScriptedFormRunner::Run(FormDialog& dialog) {
  seen.push_back(dialog);
  if (expected.empty()) {
    failures.push_back("unexpected dialog \"" + dialog.caption + "\"");
    return false;
  }
  Expectation e = expected.front();
  expected.pop_front();
  if (!e.caption.empty() && e.caption != dialog.caption)
    failures.push_back("expected dialog \"" + e.caption + "\", got \"" + dialog.caption + "\"");
  for (const auto& [id, text] : e.texts) {
    if (FormControl* c = dialog.Find(id))
      c->text = text.substr(0, static_cast<std::size_t>(c->maxChars));
    else
      failures.push_back("no control " + std::to_string(id));
  }
  for (const auto& [id, state] : e.states) {
    if (FormControl* c = dialog.Find(id))
      c->state = state;
    else
      failures.push_back("no control " + std::to_string(id));
  }
  if (!e.accept) return false;
  if (dialog.canClose && !dialog.canClose(dialog)) {
    // A refused OK leaves the dialog open: the next expectation answers it.
    ++canCloseRefusals;
    return Run(dialog);
  }
  return true;
}
