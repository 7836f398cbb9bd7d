#pragma once
// Line reading shared by the text-file readers of vectors, curves and
// matrices.
#include <cstdio>
#include <string>

// One line of any length without its '\n'; false at the end of the file.
bool ReadLine(std::FILE* f, std::string& line);
// Only blanks, tabs and carriage returns (or nothing).
bool BlankLine(const std::string& line);
