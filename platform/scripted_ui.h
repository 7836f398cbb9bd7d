#pragma once
// A user interface for tests: answers come from a queue of expected
// interactions; an interaction nobody expected is recorded as a failure and
// answered with Cancel/No so the code under test cannot hang.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_interface.h"

namespace platform {

enum class InteractionKind { MessageBox, Prompt, FileDialog, Editor };

struct Interaction {
  InteractionKind kind = InteractionKind::MessageBox;
  std::string caption;  // caption or title; empty matches any
  std::string text;     // substring the text or prompt must contain; empty matches any
  int answer = IDOK;    // message boxes
  std::optional<std::string> reply;  // prompts: nullopt means Cancel
  FileDialogResult files;            // file dialogs
};

struct TranscriptEntry {
  InteractionKind kind;
  std::string caption;
  std::string text;
  std::string answer;
  BoxIcon icon = BoxIcon::None;  // message boxes
  BoxButtons buttons = BoxButtons::Ok;
};

class ScriptedUserInterface : public IUserInterface {
 public:
  ScriptedUserInterface& ExpectBox(std::string caption, std::string text, int answer = IDOK);
  ScriptedUserInterface& ExpectPrompt(std::string title, std::string prompt,
                                      std::optional<std::string> reply);
  ScriptedUserInterface& ExpectFiles(std::string title, FileDialogResult result);
  // The text the next editor window returns; nullopt means Cancel.
  ScriptedUserInterface& ExpectEditor(std::optional<std::string> reply);

  int MessageBox(const std::string& caption, const std::string& text, BoxButtons buttons,
                 BoxIcon icon) override;
  std::optional<std::string> PromptText(const std::string& title, const std::string& prompt,
                                        const std::string& initial, int maxChars) override;
  FileDialogResult FileDialog(const FileDialogRequest& request) override;
  std::optional<std::string> EditText(const std::string& title, const std::string& placeholder,
                                      const std::string& initial) override;
  void Beep() override { ++beeps; }
  void Progress(const std::string& label, double fraction) override;
  void StatusText(const std::string& text) override { statusTexts.push_back(text); }

  // Interactions that came unexpectedly or did not match the next expectation.
  std::vector<std::string> failures;
  std::vector<TranscriptEntry> transcript;
  std::vector<std::string> initialTexts;  // initial edit text of every prompt
  std::vector<std::string> statusTexts;
  std::vector<FileDialogRequest> fileRequests;  // every file dialog as asked
  std::vector<std::pair<std::string, double>> progress;
  int beeps = 0;
  bool AllConsumed() const { return expected_.empty(); }
  // When set, unexpected boxes are answered with their default instead of
  // failing (for tests that only look at files).
  bool lenient = false;
  // With lenient set, an unexpected prompt is answered with its initial
  // text (Enter) instead of Cancel.
  bool acceptPrompts = false;

 private:
  std::optional<Interaction> Next(InteractionKind kind, const std::string& caption,
                                  const std::string& text);
  std::deque<Interaction> expected_;
};

// Installs a scripted interface for the lifetime of the guard.
class ScopedUI {
 public:
  explicit ScopedUI(IUserInterface& ui);
  ~ScopedUI();
  ScopedUI(const ScopedUI&) = delete;
  ScopedUI& operator=(const ScopedUI&) = delete;

 private:
  IUserInterface* previous_;
};

}  // namespace platform
