#pragma once
// Numbers appended to a text exactly as printf's "%e" and "%f" write them
// (six decimals, round-half-even on the exact binary value, "e+00"
// exponents), several times faster: the large exchange tables hold hundreds
// of thousands of numbers. Values whose digits need more than 128-bit
// integer arithmetic, and NaN and infinities, take the library's path.
#include <string>

void AppendE(std::string& out, double v);  // "%e"
void AppendF(std::string& out, double v);  // "%f"
