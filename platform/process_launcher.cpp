#include "platform/process_launcher.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <cctype>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace platform {

namespace {
std::string Joined(const std::string& head, const std::string& program,
                   const std::vector<std::string>& args) {
  std::string s = head + " " + program;
  for (const auto& a : args) s += " " + a;
  return s;
}

bool IsNotepad(const std::string& program) {
  std::string name = program.substr(program.find_last_of("/\\") == std::string::npos
                                        ? 0
                                        : program.find_last_of("/\\") + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "notepad.exe" || name == "notepad";
}

// posix_spawnp: no shell, so paths with spaces or quotes pass unharmed.
int Spawn(const std::string& program, const std::vector<std::string>& args, bool wait) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  if (!wait) {
    // Reaped in the background so that finished programs leave no zombies.
    std::thread([pid] {
      int ignored = 0;
      waitpid(pid, &ignored, 0);
    }).detach();
    return 0;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SystemProcessLauncher : public IProcessLauncher {
 public:
  bool StartDetached(const std::string& program, const std::vector<std::string>& args) override {
    // Reports are shown with "notepad.exe <file>": the desktop's editor here.
    if (IsNotepad(program) && args.size() == 1) return OpenTextEditor(args[0]);
    return Spawn(program, args, false) == 0;
  }
  int RunAndWait(const std::string& program, const std::vector<std::string>& args) override {
    return Spawn(program, args, true);
  }
  bool OpenTextEditor(const std::string& path) override {
    for (const char* var : {"VISUAL", "EDITOR"}) {
      const char* editor = std::getenv(var);
      if (editor && *editor && Spawn(editor, {path}, false) == 0) return true;
    }
    return Spawn("xdg-open", {path}, false) == 0;
  }
  bool OpenUrl(const std::string& url) override { return Spawn("xdg-open", {url}, false) == 0; }
};

IProcessLauncher* g_launcher = nullptr;
}  // namespace

int IProcessLauncher::RunInFolderAndWait(const std::string& program, const std::vector<std::string>& args,
                                         const std::string& folder, const std::function<bool()>& keepWaiting) {
  return RunChildInFolder(program, args, folder, keepWaiting);
}

int RunChildInFolder(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                     const std::function<bool()>& keepWaiting) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Only the child changes folder: the program's own stays where it was.
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // A group of its own, so that stopping it also ends what it started.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) return -1;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return -1;
    if (keepWaiting && !keepWaiting()) {
      kill(-pid, SIGTERM);
      waitpid(pid, &status, 0);
      return kChildStopped;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

IProcessLauncher& Processes() {
  static SystemProcessLauncher system;
  return g_launcher ? *g_launcher : system;
}
void SetProcesses(IProcessLauncher* launcher) { g_launcher = launcher; }

bool RecordingProcessLauncher::StartDetached(const std::string& program,
                                             const std::vector<std::string>& args) {
  calls.push_back(Joined("start", program, args));
  return succeed;
}
int RecordingProcessLauncher::RunAndWait(const std::string& program,
                                         const std::vector<std::string>& args) {
  calls.push_back(Joined("wait", program, args));
  return succeed ? 0 : -1;
}
bool RecordingProcessLauncher::OpenTextEditor(const std::string& path) {
  calls.push_back("edit " + path);
  return succeed;
}
int RecordingProcessLauncher::RunInFolderAndWait(const std::string& program, const std::vector<std::string>& args,
                                                 const std::string& folder,
                                                 const std::function<bool()>& keepWaiting) {
  calls.push_back(Joined("run-in " + folder, program, args));
  if (runChildren) return RunChildInFolder(program, args, folder, keepWaiting);
  return succeed ? 0 : -1;
}
bool RecordingProcessLauncher::OpenUrl(const std::string& url) {
  calls.push_back("url " + url);
  return succeed;
}

}  // namespace platform
