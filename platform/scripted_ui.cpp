#include "platform/scripted_ui.h"

namespace platform {

namespace {
const char* KindName(InteractionKind kind) {
  switch (kind) {
    case InteractionKind::MessageBox:
      return "box";
    case InteractionKind::Prompt:
      return "prompt";
    case InteractionKind::FileDialog:
      return "file dialog";
    case InteractionKind::Editor:
      return "editor";
  }
  return "?";
}
}  // namespace

ScriptedUserInterface& ScriptedUserInterface::ExpectBox(std::string caption, std::string text,
                                                        int answer) {
  Interaction i;
  i.kind = InteractionKind::MessageBox;
  i.caption = std::move(caption);
  i.text = std::move(text);
  i.answer = answer;
  expected_.push_back(std::move(i));
  return *this;
}

ScriptedUserInterface& ScriptedUserInterface::ExpectPrompt(std::string title, std::string prompt,
                                                           std::optional<std::string> reply) {
  Interaction i;
  i.kind = InteractionKind::Prompt;
  i.caption = std::move(title);
  i.text = std::move(prompt);
  i.reply = std::move(reply);
  expected_.push_back(std::move(i));
  return *this;
}

ScriptedUserInterface& ScriptedUserInterface::ExpectFiles(std::string title,
                                                          FileDialogResult result) {
  Interaction i;
  i.kind = InteractionKind::FileDialog;
  i.caption = std::move(title);
  i.files = std::move(result);
  expected_.push_back(std::move(i));
  return *this;
}

ScriptedUserInterface& ScriptedUserInterface::ExpectEditor(std::optional<std::string> reply) {
  Interaction i;
  i.kind = InteractionKind::Editor;
  i.reply = std::move(reply);
  expected_.push_back(std::move(i));
  return *this;
}

std::optional<Interaction> ScriptedUserInterface::Next(InteractionKind kind,
                                                       const std::string& caption,
                                                       const std::string& text) {
  const std::string seen =
      std::string(KindName(kind)) + " [" + caption + "] \"" + StripBell(text) + "\"";
  if (expected_.empty()) {
    if (!lenient) failures.push_back("unexpected " + seen);
    return std::nullopt;
  }
  const Interaction& next = expected_.front();
  const bool match = next.kind == kind && (next.caption.empty() || next.caption == caption) &&
                     (next.text.empty() || text.find(next.text) != std::string::npos);
  if (!match) {
    if (!lenient) {
      failures.push_back("expected " + std::string(KindName(next.kind)) + " [" + next.caption +
                         "] \"" + next.text + "\" but got " + seen);
    }
    return std::nullopt;
  }
  Interaction i = next;
  expected_.pop_front();
  return i;
}

int ScriptedUserInterface::MessageBox(const std::string& caption, const std::string& text,
                                      BoxButtons buttons, BoxIcon icon) {
  auto i = Next(InteractionKind::MessageBox, caption, text);
  int answer;
  if (i) {
    answer = i->answer;
  } else if (buttons == BoxButtons::YesNoDefaultNo) {
    answer = IDNO;  // the default button, whoever answers
  } else if (lenient) {
    answer = (buttons == BoxButtons::YesNo || buttons == BoxButtons::YesNoCancel) ? IDYES : IDOK;
  } else {
    answer = (buttons == BoxButtons::YesNo || buttons == BoxButtons::YesNoCancel) ? IDNO
             : buttons == BoxButtons::OkCancel                                      ? IDCANCEL
                                                                                    : IDOK;
  }
  transcript.push_back({InteractionKind::MessageBox, caption, StripBell(text), std::to_string(answer), icon, buttons});
  return answer;
}

std::optional<std::string> ScriptedUserInterface::PromptText(const std::string& title,
                                                             const std::string& prompt,
                                                             const std::string& initial, int) {
  initialTexts.push_back(initial);
  auto i = Next(InteractionKind::Prompt, title, prompt);
  std::optional<std::string> reply = i ? i->reply : std::nullopt;
  if (!i && lenient && acceptPrompts) reply = initial;
  transcript.push_back({InteractionKind::Prompt, title, prompt, reply ? *reply : "(cancel)"});
  return reply;
}

FileDialogResult ScriptedUserInterface::FileDialog(const FileDialogRequest& request) {
  fileRequests.push_back(request);
  auto i = Next(InteractionKind::FileDialog, request.title, "");
  FileDialogResult r = i ? i->files : FileDialogResult{};
  transcript.push_back({InteractionKind::FileDialog, request.title, request.presetName,
                        r.accepted && !r.paths.empty() ? r.paths.front() : "(cancel)"});
  return r;
}

std::optional<std::string> ScriptedUserInterface::EditText(const std::string& title, const std::string&,
                                                           const std::string& initial) {
  initialTexts.push_back(initial);
  auto i = Next(InteractionKind::Editor, title, "");
  std::optional<std::string> reply = i ? i->reply : std::nullopt;
  transcript.push_back({InteractionKind::Editor, title, initial, reply ? *reply : "(cancel)"});
  return reply;
}

void ScriptedUserInterface::Progress(const std::string& label, double fraction) {
  progress.emplace_back(label, fraction);
}

ScopedUI::ScopedUI(IUserInterface& ui) : previous_(&UI()) { SetUI(&ui); }
ScopedUI::~ScopedUI() { SetUI(previous_); }

}  // namespace platform
