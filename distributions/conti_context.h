#pragma once
// What the numerical core of the distributions needs to know about the run
// around it: the model family's shape, the data kind, whether a fit or a
// serial fit is running, and whether it may talk to the user. The run
// driver fills it from the program-wide records before each computation.
#include <string>

#include "platform/ui_backend.h"

struct ContiRunContext {
  // Model shape.
  bool firstAmplitudeSeparate = false;  // amplitude 1 is a discrete or special component
  bool twoDimensional = false;          // c(s,f/f0): amplitudes (q-1)*m + i
  bool dlsData = false;
  bool timeCourse = false;
  int timeCourseScans = 0;              // scans first..last of a DLS time-course window

  // The fitted data, set by the normal-equation builders.
  int fitRangePoints = 0;               // common-grid points inside the fit limits
  int scanCount = 0;

  // Run state of the main window.
  bool infoMessages = true;             // "Info and Wizard Messages"
  bool drawingEnabled = false;          // the main window has been painted
};

ContiRunContext& ContiContext();

// Sets the model shape from the model switches: amplitude 1 is a separate
// component for the models with a discrete or special first term (and for
// buffer sedimentation with a fitted buffer concentration), and the
// c(s,f/f0) models are two-dimensional.
void UpdateContiShapeFromModel(bool bufferConcentrationFitted);

// A serial fit is running (messages are replaced by error codes).
bool SerialFitRunning();
// A fit is running (the normal-equation progress text is not drawn).
bool FitRunning();

// Non-fatal guard message of a numerical routine, or the serial-fit error
// code instead while a serial fit runs, or a note of the fit's end while a
// fit holds the notes.
void ContiErrorOrCode(const std::string& text, int serialCode);

// A fit of a distribution shows one box, at its end: what the regularisation
// and the solves of its evaluations have to say of their solution (a search
// of alpha that ended short of its ratio, a solve that fell back) is kept
// while the fit evaluates, to its final evaluation, inside the outermost
// scope, and the fit's end says it with its own. Outside a fit the same
// words are boxes of their own.
class ContiFitNotesScope {
 public:
  ContiFitNotesScope();
  ~ContiFitNotesScope();
  ContiFitNotesScope(const ContiFitNotesScope&) = delete;
  ContiFitNotesScope& operator=(const ContiFitNotesScope&) = delete;
  bool Outermost() const { return outermost_; }

 private:
  bool outermost_;
};
bool ContiFitNotesHeld();
// The notes kept so far, each once, joined by "; " (and forgotten).
std::string TakeContiFitNotes();
// A message box of the regularisation, or a note of the fit's end while a
// fit holds the notes.
void ContiTell(const std::string& caption, const std::string& text,
               platform::BoxIcon icon = platform::BoxIcon::Information);
// A progress or status line of the regularisation, when drawing is enabled:
// written at (10, y) of the window, over the line that stood there, and kept
// as the status text (where no window shows it).
void ContiStatusLine(int y, const std::string& text);

// The user's stop during the solves of a Run command (not of a fit, a
// Monte-Carlo series or a serial fit, which take their stops themselves):
// looks at the keyboard, and true once a key, a click or the Run's time
// bound has asked the Run to stop (the stop flag is then set).
bool RunCommandSolving();
bool RunStopRequested();
// At the start of a step: a stop left over from another computation (a
// fit's evaluation, a list that failed) is forgotten, but a stop the user
// gave a Run command stays until the Run has taken it, whichever step it
// came in; a step that cleared it would run the Run to its end.
void ForgetStopLeftByOthers();

// chi2 / chi0 of a solution against the best one, with an exact best fit
// (chi0 = 0) read as no increase when chi2 is 0 too and as an unbounded one
// otherwise; never 0/0.
double ChiSquareRatio(double chi, double chi0);
