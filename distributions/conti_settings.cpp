#include "distributions/conti_settings.h"

ContiSettings& Conti() {
  static ContiSettings settings;
  return settings;
}
