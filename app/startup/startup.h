#pragma once
// Everything between the process start and the main window: the entry
// OwlMain, the application object TXLAApp and the program paths.
#include <functional>
#include <memory>
#include <string>

// The command line for the main window's constructor: the arguments after
// the program name. ArgCopies has ArgCount + 1 entries (element 0 null) and
// exists only when ArgCount > 0; the copies live until the program ends.
struct CommandLineArgsRecord {
  int ArgCount = 0;
  char** ArgCopies = nullptr;
};
extern CommandLineArgsRecord CommandLineArgs;

// The main window as the application object sees it.
class IMainWindow {
 public:
  virtual ~IMainWindow() = default;
  // Runs the message loop until the quit request; returns the exit code.
  virtual int RunMessageLoop() = 0;
};

// The window code registers how the main window is made (its constructor
// reads the preferences and may run the unattended analysis). Without a
// factory the program has no window and ends after start-up.
using MainWindowFactory = std::function<std::unique_ptr<IMainWindow>(const std::string& title)>;
void SetMainWindowFactory(MainWindowFactory factory);

class TXLAApp {
 public:
  explicit TXLAApp(std::string name);
  virtual ~TXLAApp();
  TXLAApp(const TXLAApp&) = delete;
  TXLAApp& operator=(const TXLAApp&) = delete;

  // Initialises, then runs the main window's message loop (not in a
  // headless run); the result is the program's exit code. A fatal error ends the run with the exit code
  // its box requested instead of escaping.
  int Run();
  // Parameter arrays, program paths, the main window, zoom history, footer.
  virtual void InitMainWindow();

  const std::string& Name() const { return name_; }
  IMainWindow* MainWindow() const { return mainWindow_.get(); }

 private:
  std::string name_;
  std::unique_ptr<IMainWindow> mainWindow_;
};

// Builds the paths of the program folder's files (except the preference
// files, which OwlMain builds), creates "temp" and "tarnel.ini" when missing
// and reports a missing sibling program.
void SetupProgramFiles();

// The entry: program folder and preference paths, copies of the arguments,
// then TXLAApp "ZODIvaridid". Returns the exit code.
int OwlMain(int argc, char** argv);
