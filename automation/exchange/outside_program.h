#pragma once
// Starting the outside programs that take the exchange files (the sibling
// analysis program, the companion plotter, the auxiliary plot programs):
// detached, with an argument vector and no shell, so that blanks and quotes
// in paths pass unharmed.
#include <string>
#include <vector>

// True when path names a file that can be run.
bool OutsideProgramPresent(const std::string& path);

// Starts program with args without waiting. When it cannot be started the
// user is told which program failed (box with the caption); false then.
bool StartOutsideProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& caption);
