#pragma once
// The result set of an unattended analysis: screenshot, distribution,
// systematic noise, per-scan rmsd, the data-fit-residuals matrix,
// "ResultParameters.xml", and last the all-done flag file that tells a
// controlling program the set is complete.
#include <string>

#include "platform/bitmap.h"

struct CIniCustomPars;

// The program's version text as the result file names it.
extern const char* const kTarnelVersionText;

// Writes the rectangle (left, top)-(right, bottom) of the captured client
// area as an uncompressed BMP at 24 or 32 bits per pixel, rows bottom-up and
// padded to four bytes. False when the file cannot be opened or written, the
// rectangle is empty or the bit count is not supported.
bool SaveWindowAreaAsBmp(const std::string& path, const platform::Bitmap& client, int left,
                         int top, int right, int bottom, int bitsPerPixel);

// The progress line of the last fit step, with its trailing blanks.
std::string FittingStepsText();

// What the writer needs from the main window: the screenshot of its client
// area after the data zoom and the fit report have been drawn. An empty
// bitmap means no screenshot could be made.
struct ResultScreenshot {
  bool wanted = false;  // false for a run that ended by AutoExit
  platform::Bitmap client;
};

// Writes the result set for the record into its OutputResultsDirectory,
// each file under a temporary name renamed into place once written whole,
// and then, when every file was written, the flag file. Every file is
// attempted; the result is false when any of them could not be written
// (the reasons are in failures, and recorded as a failure of the run with
// kAutomationWriteFailed before "ResultParameters.xml" is composed) and the
// flag file is then not written.
bool WriteAutomationResultFiles(const CIniCustomPars& record, const ResultScreenshot& shot,
                                std::string* failures);

// The text of "ResultParameters.xml" for the current state. ScreenShotPath
// names the screenshot only when one was written, and is empty otherwise;
// after a failure of the run, "Failure" names the failed step and the exit
// status ("Fit; exit status 4").
std::string ComposeResultParametersXml(const CIniCustomPars& record, bool screenshotWritten);

// Text safe between XML tags: & and < (and >) escaped.
std::string XmlEscape(const std::string& text);
