// The runners that show the data-described dialogs: the one a test or the
// unattended run installs, else the desktop's, else none. They sit above both
// the dialog record and its desktop form, which each know only the record.
#include "app/dialogs/form_dialog.h"

#include <utility>

namespace {

FormRunner& Installed() {
  static FormRunner runner;
  return runner;
}

}  // namespace

bool RunFormDialog(FormDialog& dialog) {
  if (Installed()) return Installed()(dialog);
  if (FormRunner desktop = DesktopFormRunner()) return desktop(dialog);
  // Nobody to ask: the entries stand as filled in.
  return !dialog.canClose || dialog.canClose(dialog);
}

void SetFormRunner(FormRunner runner) { Installed() = std::move(runner); }

#ifndef TARNEL_HAVE_QT
FormRunner DesktopFormRunner() { return nullptr; }
#endif

ScopedFormRunner::ScopedFormRunner(ScriptedFormRunner& runner) {
  SetFormRunner([&runner](FormDialog& d) { return runner.Run(d); });
}

ScopedFormRunner::~ScopedFormRunner() { SetFormRunner(nullptr); }
