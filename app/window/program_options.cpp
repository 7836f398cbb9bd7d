#include "app/window/program_options.h"

ProgramOptions& Options() {
  static ProgramOptions options;
  return options;
}
