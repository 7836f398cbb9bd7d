#include "app/window/main_fit_host.h"

namespace {
FitHost* gHost = nullptr;

}  // namespace

FitHost* MainFitHost() { return gHost; }
void SetMainFitHost(FitHost* host) { gHost = host; }
