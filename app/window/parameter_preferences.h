#pragma once
// "tarnelparams.ini": one number per line, its meaning given by the line
// number. Read once when the main window is built, rewritten whole when a
// line was missing, and line by line by the option toggles.
#include <string>
#include <vector>

class TXLAWindow;

// The path of the file (set by the start-up; tests point it elsewhere).
std::string& ParamsIniPath();

// 1 when the file was read, 0 when it is missing or holds no number.
int LoadParameterPreferences(TXLAWindow& window);
// 1 written, 0 not writable (reported).
int SaveParameterPreferences(TXLAWindow& window);
// Stores value as 0-based entry index; 0 when the file is missing, empty or
// shorter than index + 1 entries.
int SetParameterPreference(TXLAWindow& window, int index, int value);
// The regularisation of the c(s) family (1 maximum entropy, 2 Tikhonov-
// Phillips, 3 both shown) and its menu marks.
void SelectRegularization(TXLAWindow& window, int kind);

// Integer part of a count, at least 1 and at most largest (a thread count
// by default).
int WholeCount(double v, double largest = 1024.0);
// The line that stores a time-stamp tolerance: (tolerance - 1) x 1e5, its
// sign turned when the check is off, kept within what an int holds.
int ToleranceLine(double tolerance, bool on = true);

// The numbers of a preference file: the first number of each line, up to
// the first line that does not begin with a finite number. A file that is
// there but cannot be used (a folder, a named pipe, a device, too large,
// unreadable) reads as none, with the reason in refusal.
std::vector<double> ReadPreferenceNumbers(const std::string& path, bool* opened = nullptr,
                                          std::string* refusal = nullptr);
