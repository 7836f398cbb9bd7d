#include "fit/simulation_switches.h"

SimulationSwitches gSimulationSwitches;
