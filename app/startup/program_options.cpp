#include "app/startup/program_options.h"

ProgramOptions& Options() {
  static ProgramOptions options;
  return options;
}
