#pragma once
// The parameter dialog of the chosen model. Every template has the same
// controls with the same ids; a template labels the edits its model uses
// and hides the others. The dialog's entries live in a transfer buffer that
// the main window keeps between invocations.
#include <map>
#include <string>
#include <vector>

#include "app/dialogs/form_dialog.h"
#include "app/dialogs/params_fields.h"

class TXLAWindow;

// The template of the chosen model; 0 when no model has one.
int ChooseParamsTemplate();

ParamsTransfer& ParamsTransferBuffer();
// The last "Parameters" command ended with OK (the Series generator goes on
// only then).
bool& ParametersBoxAccepted();
// The initial states of the buffer: all texts empty, the boxes as at start.
void InitParamsTransfer(ParamsTransfer& buffer);

class TParamsBox {
 public:
  TParamsBox(TXLAWindow* parent, int templateId, ParamsTransfer& buffer);
  // Runs the dialog modally; on OK the buffer holds the entries. True on OK.
  bool Execute();
  // The checks of OK; false (after a message) keeps the dialog open.
  bool CanClose(const FormDialog& entries) const;
  const FormDialog& Form() const { return form_; }

 private:
  TXLAWindow* parent_;
  int templateId_;
  ParamsTransfer& buffer_;
  FormDialog form_;
};
