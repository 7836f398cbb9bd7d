#include "app/window/main_fit_host.h"

namespace {
FitHost* gHost = nullptr;
bool gKeepFitEndBox = false;
std::string gKeptFitEndBox;
}  // namespace

FitHost* MainFitHost() { return gHost; }
void SetMainFitHost(FitHost* host) { gHost = host; }

DeferredFitEndBox::DeferredFitEndBox() {
  gKeepFitEndBox = true;
  gKeptFitEndBox.clear();
}

DeferredFitEndBox::~DeferredFitEndBox() {
  gKeepFitEndBox = false;
  gKeptFitEndBox.clear();
}

std::string DeferredFitEndBox::Take() {
  std::string text;
  text.swap(gKeptFitEndBox);
  return text;
}

bool KeepFitEndBox(const std::string& text) {
  if (!gKeepFitEndBox || !gKeptFitEndBox.empty()) return false;
  gKeptFitEndBox = text;
  return true;
}
