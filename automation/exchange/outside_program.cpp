#include "automation/exchange/outside_program.h"

#include <unistd.h>

#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/user_interface.h"

bool OutsideProgramPresent(const std::string& path) {
  const std::string native = platform::ToNative(path);
  return platform::FileExists(native) && ::access(native.c_str(), X_OK) == 0;
}

bool StartOutsideProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& caption) {
  if (platform::Processes().StartDetached(platform::ToNative(program), args)) return true;
  platform::Tell(caption, "could not start " + program, platform::BoxIcon::Error);
  return false;
}
