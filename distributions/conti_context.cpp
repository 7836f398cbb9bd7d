#include "distributions/conti_context.h"

#include "numerics/error_box.h"
#include "platform/user_interface.h"

ContiRunContext& ContiContext() {
  static ContiRunContext context;
  return context;
}

void ContiMessage(const std::string& caption, const std::string& text) {
  platform::UI().MessageBox(caption, text, platform::BoxButtons::Ok,
                            platform::BoxIcon::Information);
}

void ContiErrorOrCode(const std::string& text, int serialCode) {
  ContiRunContext& c = ContiContext();
  if (c.serialFitRunning) {
    c.serialFitErrorCode = serialCode;
    return;
  }
  ErrorBox(text.c_str(), false);
}

void ContiStatusLine(const std::string& text) {
  if (ContiContext().drawingEnabled) platform::UI().StatusText(text);
}
