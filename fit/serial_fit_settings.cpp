#include "fit/serial_fit_settings.h"

SerialFitSettings gSerialFitSettings;
