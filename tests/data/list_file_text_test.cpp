#include "data/list_file_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ListFileText, HeaderCommentsBlankLinesAndTheOldForm) {
  struct Case {
    const char* text;
    bool newFormat;
    int every;
    std::string folder;
    std::vector<std::string> names;
  } cases[] = {
      {"newformat n=3\n/data\na.ra1\nb.ra1\n", true, 3, "/data", {"a.ra1", "b.ra1"}},
      {"NEWFORMAT N=12\n/data\na.ra1", true, 12, "/data", {"a.ra1"}},
      // A damaged count would step by zero or backwards through the files.
      {"newformat n=0\n/data\na.ra1\n", true, 1, "/data", {"a.ra1"}},
      {"newformat n=-4\n/data\na.ra1\n", true, 1, "/data", {"a.ra1"}},
      {"newformat n=x\n/data\na.ra1\n", true, 1, "/data", {"a.ra1"}},
      // A comment behind a name leaves the name and the next line alone; a
      // line of only a comment is dropped, and the first empty line ends the list.
      {"newformat n=2\n/data % the folder\na.ra1 % first\n% dropped scan\nb.ra1\n\nc.ra1\n", true, 2, "/data",
       {"a.ra1", "b.ra1"}},
      {"C:\\my_data\nfile_ra1\n\nother_ra1\n", false, 1, "C:\\my_data", {"file.ra1"}},
      {"newformat n=1\r\n/data\r\na.ra1\r\n \t\r\nb.ra1\r\n", true, 1, "/data", {"a.ra1"}},
      {"newformat n=1\n\n/data\na.ra1\n", true, 1, "", {}},
      {"newformat n=1\n/data\n%a.ra1\nb.ra1\n", true, 1, "/data", {"b.ra1"}},
      {"newformat n=1 % written by hand\n/data\na.ra1\n", true, 1, "/data", {"a.ra1"}},
      // Old lists: no header, the names' underscores stand for dots, the folder keeps its own.
      {"/my_data\na_ra1\nb_ra1\n", false, 1, "/my_data", {"a.ra1", "b.ra1"}},
      // A comment that opens an old list is no folder, nor is the folder then a name.
      {"%comment\nC:\\d\na_ra1\n", false, 1, "C:\\d", {"a.ra1"}},
      {"% list of run 3\n/data\na_ra1\nb_ra1\n", false, 1, "/data", {"a.ra1", "b.ra1"}},
      {"newformat n=1\r\n/data\r\na.ra1 \t\r\n", true, 1, "/data", {"a.ra1"}},
      {"newformat n=1\n% nothing listed\n", true, 1, "", {}},
      {"", false, 1, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ListFileText t = ParseListFileText(c.text);
    EXPECT_EQ(t.newFormat, c.newFormat);
    EXPECT_EQ(t.every, c.every);
    EXPECT_EQ(t.folder, c.folder);
    EXPECT_EQ(t.names, c.names);
  }
}
