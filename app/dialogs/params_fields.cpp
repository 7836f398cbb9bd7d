#include "app/dialogs/params_fields.h"

#include <cstdio>

int EditForSlot(int slot) {
  for (const auto& e : kSlotOfEdit)
    if (e[1] == slot) return e[0];
  return 0;
}

int SlotForEdit(int edit) {
  for (const auto& e : kSlotOfEdit)
    if (e[0] == edit) return e[1];
  return 0;
}

std::string FormatField(const char* format, double value) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, format, value);
  if (n >= 0 && n <= 14) return buffer;
  // A cut text would read back as another number: use a form that fits.
  for (int digits = 8; digits >= 1; --digits) {
    const int m = std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
    if (m >= 0 && m <= 14) return buffer;
  }
  return "0";
}
