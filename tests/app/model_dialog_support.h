#pragma once
// A window on the synthetic run whose parameter box is driven as a user
// would: opened, read as shown, typed into; and the rmsd of a Run.
#include "road_support.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

// A control as the dialog showed it.
using Shown = std::vector<std::tuple<int, bool, bool, int, std::string>>;

inline std::string Describe(const Shown& a, const Shown& b) {
  std::ostringstream out;
  if (a.size() != b.size()) out << "controls " << a.size() << " vs " << b.size() << "; ";
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i])
      out << "control " << std::get<0>(a[i]) << ": '" << std::get<4>(a[i]) << "'/" << std::get<3>(a[i]) << " vs '"
          << std::get<4>(b[i]) << "'/" << std::get<3>(b[i]) << "; ";
  return out.str();
}

inline bool Numeric(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end && *end == '\0';
}

class ModelDialogTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    formScope_.reset();
    SetFormRunner([this](FormDialog& d) { return Answer(d); });
  }
  void TearDown() override {
    SetFormRunner(nullptr);
    RoadTest::TearDown();
  }

  // The first dialog of a Parameters command is the parameter box: it is
  // recorded as shown, and with a factor each number entry is scaled by it
  // and every other fit box beside a changed entry ticked. Any further
  // dialog is confirmed as offered.
  bool Answer(FormDialog& d) {
    if (!wantBox_) return true;
    wantBox_ = false;
    shown_.clear();
    for (const FormControl& c : d.controls)
      if (c.visible) shown_.emplace_back(c.id, c.visible, c.enabled, c.state, c.text);
    templateId_ = d.templateId;
    int changed = 0;
    for (FormControl& c : d.controls) {
      if (factor_ == 0) break;
      double v = 0;
      // Meniscus and bottom move the data's fit limits; tolerance and grid
      // size are the solver's, not the model's; the signal per mg/ml of the
      // nonideal models (440) is the data's.
      if (c.kind != FormControl::Kind::Edit || !c.visible || !c.enabled || kNotModel.count(c.id) ||
          !Numeric(c.text, &v))
        continue;
      char text[40];
      std::snprintf(text, sizeof text, "%.6g", v == 0 ? 0.0 : v * factor_);
      c.text = text;
      // (Beside vbar and hydration of the distributions sit the grid-file
      // and log-grid options, not fit boxes.)
      FormControl* box = d.Find(c.id - 3);
      if (box && box->id != 417 && box->id != 424 && box->kind == FormControl::Kind::Check && box->visible &&
          box->enabled && ++changed % 2 == 0)
        box->state = 1;
    }
    for (const auto& [id, text] : texts_)
      if (FormControl* c = d.Find(id)) c->text = text;
    for (const auto& [id, state] : states_)
      if (FormControl* c = d.Find(id)) c->state = state;
    return true;
  }

  void Choose(int command) {
    ui_->lenient = true;
    Window().Dispatch(command);
    ui_->lenient = false;
    ui_->transcript.clear();
  }
  // Opens the parameter box (typing scaled entries with a factor) and
  // returns what it showed.
  Shown Open(double factor = 0, std::map<int, std::string> texts = {}, std::map<int, int> states = {}) {
    factor_ = factor;
    texts_ = std::move(texts);
    states_ = std::move(states);
    wantBox_ = true;
    ui_->lenient = true;
    Window().Dispatch(212);
    ui_->lenient = false;
    ui_->transcript.clear();
    factor_ = 0;
    states_.clear();
    wantBox_ = false;
    return shown_;
  }
  // Run, and the rmsd of the model over the fitted points.
  static double RunRmsd(TXLAWindow& w) {
    w.Dispatch(213);
    return FitLimitRmsd(-1.0);
  }

  const std::set<int> kNotModel = {435, 437, 438, 439, 440};
  bool wantBox_ = false;
  double factor_ = 0;
  std::map<int, std::string> texts_;
  std::map<int, int> states_;
  Shown shown_;
  int templateId_ = 0;
};

