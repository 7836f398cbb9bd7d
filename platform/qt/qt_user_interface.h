#pragma once
// The desktop's message boxes, one-line prompts and file dialogs.
#include "platform/user_interface.h"

namespace platform::qt {

class QtUserInterface : public IUserInterface {
 public:
  int MessageBox(const std::string& caption, const std::string& text, BoxButtons buttons,
                 BoxIcon icon) override;
  std::optional<std::string> PromptText(const std::string& title, const std::string& prompt,
                                        const std::string& initial, int maxChars) override;
  FileDialogResult FileDialog(const FileDialogRequest& request) override;
  std::optional<std::string> EditText(const std::string& title, const std::string& placeholder,
                                      const std::string& initial) override;
  void Beep() override;
};

// "All AUC Files" with "*.IP*;*.RA*" becomes "All AUC Files (*.IP* *.RA*)".
std::string QtFilterText(const std::string& description, const std::string& pattern);

}  // namespace platform::qt
