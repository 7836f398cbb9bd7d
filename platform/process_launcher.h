#pragma once
// Outside programs: the text editor that stands for "notepad.exe", the web
// browser, and programs started detached or waited for.
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
};

IProcessLauncher& Processes();
void SetProcesses(IProcessLauncher* launcher);  // nullptr restores the system one

class RecordingProcessLauncher : public IProcessLauncher {
 public:
  bool StartDetached(const std::string& program, const std::vector<std::string>& args) override;
  int RunAndWait(const std::string& program, const std::vector<std::string>& args) override;
  bool OpenTextEditor(const std::string& path) override;
  bool OpenUrl(const std::string& url) override;
  std::vector<std::string> calls;  // "start prog a b", "wait ...", "edit path", "url u"
  bool succeed = true;
};

}  // namespace platform
