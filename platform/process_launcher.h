#pragma once
// Outside programs: the text editor that stands for "notepad.exe", the web
// browser, and programs started detached or waited for.
#include <functional>
#include <string>
#include <vector>

namespace platform {

class IProcessLauncher {
 public:
  virtual ~IProcessLauncher() = default;
  virtual bool StartDetached(const std::string& program, const std::vector<std::string>& args) = 0;
  // Returns the exit code, or -1 when the program could not be started.
  virtual int RunAndWait(const std::string& program, const std::vector<std::string>& args) = 0;
  // Shows a text file in the desktop's editor.
  virtual bool OpenTextEditor(const std::string& path) = 0;
  virtual bool OpenUrl(const std::string& url) = 0;
  // Runs program as a child in folder (this process keeps its own current
  // folder) and waits, calling keepWaiting about every 20 ms; when it
  // returns false the child is ended. The exit code; -1 when the program
  // could not be started, kChildStopped when it was ended.
  virtual int RunInFolderAndWait(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& folder, const std::function<bool()>& keepWaiting);
};

constexpr int kChildStopped = -2;
// The system's way of RunInFolderAndWait: no shell, no path search.
int RunChildInFolder(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                     const std::function<bool()>& keepWaiting);

IProcessLauncher& Processes();
void SetProcesses(IProcessLauncher* launcher);  // nullptr restores the system one

class RecordingProcessLauncher : public IProcessLauncher {
 public:
  bool StartDetached(const std::string& program, const std::vector<std::string>& args) override;
  int RunAndWait(const std::string& program, const std::vector<std::string>& args) override;
  bool OpenTextEditor(const std::string& path) override;
  bool OpenUrl(const std::string& url) override;
  // Recorded as "run-in <folder> prog a b"; the child really runs when
  // runChildren is set, else the call reports succeed as exit code 0.
  int RunInFolderAndWait(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder, const std::function<bool()>& keepWaiting) override;
  bool runChildren = false;
  std::vector<std::string> calls;  // "start prog a b", "wait ...", "edit path", "url u"
  bool succeed = true;
};

}  // namespace platform
