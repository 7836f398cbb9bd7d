#pragma once
// What every way of talking to a person implements: message boxes, prompts,
// file dialogs, free text, progress and status. The desktop's Qt backend,
// the scripted one of the tests and the automatic one of unattended runs
// derive from IUserInterface; the program reaches whichever is installed
// through user_interface.h.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// YesNoDefaultNo: a question whose safe answer is No; Enter (and an
// unattended run) answers No.
enum class BoxButtons { Ok, OkCancel, YesNo, YesNoCancel, YesNoDefaultNo };
enum class BoxIcon { None, Information, Question, Warning, Error };

// The values Windows message boxes return; callers compare with these.
enum BoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct FileDialogRequest {
  bool save = false;
  std::string title;
  // (description, pattern) pairs, e.g. {"All AUC Files", "*.IP*;*.RA*"}.
  std::vector<std::pair<std::string, std::string>> filters;
  std::string initialFolder;
  std::string presetName;
  std::string defaultExtension;
  bool multiSelect = false;
  // A save dialog asks before it lets an existing file be chosen; one that
  // picks a file to read from must not.
  bool confirmOverwrite = true;
};

struct FileDialogResult {
  bool accepted = false;
  std::vector<std::string> paths;
};

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;
  // A modal message box; returns one of BoxResult.
  virtual int MessageBox(const std::string& caption, const std::string& text,
                         BoxButtons buttons, BoxIcon icon) = 0;
  // One line of text; nullopt when cancelled. maxChars bounds the edit field.
  virtual std::optional<std::string> PromptText(const std::string& title,
                                                const std::string& prompt,
                                                const std::string& initial,
                                                int maxChars) = 0;
  virtual FileDialogResult FileDialog(const FileDialogRequest& request) = 0;
  // A window of free text of any length (a sequence, a pasted table); the
  // placeholder shows while it is empty and is never returned. nullopt when
  // the window was cancelled or nobody can answer.
  virtual std::optional<std::string> EditText(const std::string& /*title*/, const std::string& /*placeholder*/,
                                              const std::string& /*initial*/) {
    return std::nullopt;
  }
  // The system's short warning sound (asterisk beep).
  virtual void Beep() {}
  // Progress of a long operation on the user-interface thread, 0..1;
  // a negative fraction ends the display.
  virtual void Progress(const std::string& /*label*/, double /*fraction*/) {}
  // A status text drawn into the window while computing (fit reports etc.).
  virtual void StatusText(const std::string& /*text*/) {}
};

// Strips the bell characters that the program's texts carry: the bell is
// sounded, never shown.
std::string StripBell(const std::string& text, bool* hadBell = nullptr);

}  // namespace platform
