#pragma once
// List files remember a selection of scan files: "newformat n=<every n-th>",
// the folder, then one file name per line. Reading one gives the selection
// text that the loaders take (NUL-separated entries, folder first).
#include <string>
#include <vector>

struct ListFileSelection {
  std::string selection;  // entries each ended by NUL, the first empty entry ends it
  int every = 1;          // the every-n-th count of the header (1 for old lists)
};

// Reads a list file; false when it cannot be read (reason says why, naming
// the file), is no regular file or is longer than the 128,000-character
// selection buffer. out is left as it was then.
bool ReadListFile(const std::string& path, ListFileSelection& out, std::string* reason = nullptr);
// The text form of a list file read from memory (same rules).
ListFileSelection ParseListText(std::string text);

// Splits selection text into its entries up to the first empty one.
std::vector<std::string> SelectionEntries(const std::string& selection);
// The list text that a load of chosen scans writes: the header with the
// count, then every entry of the selection and a line break after each.
std::string ComposeListText(int every, const std::vector<std::string>& entries);
