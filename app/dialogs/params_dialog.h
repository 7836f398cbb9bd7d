#pragma once
// The parameter dialog of the chosen model. Every template has the same
// controls with the same ids; a template labels the edits its model uses
// and hides the others. The dialog's entries live in a transfer buffer that
// the main window keeps between invocations.
#include <map>
#include <string>
#include <vector>

#include "app/dialogs/form_dialog.h"

class TXLAWindow;

struct TemplateLabel {
  bool slot;       // true: number is a slot of the parameter vector; false: a control id
  int number;
  const char* text;
};

struct ParamsTemplate {
  int id;
  const char* caption;
  std::vector<TemplateLabel> labels;
};

const std::vector<ParamsTemplate>& ParamsTemplates();
const ParamsTemplate* FindParamsTemplate(int id);
// The template of the chosen model; 0 when no model has one.
int ChooseParamsTemplate();

// Edit control that holds slot k of the vector (k = 1..12), and back.
int EditForSlot(int slot);
int SlotForEdit(int edit);

// Check-box states (1 = ticked) and edit texts, by control id.
struct ParamsTransfer {
  std::map<int, int> states;
  std::map<int, std::string> texts;
};
ParamsTransfer& ParamsTransferBuffer();
// The last "Parameters" command ended with OK (the Series generator goes on
// only then).
bool& ParametersBoxAccepted();
// The initial states of the buffer: all texts empty, the boxes as at start.
void InitParamsTransfer(ParamsTransfer& buffer);

// A value written into a 14-character edit: the format asked for when the
// text fits, else the shortest general form that does.
std::string FormatField(const char* format, double value);

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
