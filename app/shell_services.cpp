#include "app/shell_services.h"

#include "numerics/sounds.h"

ShellServices& Services() {
  static ShellServices services = [] {
    ShellServices s;
    s.playSoundBye = [] { PlaySoundBye(); };
    return s;
  }();
  return services;
}
