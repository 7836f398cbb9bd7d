#pragma once
// An interface that answers every question with its default and keeps a log:
// the unattended analysis and the headless default use it.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui_backend.h"

namespace platform {

class AutomaticUserInterface : public IUserInterface {
 public:
  // sink receives one line per box or question (may be empty).
  explicit AutomaticUserInterface(std::function<void(const std::string&)> sink = {});
  int MessageBox(const std::string& caption, const std::string& text, BoxButtons buttons,
                 BoxIcon icon) override;
  std::optional<std::string> PromptText(const std::string& title, const std::string& prompt,
                                        const std::string& initial, int maxChars) override;
  FileDialogResult FileDialog(const FileDialogRequest& request) override;
  // Nobody types: no text.
  std::optional<std::string> EditText(const std::string& title, const std::string& placeholder,
                                      const std::string& initial) override;
  std::vector<std::string> Log() const;

 private:
  void Note(const std::string& line);
  std::function<void(const std::string&)> sink_;
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
};

// The default button of a box: OK, Yes, or Yes for Yes/No/Cancel.
int DefaultAnswer(BoxButtons buttons);

}  // namespace platform
