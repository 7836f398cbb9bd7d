#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "automation/ini_custom_pars.h"
#include "tests/automation/automation_test_support.h"

using autotest::RequiredElements;
using autotest::Wrap;

namespace {

class ParameterFile : public autotest::Scratch {
 protected:
  // The text as the parameter file, read into r (by default `record`).
  bool Read(const std::string& text) { return Read(record, text); }
  bool Read(CIniCustomPars& r, const std::string& text) {
    return ReadAutomationParameterFile(r, Put("params.xml", text).string());
  }
  CIniCustomPars record;
};

}  // namespace

TEST_F(ParameterFile, OnlyTheRequiredElementsIsAcceptedWithEveryDefault) {
  ASSERT_TRUE(Read(Wrap(RequiredElements())));
  EXPECT_EQ(record.valid, 1);
  EXPECT_STREQ(record.AllDoneFlagFile, "out/done.flag");
  EXPECT_STREQ(record.OutputResultsDirectory, "out");
  EXPECT_STREQ(record.DataDirectory, "data");
  EXPECT_STREQ(record.Channel, "RA1");
  EXPECT_EQ(record.PassThrough, "batch 7");
  EXPECT_EQ(record.FirstScan, 1);
  EXPECT_EQ(record.LastScan, 10);
  EXPECT_EQ(record.ScanInterval, 1);
  const CIniCustomPars defaults;
  EXPECT_EQ(record.Meniscus, defaults.Meniscus);
  EXPECT_EQ(record.BottomUpperLimit, 7.25f);
  EXPECT_EQ(record.MeniscusFitted, 1);
  EXPECT_EQ(record.TINoiseFitted, 1);
  EXPECT_EQ(record.RINoiseFitted, 0);
  EXPECT_EQ(record.Resolution, 50);
  EXPECT_EQ(record.BufferViscosity, 0.01002f);
  EXPECT_EQ(record.NumberComputationThreads, 2);
  EXPECT_STREQ(record.Model, "cofs");
  EXPECT_EQ(record.AutoExit, 0);
}

// Model is needed only by a step that runs by itself: without AutoRun,
// AutoFit and AutoExit the window opens with the data and the user chooses.
TEST_F(ParameterFile, EachMissingRequiredElementRejectsTheFile) {
  const struct {
    const char* key;
    const char* steps;
    const char* rejection;  // "" accepted
  } cases[] = {{"AllDoneFlagFile", "", "element AllDoneFlagFile is missing"},
               {"OutputResultsDirectory", "", "element OutputResultsDirectory is missing"},
               {"DataDirectory", "", "element DataDirectory is missing"},
               {"PassThrough", "", "element PassThrough is missing"},
               {"Channel", "", "element Channel is missing"},
               {"FirstScan", "", "element FirstScan is missing"},
               {"LastScan", "", "element LastScan is missing"},
               {"ScanInterval", "", "element ScanInterval is missing"},
               {"Model", "", ""},
               {"Model", "<AutoRun>FALSE</AutoRun><AutoFit>FALSE</AutoFit><AutoExit>FALSE</AutoExit>\n", ""},
               {"Model", "<AutoRun>TRUE</AutoRun>\n", "element Model is missing (AutoRun needs a model)"},
               {"Model", "<AutoFit>TRUE</AutoFit>\n", "element Model is missing (AutoFit needs a model)"},
               {"Model", "<AutoExit>TRUE</AutoExit>\n", "element Model is missing (AutoExit needs a model)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.steps);
    std::string body = RequiredElements();
    const std::string open = std::string("<") + c.key + ">";
    const std::size_t from = body.find(open);
    const std::size_t to = body.find('\n', from);
    body.erase(from, to - from + 1);
    CIniCustomPars r;
    const bool accepted = !*c.rejection;
    EXPECT_EQ(Read(r, Wrap(body + c.steps)), accepted);
    EXPECT_EQ(r.valid, accepted ? 1 : 0);
    EXPECT_EQ(r.rejection, c.rejection);
    if (accepted) {
      EXPECT_STREQ(r.Model, "");
    }
  }
}

TEST_F(ParameterFile, RepeatedElementsRejectTheWholeFile) {
  // Required and optional elements alike; an element whose name only starts
  // with the key is no repetition.
  struct Case {
    std::string extra;
    bool accepted;
  } cases[] = {
      {"<LastScan>12</LastScan>\n", false},
      {"<Smin>1</Smin>\n<Smax>9</Smax>\n<Smin>2</Smin>\n", false},
      {"<Smin>1</Smin>\n<SminX>2</SminX>\n", true},
      // Elements whose names start alike are told apart in either order.
      {"<MeniscusLowerLimit>5.9</MeniscusLowerLimit>\n<Meniscus>6.1</Meniscus>\n", true},
      {"<Meniscus>6.1</Meniscus>\n<MeniscusLowerLimit>5.9</MeniscusLowerLimit>\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    CIniCustomPars r;
    EXPECT_EQ(Read(r, Wrap(RequiredElements() + c.extra)), c.accepted);
    EXPECT_EQ(r.valid, c.accepted ? 1 : 0);
  }
  // One rejected file does not spoil the next one.
  ASSERT_TRUE(Read(Wrap(RequiredElements() + "<Meniscus>6.1</Meniscus>\n")));
  EXPECT_FLOAT_EQ(record.Meniscus, 6.1f);
}

TEST_F(ParameterFile, BooleansAreSubstringTestsInTheirOrder) {
  struct Case {
    const char* value;
    int expected;  // -1: the default (0 for BottomFitted) stays
  } cases[] = {{"TRUE", 1},  {"true", 1},   {"FALSE", 0}, {"false", 0},
               {"True", -1}, {"untrue", 1}, {"1", -1},    {"TRUEFALSE", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    CIniCustomPars r;
    r.BottomFitted = 7;  // marks "not touched"
    ASSERT_TRUE(Read(r, Wrap(RequiredElements() + "<BottomFitted>" + c.value + "</BottomFitted>\n")));
    EXPECT_EQ(r.BottomFitted, c.expected < 0 ? 7 : c.expected);
  }
}

TEST_F(ParameterFile, NumbersTakeTheirLeadingNumericPart) {
  std::string body = RequiredElements();
  body.replace(body.find("<ScanInterval>1<"), 16, "<ScanInterval>2.9<");
  body.replace(body.find("<FirstScan>1<"), 13, "<FirstScan>abc<");
  ASSERT_TRUE(Read(Wrap(body + "<Smax> 12.5S</Smax>\n<Resolution>37.9</Resolution>\n")));
  EXPECT_EQ(record.ScanInterval, 2);
  EXPECT_EQ(record.FirstScan, 0);
  EXPECT_FLOAT_EQ(record.Smax, 12.5f);
  EXPECT_EQ(record.Resolution, 37);
}

TEST_F(ParameterFile, TheRightSpellingOfFittingAlgorithmWins) {
  ASSERT_TRUE(Read(Wrap(RequiredElements() + "<FittinAlgorithm>Simplex</FittinAlgorithm>\n")));
  EXPECT_STREQ(record.FittingAlgorithm, "Simplex");
  CIniCustomPars both;
  const auto path = Put("both.xml", Wrap(RequiredElements() +
                                         "<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>\n"
                                         "<FittinAlgorithm>Simplex</FittinAlgorithm>\n"));
  ASSERT_TRUE(ReadAutomationParameterFile(both, path.string()));
  EXPECT_STREQ(both.FittingAlgorithm, "Levenberg-Marquardt");
}

TEST_F(ParameterFile, ElementsAreFoundByTheirWholeTagsInAnyOrder) {
  // Lower-case smin is another element.
  ASSERT_TRUE(Read(Wrap(RequiredElements() + "<smin>3</smin>\n")));
  EXPECT_FLOAT_EQ(record.Smin, 0.5f);
  // A limit before its value, or without it, never stands in for the value.
  ASSERT_TRUE(Read(Wrap("<MeniscusLowerLimit>5.9</MeniscusLowerLimit>\n" + RequiredElements() +
                        "<Meniscus>6.1</Meniscus>\n")));
  EXPECT_FLOAT_EQ(record.Meniscus, 6.1f);
  EXPECT_FLOAT_EQ(record.MeniscusLowerLimit, 5.9f);
  const CIniCustomPars defaults;
  ASSERT_TRUE(Read(Wrap(RequiredElements() + "<BottomLowerLimit>7.1</BottomLowerLimit>\n")));
  EXPECT_FLOAT_EQ(record.Bottom, defaults.Bottom);
  // An element name inside another element's value is just text.
  std::string body = RequiredElements();
  body.replace(body.find("<DataDirectory>data<"), 20, "<DataDirectory>runs/Model/Smax<");
  ASSERT_TRUE(Read(Wrap(body + "<Smax>12</Smax>\n")));
  EXPECT_STREQ(record.DataDirectory, "runs/Model/Smax");
  EXPECT_STREQ(record.Model, "cofs");
  EXPECT_FLOAT_EQ(record.Smax, 12.0f);
}

TEST_F(ParameterFile, LookupsNeverReadPastTheText) {
  struct Case {
    const char* text;
    bool found;
    const char* value;
  } cases[] = {
      {"<Smin>2.5</Smin>", true, "2.5"},
      {"<Smin></Smin>", true, ""},
      {"<Smin", false, ""},        // no ">"
      {"<Smin>2.5", false, ""},    // no closing name
      {"<Smin>2.5</Smin", false, ""},  // the closing tag is cut
      {"Smin>2.5</Smin>", false, ""},  // no opening tag
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    std::string value;
    EXPECT_EQ(ReadXmlElement(&text, "", "Smin", &value, nullptr, nullptr, nullptr), c.found);
    if (c.found) {
      EXPECT_EQ(value, c.value);
    }
  }
}

// The value starts after the first ">" behind the element's name, so an
// opening tag with attributes reads like a bare one; an element that is there
// but has no readable value keeps its default and is named.
TEST_F(ParameterFile, ElementsWithAttributesAreReadAndUnreadableOnesNamed) {
  struct Case {
    const char* text;
    bool found;
    const char* value;
    bool unreadable;
  } cases[] = {
      {"<Smax unit=\"S\">12</Smax>", true, "12", false},
      {"<Smax\tunit='S'\n>12</Smax>", true, "12", false},
      {"<Smax >12</Smax>", true, "12", false},
      // Blanks before the closing tag's ">" are well-formed too.
      {"<Smax>12</Smax >", true, "12", false},
      {"<Smax>12</Smax\t\n>", true, "12", false},
      {"<Smax>12</SmaxLimit></Smax >", true, "12</SmaxLimit>", false},
      {"<Smax>12</Smax x>", false, "", true},
      {"<Smax>12</Smax ", false, "", true},
      {"<SmaxLimit unit=\"S\">3</SmaxLimit><Smax>12</Smax>", true, "12", false},
      {"<Smax unit=\"S\">12", false, "", true},  // no closing tag
      {"<Smax unit=\"S\"/>", false, "", true},    // an empty element
      {"<Smax unit=\"S\"", false, "", true},      // the tag never ends
      {"<SmaxLimit>3</SmaxLimit>", false, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    std::string value;
    float number = 0;
    ElementOutcome outcome = ElementOutcome::kRead;
    EXPECT_EQ(ReadXmlElement(&text, "", "Smax", &value, &number, nullptr, nullptr, &outcome), c.found);
    EXPECT_EQ(outcome == ElementOutcome::kUnreadable, c.unreadable);
    EXPECT_EQ(outcome == ElementOutcome::kRead, c.found);
    if (c.found) {
      EXPECT_EQ(value, c.value);
      EXPECT_FLOAT_EQ(number, 12.0f);
    }
  }
  // A required element written so is taken, an optional one too; a second
  // opening tag with attributes is a repetition.
  std::string body = RequiredElements();
  body.replace(body.find("<LastScan>"), 10, "<LastScan kind=\"number\">");
  body.replace(body.find("</FirstScan>"), 12, "</FirstScan >");
  ASSERT_TRUE(Read(Wrap(body + "<Smax unit=\"S\">12</Smax >\n<Meniscus unit=\"cm\">6.1</Meniscus>\n")));
  EXPECT_EQ(record.LastScan, 10);
  EXPECT_EQ(record.FirstScan, 1);
  EXPECT_FLOAT_EQ(record.Smax, 12.0f);
  EXPECT_FLOAT_EQ(record.Meniscus, 6.1f);
  EXPECT_TRUE(record.unreadElements.empty());
  EXPECT_FALSE(Read(Wrap(RequiredElements() + "<Smax>12</Smax>\n<Smax unit=\"S\">9</Smax>\n")));
  EXPECT_EQ(record.rejection, "an element occurs twice");
  // Unreadable optional elements keep their defaults, and are listed in file order.
  record = CIniCustomPars();
  ASSERT_TRUE(Read(Wrap(RequiredElements() + "<Smax unit=\"S\"/>\n<AutoFit>yes</AutoFit>\n")));
  const CIniCustomPars defaults;
  EXPECT_EQ(record.Smax, defaults.Smax);
  EXPECT_EQ(record.AutoFit, defaults.AutoFit);
  EXPECT_EQ(record.unreadElements, (std::vector<std::string>{"Smax", "AutoFit"}));
  // A required one that cannot be read rejects the file and says why.
  body = RequiredElements();
  body.replace(body.find("<LastScan>10</LastScan>"), 23, "<LastScan>10");
  EXPECT_FALSE(Read(Wrap(body)));
  EXPECT_EQ(record.rejection, "element LastScan cannot be read");
}

// Text values are read as the result file writes them: the five entities
// decoded once, anything else (a bare &, an unknown entity) as written.
TEST_F(ParameterFile, TextValuesAreReadWithTheirEntitiesDecoded) {
  const struct {
    const char* written;
    const char* read;
  } cases[] = {
      {"a &amp; b", "a & b"},
      {"&lt;x&gt; &quot;q&quot; &apos;", "<x> \"q\" '"},
      {"&amp;amp; &amp;lt;", "&amp; &lt;"},
      {"a & b &unknown; &#38; &amp", "a & b &unknown; &#38; &amp"},
      {"&", "&"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    const std::string text = std::string("<PassThrough>") + c.written + "</PassThrough>";
    std::string value;
    ASSERT_TRUE(ReadXmlElement(&text, "", "PassThrough", &value, nullptr, nullptr, nullptr));
    EXPECT_EQ(value, c.read);
  }
  // A path into a buffer: its length is that of the decoded value.
  std::string body = RequiredElements();
  body.replace(body.find("<DataDirectory>data<"), 20, "<DataDirectory>" + std::string(255, 'a') + "&amp;&lt;<");
  ASSERT_TRUE(Read(Wrap(body))) << record.rejection;
  EXPECT_EQ(std::string(record.DataDirectory), std::string(255, 'a') + "&<");
}

TEST_F(ParameterFile, TextValuesAreNeverCutShort) {
  // A value that does not fit its buffer rejects the file instead of being
  // shortened; the longest that fits is taken whole.
  const std::string fits(259, 'a'), tooLong(260, 'a');
  auto withDataDirectory = [](const std::string& folder) {
    std::string body = RequiredElements();
    body.replace(body.find("<DataDirectory>data<"), 20, "<DataDirectory>" + folder + "<");
    return Wrap(body);
  };
  ASSERT_TRUE(Read(withDataDirectory(fits)));
  EXPECT_EQ(std::strlen(record.DataDirectory), 259u);
  EXPECT_FALSE(Read(withDataDirectory(tooLong)));
  EXPECT_EQ(record.rejection, "value of DataDirectory is too long");
  EXPECT_FALSE(Read(Wrap(autotest::RequiredElementsWithModel("<Model>" + std::string(100, 'c') + "</Model>\n"))));
  EXPECT_EQ(record.rejection, "value of Model is too long");
}

TEST_F(ParameterFile, AChannelIsAnExtensionNotAPath) {
  for (const char* channel : {"../RA1", "RA1/x", "a\\b", "RA1234567X"}) {
    SCOPED_TRACE(channel);
    std::string body = RequiredElements();
    body.replace(body.find("<Channel>RA1<"), 13, std::string("<Channel>") + channel + "<");
    EXPECT_FALSE(Read(Wrap(body)));
  }
}

TEST_F(ParameterFile, WindowsLineEndsReadAsLineFeeds) {
  std::string text = Wrap(RequiredElements());
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  ASSERT_TRUE(Read(crlf));
  EXPECT_STREQ(record.Model, "cofs");
  EXPECT_STREQ(record.Channel, "RA1");
}

TEST_F(ParameterFile, AMissingFileIsRejected) {
  EXPECT_FALSE(ReadAutomationParameterFile(record, (dir / "nothing.xml").string()));
  EXPECT_EQ(record.valid, 0);
}

TEST_F(ParameterFile, ScanPathsFollowTheNumbering) {
  CIniCustomPars r;
  std::strcpy(r.DataDirectory, "/runs/data");
  std::strcpy(r.Channel, "RA1");
  r.FirstScan = 1;
  r.LastScan = 10;
  r.ScanInterval = 3;
  EXPECT_EQ(AutomationScanPaths(r),
            (std::vector<std::string>{"/runs/data/00001.RA1", "/runs/data/00004.RA1",
                                      "/runs/data/00007.RA1", "/runs/data/00010.RA1"}));
  std::strcpy(r.Channel, ".RA1");
  EXPECT_EQ(AutomationScanPaths(r).front(), "/runs/data/00001.RA1");
  // A folder written with its own separator keeps it.
  std::strcpy(r.DataDirectory, "C:\\data\\");
  EXPECT_EQ(AutomationScanPaths(r).front(), "C:\\data\\00001.RA1");
  std::strcpy(r.DataDirectory, "/data/");
  r.FirstScan = 99999;
  r.LastScan = 100000;
  r.ScanInterval = 1;
  EXPECT_EQ(AutomationScanPaths(r),
            (std::vector<std::string>{"/data/99999.RA1", "/data/100000.RA1"}));
  // Unusable ranges: a single scan, non-positive numbers, a missing channel.
  struct Range {
    int first, last, interval;
  } unusable[] = {{5, 5, 1}, {0, 10, 1}, {1, 10, 0}, {10, 1, 1}, {-1, 3, 1},
                  {1, 2147483647, 1}, {1, 1001, 1}};  // more scans than a set holds
  for (const Range& u : unusable) {
    r.FirstScan = u.first;
    r.LastScan = u.last;
    r.ScanInterval = u.interval;
    EXPECT_TRUE(AutomationScanPaths(r).empty()) << u.first << " " << u.last << " " << u.interval;
  }
  r.FirstScan = 1;
  r.LastScan = 3;
  r.Channel[0] = 0;
  EXPECT_TRUE(AutomationScanPaths(r).empty());
}

TEST_F(ParameterFile, ValuesNoAnalysisCanStartFromAreRefusedByName) {
  const struct {
    const char* elements;
    const char* rejection;
  } cases[] = {
      {"<Smin>5</Smin>\n<Smax>5</Smax>\n", "Smin (5) must be below Smax (5)"},
      {"<Smin>8</Smin>\n<Smax>2</Smax>\n", "Smin (8) must be below Smax (2)"},
      {"<Smax>inf</Smax>\n", "Smin (0.5) must be below Smax (inf)"},
      {"<Smin>nan</Smin>\n", "Smin (nan) must be below Smax (10)"},
      {"<BufferViscosity>0</BufferViscosity>\n", "BufferViscosity (0) must be above 0"},
      {"<BufferViscosity>-0.01</BufferViscosity>\n", "BufferViscosity (-0.01) must be above 0"},
      {"<BufferDensity>0</BufferDensity>\n", "BufferDensity (0) must be above 0"},
      {"<StartingFrictionalRatio>-1</StartingFrictionalRatio>\n",
       "StartingFrictionalRatio (-1) must be above 0"},
      {"<Resolution>1</Resolution>\n", "Resolution (1) must be at least 2"},
      {"<Resolution>-3.7</Resolution>\n", "Resolution (-3) must be at least 2"},
      {"<Vbar>nan</Vbar>\n", "Vbar (nan) must be above 0"},
      {"<Vbar>abc</Vbar>\n", "Vbar (0) must be above 0"},
      {"<Vbar>10.5</Vbar>\n", "Vbar (10.5) must be at most 10"},
      {"<BufferDensity>inf</BufferDensity>\n", "BufferDensity (inf) must be above 0"},
      {"<RegularizationPvalue>-0.1</RegularizationPvalue>\n", "RegularizationPvalue (-0.1) must be at least 0"},
      {"<Meniscus>-6</Meniscus>\n", "Meniscus (-6) must be above 0"},
      {"<BottomUpperLimit>1e3</BottomUpperLimit>\n", "BottomUpperLimit (1000) must be at most 100"},
      {"<LeftFitLimit>-1</LeftFitLimit>\n", "LeftFitLimit (-1) must be at least 0"},
      {"<Meniscus>7.2</Meniscus>\n", "Meniscus (7.2) must be below Bottom (7.2)"},
      {"<BottomLowerLimit>7.3</BottomLowerLimit>\n", "BottomLowerLimit (7.3) must not be above BottomUpperLimit (7.25)"},
      {"<DataSpikeThreshold>0</DataSpikeThreshold>\n", "DataSpikeThreshold (0) must be above 0"},
      {"<Model>COFS</Model>\n", "Model (\"COFS\") must be cofs or lsgofs"},
      {"<Model></Model>\n<AutoFit>TRUE</AutoFit>\n", "Model (\"\") must be cofs or lsgofs (AutoFit needs a model)"},
      {"<Model>  </Model>\n", "Model (\"  \") must be cofs or lsgofs"},
      {"<Model/>\n", "element Model cannot be read"},
      {"<Model>cofs\n", "element Model cannot be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.elements);
    record = CIniCustomPars{};
    const bool model = std::strstr(c.elements, "<Model") != nullptr;
    EXPECT_FALSE(Read(Wrap((model ? autotest::RequiredElementsWithModel("") : RequiredElements()) + c.elements)));
    EXPECT_EQ(record.valid, 0);
    EXPECT_EQ(record.rejection, c.rejection);
  }
  // An empty Model names none: the user chooses it when nothing runs by itself.
  record = CIniCustomPars{};
  EXPECT_TRUE(Read(Wrap(autotest::RequiredElementsWithModel("<Model></Model>\n"))));
  EXPECT_STREQ(record.Model, "");
  // The smallest usable values pass, and the ends of each range.
  record = CIniCustomPars{};
  EXPECT_TRUE(Read(Wrap(RequiredElements() +
                        "<Smin>4.99</Smin>\n<Smax>5</Smax>\n<Resolution>2</Resolution>\n"
                        "<BufferDensity>1e-6</BufferDensity>\n")));
  record = CIniCustomPars{};
  EXPECT_TRUE(Read(Wrap(autotest::RequiredElementsWithModel("") +
                        "<Vbar>10</Vbar>\n<RegularizationPvalue>0</RegularizationPvalue>\n"
                        "<LeftFitLimit>0</LeftFitLimit>\n<RightFitLimit>0</RightFitLimit>\n"
                        "<MeniscusLowerLimit>6</MeniscusLowerLimit>\n<MeniscusUpperLimit>6</MeniscusUpperLimit>\n"
                        "<Model>lsgofs</Model>\n")))
      << record.rejection;
  record = CIniCustomPars{};
  EXPECT_TRUE(Read(Wrap(RequiredElements() + "<RegularizationPvalue>1</RegularizationPvalue>\n")))
      << record.rejection;
  // Above 1 the value is a chi-square ratio, which the regularisation takes as it stands.
  record = CIniCustomPars{};
  EXPECT_TRUE(Read(Wrap(RequiredElements() + "<RegularizationPvalue>1.2</RegularizationPvalue>\n")))
      << record.rejection;
}

TEST_F(ParameterFile, AFifoIsRefusedWithoutWaitingForAWriter) {
  const std::string path = (dir / "params.xml").string();
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  EXPECT_FALSE(ReadAutomationParameterFile(record, path));
  EXPECT_EQ(record.rejection, path + " is not a regular file");
}
