#include "platform/automatic_ui.h"

namespace platform {

int DefaultAnswer(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::Ok:
    case BoxButtons::OkCancel:
      return IDOK;
    case BoxButtons::YesNo:
    case BoxButtons::YesNoCancel:
      return IDYES;
    case BoxButtons::YesNoDefaultNo:
      return IDNO;
  }
  return IDOK;
}

AutomaticUserInterface::AutomaticUserInterface(std::function<void(const std::string&)> sink)
    : sink_(std::move(sink)) {}

void AutomaticUserInterface::Note(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(line);
  }
  if (sink_) sink_(line);
}

int AutomaticUserInterface::MessageBox(const std::string& caption, const std::string& text,
                                       BoxButtons buttons, BoxIcon) {
  const int answer = DefaultAnswer(buttons);
  Note("[" + caption + "] " + StripBell(text) + " -> " +
       (answer == IDYES ? "Yes" : answer == IDNO ? "No" : "OK"));
  return answer;
}

std::optional<std::string> AutomaticUserInterface::PromptText(const std::string& title,
                                                              const std::string& prompt,
                                                              const std::string& initial, int) {
  Note("[" + title + "] " + prompt + " -> " + (initial.empty() ? "(cancel)" : initial));
  if (initial.empty()) return std::nullopt;
  return initial;
}

std::optional<std::string> AutomaticUserInterface::EditText(const std::string& title, const std::string&,
                                                            const std::string&) {
  Note("[" + title + "] editor -> (cancel)");
  return std::nullopt;
}

FileDialogResult AutomaticUserInterface::FileDialog(const FileDialogRequest& request) {
  Note("[" + request.title + "] file dialog -> (cancel)");
  return {};
}

std::vector<std::string> AutomaticUserInterface::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

}  // namespace platform
