#pragma once
// The text of a list file, the one reading of it that the window's loader
// and the list reload share: an optional header "newformat n=<every>", the
// data folder, then one scan file name a line. Comments run from "%" to the
// end of their line (a "%" that opens the text is not one); the line break
// stays, so a comment behind a name never joins it to the next name. The
// first empty line (blanks only) ends the list; a line holding only a
// comment is dropped, and trailing blanks are. Lists without the header are
// the old form: every n is 1 and the names write the extension's dot as "_".
#include <string>
#include <string_view>
#include <vector>

struct ListFileText {
  bool newFormat = false;
  int every = 1;                    // at least 1, whatever the header says
  std::string folder;               // empty when no line remains
  std::vector<std::string> names;   // as listed, old-form underscores undone
};

ListFileText ParseListFileText(std::string_view text);
