#pragma once
// The fields of the parameter dialog that its templates, the nonideal terms
// and the mean-field controls share: the template records, which edit holds
// which slot of the parameter vector, the transfer buffer's record and the
// way a value is written into an edit.
#include <map>
#include <string>
#include <vector>

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

// Edits 405-407, 412-414, 419-421, 426-428 hold slots 9, 1, 5 of component
// 1, 10, 2, 6 of component 2, and so on; the box before each edit is the
// fit flag of its slot, the box before a component's three is its inclusion.
inline constexpr int kSlotOfEdit[12][2] = {{405, 9},  {406, 1}, {407, 5}, {412, 10}, {413, 2}, {414, 6},
                                           {419, 11}, {420, 3}, {421, 7}, {426, 12}, {427, 4}, {428, 8}};
// Edit control that holds slot k of the vector (k = 1..12), and back.
int EditForSlot(int slot);
int SlotForEdit(int edit);

// Check-box states (1 = ticked) and edit texts, by control id.
struct ParamsTransfer {
  std::map<int, int> states;
  std::map<int, std::string> texts;
};

// A value written into a 14-character edit: the format asked for when the
// text fits, else the shortest general form that does.
std::string FormatField(const char* format, double value);
