#include "app/window/shell_services.h"

#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "data/time_stamps.h"
#include "distributions/integration_ranges.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "lamm/lamm_settings.h"
#include "platform/sounds.h"
#include "platform/program_paths.h"

ShellServices& Services() {
  static ShellServices services = DefaultShellServices();
  return services;
}

ShellServices DefaultShellServices() {
  ShellServices s;
  s.readLammEqParameterPreferences = [](TXLAWindow&) {
    ReadLammEqParameterPreferences(platform::ProgramPaths.LammParamsIniPath, LammSettings(),
                                   gFitEngineState.maxRelativeChange);
  };
  s.loadedScanCount = [] { return CurrentScanSet().count; };
  s.checkScanTimeStamps = [](TXLAWindow&) { return CheckScanTimeStamps(); };
  s.loadIntegrationRanges = [] { LoadIntegrationRanges(); };
  s.freeLammArrays = [] { FreeLammArrays(); };
  s.freeExtrapolationArrays = [] { FreeExtrapolationArrays(); };
  s.countSoundFiles = [] { CountSoundFiles(); };
  s.playSoundHi = [] { PlaySoundHi(); };
  s.playSoundOk = [] { PlaySoundOk(); };
  s.playSoundInfo = [] { PlaySoundInfo(); };
  s.playSoundBye = [] { PlaySoundBye(); };
  s.playSoundBeer = [] { PlaySoundBeer(); };
  return s;
}
