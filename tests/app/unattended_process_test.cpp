// The unattended run as a pipeline sees it: the program started as a child
// process (limits on memory or file size set just for it), judged only by
// its exit status, its flag file and the files it left. Every case runs at
// once, so the table costs about one run's time.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// Every entry below folder with its size and a hash of its content, so
// that a difference reads as a short list.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = e.path().lexically_relative(folder).string();  // a link by its own name
    if (!e.is_regular_file()) {
      files[name] = e.is_directory() ? "folder" : "special";
      continue;
    }
    const std::string text = ReadAll(e.path());
    files[name] = std::to_string(text.size()) + " bytes, hash " +
                  std::to_string(std::hash<std::string>{}(text));
  }
  return files;
}

constexpr int kScans = 8;

// The files of the program folder that a run may read.
constexpr const char* kProgramFolderFiles[] = {"tarnelparams.ini", "tarnellammparams.ini",
                                               "tarnelsimappeqparams.ini", "tarnel.ini",
                                               "integratrangefile.txt", "mofs.dat",
                                               "viscosity.dat", "density.dat"};
constexpr int kResolution = 40;

std::string Parameters(const std::string& extra) {
  std::string p =
      "<?xml version=\"1.0\"?>\n<Parameters>\n"
      "<AllDoneFlagFile>out/done.flag</AllDoneFlagFile>\n"
      "<OutputResultsDirectory>out</OutputResultsDirectory>\n"
      "<DataDirectory>data</DataDirectory>\n<PassThrough>table</PassThrough>\n"
      "<Channel>RA1</Channel>\n<FirstScan>1</FirstScan>\n<ScanInterval>1</ScanInterval>\n"
      "<Meniscus>6.01</Meniscus>\n<MeniscusFitted>FALSE</MeniscusFitted>\n"
      "<LeftFitLimit>6.05</LeftFitLimit>\n<RightFitLimit>7.1</RightFitLimit>\n"
      "<Model>cofs</Model>\n<Smin>0.5</Smin>\n<StartingFrictionalRatio>1.3</StartingFrictionalRatio>\n"
      "<FrictionalRatioFitted>FALSE</FrictionalRatioFitted>\n"
      "<TINoiseFitted>TRUE</TINoiseFitted>\n<RINoiseFitted>TRUE</RINoiseFitted>\n"
      "<AutoRun>TRUE</AutoRun>\n<AutoExit>TRUE</AutoExit>\n"
      "<AutoSubtractSystematicNoise>TRUE</AutoSubtractSystematicNoise>\n";
  // Defaults unless the case names its own.
  for (const auto& [element, value] :
       std::vector<std::pair<std::string, std::string>>{
           {"LastScan", std::to_string(kScans)},
           {"Resolution", std::to_string(kResolution)},
           {"Smax", "12"},
           {"NumberComputationThreads", "2"}})
    if (extra.find("<" + element + ">") == std::string::npos)
      p += "<" + element + ">" + value + "</" + element + ">\n";
  return p + extra + "</Parameters>\n";
}

struct Case {
  const char* name;
  std::string parameters;                            // elements beside the defaults
  std::function<void(const fs::path& dir)> prepare;  // changes to the scans or the folder
  int status;
  bool flag;
  const char* said = "";  // a text stderr must hold
  rlim_t addressSpace = 0, fileSize = 0;
  bool sameDistribution = false;  // as the plain run's
  std::function<void(const fs::path& dir)> check = nullptr;  // what else the run must have left
};

// Values as a grid file holds them, one per line.
std::string GridText(int n, double from, double to) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "%f\n", from + (to - from) * i / (n - 1));
    text += line;
  }
  return text;
}

std::string Repeated(const std::string& line, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += line;
  return text;
}

// The program folder of a case (TARNEL_HOME).
fs::path Home(const fs::path& dir) { return fs::path(dir.string() + ".home"); }

// A link at out/automation.log to an input of the run (symbolic: target
// relative to out/, hard: the same file).
void LinkLog(const fs::path& dir, const fs::path& input, bool hard) {
  fs::create_directories(dir / "out");
  if (hard)
    fs::create_hard_link(input, dir / "out" / "automation.log");
  else
    fs::create_symlink(fs::relative(input, dir / "out"), dir / "out" / "automation.log");
}

// The log is the run's own new file, whatever stood at its name.
void LogIsItsOwnFile(const fs::path& dir) {
  const fs::path log = dir / "out" / "automation.log";
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(log))) << log;
  EXPECT_EQ(fs::hard_link_count(log), 1u);
  EXPECT_NE(ReadAll(log).find("parameter file params.xml accepted"), std::string::npos);
}

// A Run whose species lost their loading: the log holds one error box, the
// one that names the species and the cause, and the failure line quotes it.
void OneAmountNotKeptBox(const fs::path& dir) {
  const std::string log = ReadAll(dir / "out" / "automation.log");
  std::size_t boxes = 0;
  for (const char* caption : {"\n[ERROR", "\n[Error]"})
    for (std::size_t at = log.find(caption); at != std::string::npos; at = log.find(caption, at + 1)) ++boxes;
  EXPECT_EQ(boxes, 1u) << log;
  const std::string box =
      "[ERROR in simulation] the Lamm equation solution of s = 0.5 S, D = ";
  EXPECT_NE(log.find("\n" + box), std::string::npos) << log;
  const std::size_t failure = log.find("\nautomation failed: Run: failed (" + box);
  ASSERT_NE(failure, std::string::npos) << log;
  EXPECT_NE(log.find("no solute diffuses that fast", failure), std::string::npos) << log;
}

void NoOutputFolder(const fs::path& dir) { EXPECT_FALSE(fs::exists(dir / "out")); }

// A name of 251 bytes for the flag file: with "out/" the path fills 255 of
// the parameter file's 259 characters, and the name leaves no room for the
// 8 characters a temporary name adds.
const std::string kLongFlagName = std::string(247, 'f') + ".flg";

// The scan text with every line end replaced, or with the third column cut.
std::string Rewritten(const std::string& scan, const std::function<std::string(const std::string&)>& line,
                      const std::string& end) {
  std::istringstream in(scan);
  std::string out, l;
  while (std::getline(in, l)) out += line(l) + end;
  return out;
}

void ForEachScan(const fs::path& dir, const std::function<std::string(const std::string&)>& change) {
  for (int k = 1; k <= kScans; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.RA1", k);
    WriteAll(dir / "data" / name, change(ReadAll(dir / "data" / name)));
  }
}

// Every data row (radius, signal, third column) of every scan rewritten.
void ForEachRow(const fs::path& dir, const std::function<void(double& r, double& signal)>& change) {
  ForEachScan(dir, [&change](const std::string& s) {
    int row = 0;
    return Rewritten(s, [&](const std::string& l) {
      if (++row <= 2) return l;
      std::istringstream in(l);
      double r = 0, v = 0;
      std::string third;
      in >> r >> v >> third;
      change(r, v);
      char text[96];
      std::snprintf(text, sizeof text, "   %.4f  %.5e   %s ", r, v, third.c_str());
      return std::string(text);
    }, "\n");
  });
}

// The run's log holds the text.
void LogHolds(const fs::path& dir, const std::string& text) {
  const std::string log = ReadAll(dir / "out" / "automation.log");
  EXPECT_NE(log.find(text), std::string::npos) << text << "\n--- log:\n" << log;
}

// A header field of line 2 (0: type letter, 3: rpm, 4: time) replaced.
std::string WithHeaderField(const std::string& scan, int field, const std::string& value) {
  const std::size_t l2 = scan.find('\n') + 1, e2 = scan.find('\n', l2);
  std::istringstream in(scan.substr(l2, e2 - l2));
  std::vector<std::string> f;
  for (std::string w; in >> w;) f.push_back(w);
  f[static_cast<std::size_t>(field)] = value;
  std::string header;
  for (const std::string& w : f) header += (header.empty() ? "" : " ") + w;
  return scan.substr(0, l2) + header + scan.substr(e2);
}

// The parameter file with one text replaced.
void EditParameters(const fs::path& dir, const std::string& from, const std::string& to) {
  std::string p = ReadAll(dir / "params.xml");
  p.replace(p.find(from), from.size(), to);
  WriteAll(dir / "params.xml", p);
}

// The featureless rows' cell: meniscus and bottom free over wide limits,
// the baseline floated, one thread.
const std::string kFeaturelessCell =
    "<NumberComputationThreads>1</NumberComputationThreads>\n<MeniscusLowerLimit>5.8</MeniscusLowerLimit>\n"
    "<MeniscusUpperLimit>6.04</MeniscusUpperLimit>\n<Bottom>7.2</Bottom>\n<BottomLowerLimit>7.11</BottomLowerLimit>\n"
    "<BottomUpperLimit>7.6</BottomUpperLimit>\n<BottomFitted>TRUE</BottomFitted>\n<BaselineFitted>TRUE</BaselineFitted>\n";

// How a fit over featureless scans ends.
constexpr const char* kNoMaterialEnd = "Fit ended (undetermined): the data show no sedimenting material beyond the noise";

// Every signal `level`, plus noise of 0.01 drawn from `seed` (none for 0),
// with the meniscus and f/f0 floated as well.
void MakeFeatureless(const fs::path& d, double level, unsigned seed) {
  EditParameters(d, "<MeniscusFitted>FALSE", "<MeniscusFitted>TRUE");
  EditParameters(d, "<FrictionalRatioFitted>FALSE", "<FrictionalRatioFitted>TRUE");
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 0.01);
  ForEachRow(d, [&](double&, double& signal) { signal = level + (seed ? noise(random) : 0.0); });
}

// A fit over scans full of material ended as a fit of its model (at its
// minimum, a limit it names, or a quantity of that model the data leave
// open, as f/f0 of a distribution whose s range lies beside every
// boundary), whatever the distribution took of them.
void MaterialFittedByTheModel(const fs::path& dir) {
  const std::string log = ReadAll(dir / "out" / "automation.log");
  EXPECT_EQ(log.find("no sedimenting material"), std::string::npos) << log;
  const std::string xml = ReadAll(dir / "out" / "ResultParameters.xml");
  EXPECT_TRUE(xml.find("\n<FitEnd>reached</FitEnd>") != std::string::npos ||
              xml.find("\n<FitEnd>limit</FitEnd>") != std::string::npos ||
              xml.find("\n<FitEndNote>the data do not determine f/f0: ") != std::string::npos)
      << xml;
}

// A fit says all it has to say in one box, the one its end line quotes:
// what the regularisation of its result had to say included.
void OneBoxForTheFit(const fs::path& dir) {
  const std::string log = ReadAll(dir / "out" / "automation.log");
  const std::size_t run = log.find("\nRun: done\n"), end = log.find("\nFit ended (");
  ASSERT_NE(run, std::string::npos) << log;
  ASSERT_NE(end, std::string::npos) << log;
  std::vector<std::string> boxes;
  for (std::size_t at = log.find("\n[", run); at != std::string::npos; at = log.find("\n[", at + 1))
    boxes.push_back(log.substr(at + 1, log.find('\n', at + 1) - at - 1));
  ASSERT_EQ(boxes.size(), 1u) << log;
  const std::size_t text = log.find("): ", end) + 3;
  EXPECT_EQ(boxes[0], "[] " + log.substr(text, log.find('\n', text) - text) + " -> OK") << log;
}

// A file of the set holds what its kind must hold to be whole.
void ExpectWhole(const fs::path& file) {
  const std::string name = file.filename().string(), text = ReadAll(file);
  if (name == "distribution.dat" && !text.empty()) {
    // One line per grid point: the case's own resolution where it names one.
    const std::string params = ReadAll(file.parent_path().parent_path() / "params.xml");
    std::smatch m;
    const std::regex element("<Resolution>([0-9]+)</Resolution>");
    const long points = std::regex_search(params, m, element) ? std::stol(m[1]) : kResolution;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), points) << file;
  } else if (name == "ResultParameters.xml") {
    EXPECT_TRUE(text.size() > 14 && text.compare(text.size() - 14, 14, "</cGMPTarnel>\n") == 0) << file;
  } else if (name == "dfr.dat" || name == "TInoise.dat" || name == "RInoise.dat" ||
             name == "ScanRMSD.dat" || name == "ScanRms.dat") {
    EXPECT_TRUE(text.empty() || text.back() == '\n') << file;
  }
}

class UnattendedProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / "unattended";
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Lays out the case's folder (data/, params.xml) and starts the program in it.
  pid_t Start(const Case& c) {
    const fs::path dir = root_ / c.name;
    fs::create_directories(dir / "data");
    fs::create_directories(root_ / (std::string(c.name) + ".home"));
    for (int k = 1; k <= kScans; ++k) {
      char name[16];
      std::snprintf(name, sizeof name, "%05d.RA1", k);
      fs::copy_file(fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / name, dir / "data" / name);
    }
    WriteAll(dir / "params.xml", Parameters(c.parameters));
    if (c.prepare) c.prepare(dir);
    before_[c.name] = Snapshot(dir);
    return StartProgram(dir, root_ / (std::string(c.name) + ".home"), root_ / (std::string(c.name) + ".stderr"),
                        "job 7", "params.xml", c.addressSpace, c.fileSize);
  }

  // The program started in folder with its own stderr file, as a scheduler
  // starts it: `tarnel HANDSHAKE PARAMS`.
  static pid_t StartProgram(const fs::path& folder, const fs::path& home, const fs::path& stderrFile,
                            const std::string& handshakeText, const std::string& paramsPath,
                            rlim_t addressSpace = 0, rlim_t fileSize = 0) {
    const std::string log = stderrFile.string();
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "TARNEL_HOME=" + home.string()};
    for (const char* keep : {"PATH", "TMPDIR", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
      if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string dirText = folder.string();
    std::string handshake = handshakeText, params = paramsPath;
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dirText.c_str()) != 0) _exit(120);
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) _exit(121);
      dup2(fd, 1);
      dup2(fd, 2);
      if (addressSpace) {
        const rlimit l{addressSpace, addressSpace};
        setrlimit(RLIMIT_AS, &l);
      }
      if (fileSize) {
        const rlimit l{fileSize, fileSize};
        setrlimit(RLIMIT_FSIZE, &l);
      }
      char program[] = TARNEL_PROGRAM;
      char* argv[] = {program, handshake.data(), params.data(), nullptr};
      execve(program, argv, envp.data());
      _exit(122);
    }
    return pid;
  }

  // The exit status, or -1 for a child that had to be killed after a minute.
  static int Wait(pid_t pid) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Starts every case at once (so the table costs about one run's time) and
  // judges each by its status, its flag file, what it said and the files it
  // left; the case "plain" is the reference distribution.
  void RunTable(std::vector<Case>& cases) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves terabytes of address space: no limit on it can hold.
    std::erase_if(cases, [](const Case& c) { return c.addressSpace != 0; });
#endif
    std::vector<pid_t> pids;
    for (const Case& c : cases) pids.push_back(Start(c));
    std::vector<int> statuses;
    for (pid_t pid : pids) statuses.push_back(Wait(pid));

    const std::string plain = ReadAll(root_ / "plain" / "out" / "distribution.dat");
    ASSERT_EQ(std::count(plain.begin(), plain.end(), '\n'), kResolution);
    for (std::size_t k = 0; k < cases.size(); ++k) {
      const Case& c = cases[k];
      SCOPED_TRACE(c.name);
      const fs::path dir = root_ / c.name;
      const std::string said = ReadAll(root_ / (std::string(c.name) + ".stderr"));
      EXPECT_EQ(statuses[k], c.status) << said;
      EXPECT_NE(said.find(c.said), std::string::npos) << said;
      EXPECT_EQ(fs::exists(dir / "out" / "done.flag"), c.flag);
      if (c.flag) {
        EXPECT_EQ(ReadAll(dir / "out" / "done.flag"), "job 7");
      }
      // The inputs stay as they were; the run adds nothing beside its output folder.
      std::map<std::string, std::string> after = Snapshot(dir), inputs;
      std::set<std::string> outputs;
      for (const auto& [name, text] : after) {
        if (name.rfind("out", 0) == 0)
          outputs.insert(name);
        else if ((name.rfind("data/sdist.", 0) != 0 && name.rfind("data/~tmppars.", 0) != 0) ||
                 before_[c.name].count(name))
          inputs[name] = text;  // the s-grid and best parameters the analysis keeps beside the scans are no input
      }
      std::map<std::string, std::string> expected;
      for (const auto& [name, text] : before_[c.name])
        if (name.rfind("out", 0) != 0) expected[name] = text;
      EXPECT_EQ(inputs, expected);
      for (const std::string& name : outputs) {
        EXPECT_EQ(fs::path(name).filename().string()[0] == '.', false) << name << " left behind";
        if (fs::is_regular_file(dir / name)) ExpectWhole(dir / name);
      }
      if (c.sameDistribution) {
        EXPECT_EQ(ReadAll(dir / "out" / "distribution.dat"), plain);
      }
      if (c.check) c.check(dir);
      if (c.flag || c.status == 5) {
        const std::string xml = ReadAll(dir / "out" / "ResultParameters.xml");
        EXPECT_EQ(xml.find("<Failure>") == std::string::npos, c.status == 0) << xml;
      }
    }
  }

  fs::path root_;
  std::map<std::string, std::map<std::string, std::string>> before_;
};

TEST_F(UnattendedProcess, EveryCaseEndsWithItsStatusAndOnlyWholeFilesInItsFolder) {
  const std::string oldFlag = "flag of the run before";
  std::vector<Case> cases = {
      {"plain", "", nullptr, 0, true},
      {"threads without bound", "<NumberComputationThreads>2147483647</NumberComputationThreads>\n",
       nullptr, 0, true, "is more than this computer can use", 0, 0, true},
      {"two columns", "",
       [](const fs::path& d) {
         ForEachScan(d, [](const std::string& s) {
           int row = 0;
           return Rewritten(s, [&row](const std::string& l) {
             if (++row <= 2) return l;
             std::istringstream in(l);
             std::string r, v;
             in >> r >> v;
             return "   " + r + "  " + v;
           }, "\n");
         });
       },
       0, true, "", 0, 0, true},
      {"bare carriage returns", "",
       [](const fs::path& d) {
         ForEachScan(d, [](const std::string& s) {
           return Rewritten(s, [](const std::string& l) { return l; }, "\r");
         });
       },
       0, true, "", 0, 0, true},
      {"lower-case extension", "",
       [](const fs::path& d) {
         for (int k = 1; k <= kScans; ++k) {
           char upper[16], lower[16];
           std::snprintf(upper, sizeof upper, "%05d.RA1", k);
           std::snprintf(lower, sizeof lower, "%05d.ra1", k);
           fs::rename(d / "data" / upper, d / "data" / lower);
         }
       },
       0, true, "", 0, 0, true},
      {"file-size limit over an earlier set", "",
       [&oldFlag](const fs::path& d) {
         fs::create_directories(d / "out");
         WriteAll(d / "out" / "done.flag", oldFlag);
         WriteAll(d / "out" / "dfr.dat", "earlier dfr.dat\n");
       },
       5, false, "no flag file written: could not write out/dfr.dat", 0, 64 * 1024},
      {"out of memory", "",
       [](const fs::path& d) {
         // A scan of 96 MB of text under a 256 MB address space.
         std::ofstream big(d / "data" / "00002.RA1", std::ios::binary);
         big << "big scan\nR 1 20.0 50000 1200 3.2899e+10 280 0\n";
         const std::string rows = [] {
           std::string r;
           for (int k = 0; k < 1 << 16; ++k) r += "6.1 0.1 0.0\n";
           return r;
         }();
         for (int k = 0; k < 128; ++k) big << rows;
       },
       6, false, "out of memory in scan loading", 256u << 20},
      {"parameter file is a FIFO", "",
       [](const fs::path& d) {
         fs::remove(d / "params.xml");
         ASSERT_EQ(mkfifo((d / "params.xml").c_str(), 0644), 0);
       },
       2, false, "params.xml rejected: params.xml is not a regular file"},
      {"scan is a FIFO", "",
       [](const fs::path& d) {
         fs::remove(d / "data" / "00004.RA1");
         ASSERT_EQ(mkfifo((d / "data" / "00004.RA1").c_str(), 0644), 0);
       },
       3, true, "not a regular file)\ndata/00004.RA1 -> OK"},
      // The s-grid file the c(s) analysis keeps beside the scans: it may not
      // make the run wait, and not being written is said.
      {"FIFO at the s-grid file", "",
       [](const fs::path& d) { ASSERT_EQ(mkfifo((d / "data" / "sdist.RA1").c_str(), 0644), 0); },
       0, true, "could not write data/sdist.RA1", 0, 0, true},
      // A speed-step file that cannot be used is refused like one that does
      // not fit, whatever it is: a pipe, a folder, empty, or lines ended by CR
      // alone (read as two steps, the second, at 40000 rpm, contradicts the
      // scans at 50000; read as one line it would pass unnoticed).
      {"FIFO at the speed-step file", "",
       [](const fs::path& d) { ASSERT_EQ(mkfifo((d / "data" / "speedsteps.txt").c_str(), 0644), 0); },
       3, true, "the speed-steps file data/speedsteps.txt does not fit the scans (or cannot be read)"},
      {"folder at the speed-step file", "",
       [](const fs::path& d) { fs::create_directories(d / "data" / "speedsteps.txt"); },
       3, true, "data/speedsteps.txt is not a regular file"},
      {"empty speed-step file", "", [](const fs::path& d) { WriteAll(d / "data" / "speedsteps.txt", ""); }, 3, true,
       "the speed-steps file data/speedsteps.txt does not fit the scans (or cannot be read)"},
      {"speed-step file with CR line ends", "",
       [](const fs::path& d) { WriteAll(d / "data" / "speedsteps.txt", "0 50000 200\r5 40000 200\r"); }, 3,
       true, "the speed-steps file data/speedsteps.txt does not fit the scans (or cannot be read)"},
      // The files a fit writes as it goes, beside the scans, in the program
      // folder and in the output folder: pipes there never hold the run. The
      // log goes to stderr alone; the per-scan rmsd file is a result file.
      {"FIFOs where a fit writes", "<AutoFit>TRUE</AutoFit>\n<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>\n",
       [](const fs::path& d) {
         EditParameters(d, "<MeniscusFitted>FALSE", "<MeniscusFitted>TRUE");
         ASSERT_EQ(mkfifo((d / "data" / "~tmppars.RA1").c_str(), 0644), 0);
         ASSERT_EQ(mkfifo((fs::path(d.string() + ".home") / "mlparams.txt").c_str(), 0644), 0);
         fs::create_directories(d / "out");
         ASSERT_EQ(mkfifo((d / "out" / "automation.log").c_str(), 0644), 0);
         ASSERT_EQ(mkfifo((d / "out" / "ScanRms.dat").c_str(), 0644), 0);
       },
       5, false, "no flag file written: could not write out/ScanRms.dat"},

      // Featureless scans (0.5 + noise of 0.01) with f/f0, meniscus, bottom
      // and baseline floated by Levenberg-Marquardt on one thread: f/f0
      // would walk up for almost no fall of the rmsd, every evaluation
      // slower than the last. The distribution lowers chi-square no more
      // than its amplitudes do by fitting noise: the fit ends at once by
      // itself, status 0, and the log says that the data show no material
      // and do not determine the quantities fitted.
      {"featureless scans", "<AutoFit>TRUE</AutoFit>\n<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>\n" + kFeaturelessCell,
       [](const fs::path& d) { MakeFeatureless(d, 0.5, 5); }, 0, true, kNoMaterialEnd},
      // The same by the simplex on scans of every value 0.5 (a blank cell the
      // TI noise takes whole: an exact fit, rmsd 0) and of noise alone, by
      // Levenberg-Marquardt on the first two scans (600 and 900 s), and by
      // the simplex on the first and the last (35 minutes apart).
      {"flat scans by the simplex", "<AutoFit>TRUE</AutoFit>\n" + kFeaturelessCell,
       [](const fs::path& d) { MakeFeatureless(d, 0.5, 0); }, 0, true, kNoMaterialEnd},
      {"noise alone by the simplex", "<AutoFit>TRUE</AutoFit>\n" + kFeaturelessCell,
       [](const fs::path& d) { MakeFeatureless(d, 0.0, 3); }, 0, true, kNoMaterialEnd},
      {"two featureless scans",
       "<AutoFit>TRUE</AutoFit>\n<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>\n<LastScan>2</LastScan>\n" +
           kFeaturelessCell,
       [](const fs::path& d) { MakeFeatureless(d, 0.5, 7); }, 0, true, kNoMaterialEnd},
      {"the first and the last featureless scan by the simplex",
       "<AutoFit>TRUE</AutoFit>\n" + kFeaturelessCell,
       [](const fs::path& d) {
         EditParameters(d, "<ScanInterval>1<", "<ScanInterval>" + std::to_string(kScans - 1) + "<");
         MakeFeatureless(d, 0.5, 9);
       },
       0, true, kNoMaterialEnd},
      // The example's scans, full of material, with a model that takes none
      // of it: an s range beside their boundaries, or a grid of two points.
      // The noise terms alone leave an rmsd of about 0.1 for noise of about
      // 0.005: the fit ends as a fit of that model, never as data showing
      // no material.
      {"material beside the s range",
       "<AutoFit>TRUE</AutoFit>\n<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>\n<Smax>50</Smax>\n",
       [](const fs::path& d) {
         EditParameters(d, "<FrictionalRatioFitted>FALSE", "<FrictionalRatioFitted>TRUE");
         EditParameters(d, "<Smin>0.5<", "<Smin>20<");
       },
       0, true, "Fit ended (", 0, 0, false, MaterialFittedByTheModel},
      {"material on a grid of two points",
       "<AutoFit>TRUE</AutoFit>\n<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>\n<Resolution>2</Resolution>\n",
       [](const fs::path& d) { EditParameters(d, "<FrictionalRatioFitted>FALSE", "<FrictionalRatioFitted>TRUE"); },
       0, true, "Fit ended (", 0, 0, false, MaterialFittedByTheModel},
      // The first scan and one 3 hours later, featureless, by the simplex
      // with Tikhonov-Phillips regularisation: its search of alpha mostly
      // ends short of the ratio for the fit's result (the simplex starts from
      // a draw seeded by the clock), which the fit's one box then says.
      {"featureless scans 3 hours apart, Tikhonov-Phillips",
       "<AutoFit>TRUE</AutoFit>\n<RegularizationType>Tikhonov</RegularizationType>\n",
       [](const fs::path& d) {
         fs::copy_file(fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / "00036.RA1", d / "data" / "00008.RA1",
                       fs::copy_options::overwrite_existing);
         EditParameters(d, "<ScanInterval>1<", "<ScanInterval>" + std::to_string(kScans - 1) + "<");
         MakeFeatureless(d, 0.5, 2);
       },
       0, true, kNoMaterialEnd, 0, 0, false, OneBoxForTheFit},
      // The same scans (another draw) through a Run with maximum entropy: the
      // ratio stays the same over 101 steps of its search of alpha, which
      // says so in its error box and keeps the solution nearest the ratio.
      // That is a result at the search's limit, said in the log and the
      // result file, not a failed Run.
      {"featureless scans 3 hours apart, maximum entropy at its limit",
       "<RegularizationType>maxent</RegularizationType>\n" + kFeaturelessCell,
       [](const fs::path& d) {
         fs::copy_file(fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / "00036.RA1", d / "data" / "00008.RA1",
                       fs::copy_options::overwrite_existing);
         EditParameters(d, "<ScanInterval>1<", "<ScanInterval>" + std::to_string(kScans - 1) + "<");
         MakeFeatureless(d, 0.5, 3);
       },
       0, true,
       "Run ended at a limit of the regularization: the regularization did not reach the chi-square ratio ",
       0, 0, false,
       [](const fs::path& d) {
         LogHolds(d, "\n[Error] problem with regularization, caught at P = ");
         LogHolds(d, "its search of alpha met the same ratio 101 times in a row (problem with regularization, "
                     "caught at P = ");
         const std::string xml = ReadAll(d / "out" / "ResultParameters.xml");
         EXPECT_NE(xml.find("\n<RegularizationLimit>the regularization did not reach the chi-square ratio "),
                   std::string::npos)
             << xml;
       }},
      // Scans of a cell whose meniscus lies at 6.08 cm fitted within 6.00 to
      // 6.04 cm: the window's report and its wizard's notes go to the log.
      {"meniscus beyond its limits", "<AutoFit>TRUE</AutoFit>\n<MeniscusLowerLimit>6.00</MeniscusLowerLimit>\n"
       "<MeniscusUpperLimit>6.04</MeniscusUpperLimit>\n",
       [](const fs::path& d) {
         EditParameters(d, "<MeniscusFitted>FALSE", "<MeniscusFitted>TRUE");
         ForEachRow(d, [](double& r, double&) { r += 0.06; });
       },
       0, true, "Fit: done", 0, 0, false,
       [](const fs::path& d) {
         LogHolds(d, "\nFit: Meniscus = 6.040000  (at its upper fit limit 6.0400)\n");
         LogHolds(d, "\nFit: Runs test Z (#stddev) = ");
         LogHolds(d, "\nFit: [Help Wizard] Meniscus estimate has reached max/min value.");
         LogHolds(d, "\nFit: [Help Wizard] Residuals close to meniscus are significantly larger than elsewhere.");
       }},

      // The program folder's preference and table files: whatever stands
      // there, the run goes on with the defaults and says which it passed over.
      {"program folder of named pipes", "",
       [](const fs::path& d) {
         for (const char* name : kProgramFolderFiles)
           ASSERT_EQ(mkfifo((fs::path(d.string() + ".home") / name).c_str(), 0644), 0) << name;
       },
       0, true, "tarnelparams.ini is not a regular file", 0, 0, true},
      {"program folder linked to /dev/zero", "",
       [](const fs::path& d) {
         for (const char* name : kProgramFolderFiles)
           fs::create_symlink("/dev/zero", fs::path(d.string() + ".home") / name);
       },
       0, true, "tarnelsimappeqparams.ini is not a regular file", 0, 0, true},
      {"program folder of link loops", "",
       [](const fs::path& d) {
         const fs::path home(d.string() + ".home");
         for (const char* name : kProgramFolderFiles) {
           fs::create_symlink(home / (std::string(name) + ".b"), home / name);
           fs::create_symlink(home / name, home / (std::string(name) + ".b"));
         }
       },
       0, true, "could not open", 0, 0, true},
      {"zero-width s-range", "<Smax>0.5</Smax>\n", nullptr, 2, false,
       "rejected: Smin (0.5) must be below Smax (0.5)"},
      {"no viscosity", "<BufferViscosity>0</BufferViscosity>\n", nullptr, 2, false,
       "rejected: BufferViscosity (0) must be above 0"},
      // Numbers no sample or rotor can have: refused by name before anything
      // is written (a NaN Vbar once ran to a status 0 with a wandering fit).
      {"Vbar not a number", "<Vbar>nan</Vbar>\n", nullptr, 2, false, "rejected: Vbar (nan) must be above 0"},
      {"Vbar 0", "<Vbar>0</Vbar>\n", nullptr, 2, false, "rejected: Vbar (0) must be above 0"},
      {"negative Vbar", "<Vbar>-0.5</Vbar>\n", nullptr, 2, false, "rejected: Vbar (-0.5) must be above 0"},
      {"Vbar of -1e38", "<Vbar>-1e38</Vbar>\n", nullptr, 2, false, "rejected: Vbar (-1e+38) must be above 0"},
      {"Vbar of 1e38", "<Vbar>1e38</Vbar>\n", nullptr, 2, false, "rejected: Vbar (1e+38) must be at most 10"},
      // A Vbar above 0 but of no sample: the species of the frictional ratio
      // have no volume and diffuse beyond any solute, which no Lamm solution
      // computes. The run fails, and says why (it said "error #3" of a
      // singular matrix there was not).
      // One box says so, on worker threads or on the calling one, and the
      // failure line carries its words (not an "error #8" of the list, a
      // "user interrupt" or a "discretization error" beside it).
      {"Vbar of 1e-30", "<Vbar>1e-30</Vbar>\n", nullptr, 4, true, "no solute diffuses that fast", 0, 0, false,
       OneAmountNotKeptBox},
      {"Vbar of 1e-30 on one thread", "<Vbar>1e-30</Vbar>\n<NumberComputationThreads>1</NumberComputationThreads>\n",
       nullptr, 4, true, "no solute diffuses that fast", 0, 0, false, OneAmountNotKeptBox},
      {"confidence level not a number", "<RegularizationPvalue>nan</RegularizationPvalue>\n", nullptr, 2, false,
       "rejected: RegularizationPvalue (nan) must be at least 0"},
      {"infinite confidence level", "<RegularizationPvalue>inf</RegularizationPvalue>\n", nullptr, 2, false,
       "rejected: RegularizationPvalue (inf) must be at least 0"},
      {"confidence level of -1e38", "<RegularizationPvalue>-1e38</RegularizationPvalue>\n", nullptr, 2, false,
       "rejected: RegularizationPvalue (-1e+38) must be at least 0"},
      {"chi-square ratio above 100", "<RegularizationPvalue>150</RegularizationPvalue>\n", nullptr, 2, false,
       "rejected: RegularizationPvalue (150) must be at most 100"},
      {"meniscus beyond the bottom", "<Bottom>5.9</Bottom>\n", nullptr, 2, false,
       "rejected: Meniscus (6.01) must be below Bottom (5.9)"},
      {"meniscus limits crossed", "<MeniscusLowerLimit>6.1</MeniscusLowerLimit>\n<MeniscusUpperLimit>6.0</MeniscusUpperLimit>\n",
       nullptr, 2, false, "rejected: MeniscusLowerLimit (6.1) must not be above MeniscusUpperLimit (6)"},
      {"infinite fit limit", "", [](const fs::path& d) { EditParameters(d, "<RightFitLimit>7.1<", "<RightFitLimit>inf<"); },
       2, false, "rejected: RightFitLimit (inf) must be at least 0"},
      {"spike threshold not a number", "<DataSpikeThreshold>nan</DataSpikeThreshold>\n", nullptr, 2, false,
       "rejected: DataSpikeThreshold (nan) must be above 0"},
      {"viscosity of 1e30 poise", "<BufferViscosity>1e30</BufferViscosity>\n", nullptr, 2, false,
       "rejected: BufferViscosity (1e+30) must be at most 100"},
      {"s beyond any molar mass", "<Smax>1e30</Smax>\n", nullptr, 2, false,
       "rejected: Smax (1e+30 S) gives no finite molar mass"},
      // A model the run does not know once ran, wrote a set and ended with 4.
      {"unknown model", "",
       [](const fs::path& d) { EditParameters(d, "<Model>cofs<", "<Model>COFS<"); }, 2, false,
       "rejected: Model (\"COFS\") must be cofs or lsgofs"},
      {"flag names a scan", "",
       [](const fs::path& d) {
         std::string p = ReadAll(d / "params.xml");
         p.replace(p.find("out/done.flag"), 13, "data/00003.RA1");
         WriteAll(d / "params.xml", p);
       },
       2, false, "rejected: AllDoneFlagFile names the input data/00003.RA1"},
      {"rotor at rest", "",
       [](const fs::path& d) {
         ForEachScan(d, [](const std::string& s) { return WithHeaderField(s, 3, "0"); });
       },
       3, true, "scan data/00001.RA1 was taken at rotor speed 0"},
      {"negative times", "",
       [](const fs::path& d) {
         ForEachScan(d, [](const std::string& s) { return WithHeaderField(s, 4, "-600"); });
       },
       3, true, "scan data/00001.RA1 has a negative time"},
      {"endless scan range", "<LastScan>2147483647</LastScan>\n", nullptr, 3, true,
       "scan range not usable"},
      // A flag file that cannot be written fails the run like any result file.
      {"flag file in a folder that does not exist", "",
       [](const fs::path& d) { EditParameters(d, "out/done.flag", "nodir/alldone.flag"); },
       5, false, "no flag file written: could not write \"nodir/alldone.flag\""},
      {"flag file without a name", "",
       [](const fs::path& d) { EditParameters(d, "out/done.flag", ""); },
       5, false, "no flag file written: could not write \"\""},
      // Speed steps that contradict the scans (all at 50000 rpm, the second
      // step after the last scan; the first ramp overlaps the second step):
      // refused, never repaired beside the scans.
      {"speed steps that do not fit the scans", "",
       [](const fs::path& d) {
         WriteAll(d / "data" / "speedsteps.txt", "0 3000 200\n5 10000 200\n100000 50000 200\n");
       },
       3, true, "the speed-steps file data/speedsteps.txt does not fit the scans"},
      // The best meniscus (6.02 cm) lies below the limits: the Simplex fit of
      // meniscus and f/f0 ends at the lower limit.
      {"meniscus optimum below its limits", "<AutoFit>TRUE</AutoFit>\n",
       [](const fs::path& d) {
         EditParameters(d, "<MeniscusFitted>FALSE", "<MeniscusFitted>TRUE");
         EditParameters(d, "<FrictionalRatioFitted>FALSE", "<FrictionalRatioFitted>TRUE");
         EditParameters(d, "<Meniscus>6.01</Meniscus>",
                        "<Meniscus>6.035</Meniscus>\n<MeniscusLowerLimit>6.03</MeniscusLowerLimit>\n"
                        "<MeniscusUpperLimit>6.04</MeniscusUpperLimit>");
       },
       0, true, "Fit: done"},
  };
  RunTable(cases);
  {
    // The Simplex starts from a clock-seeded scatter: the meniscus lies
    // within its limits, at or near the lower one.
    const std::string xml = ReadAll(root_ / "meniscus optimum below its limits" / "out" / "ResultParameters.xml");
    const std::size_t at = xml.find("<Meniscus>");
    ASSERT_NE(at, std::string::npos) << xml;
    const double meniscus = std::atof(xml.c_str() + at + 10);
    EXPECT_GE(meniscus, 6.03 - 1e-6) << xml;
    EXPECT_LE(meniscus, 6.04 + 1e-6) << xml;
  }
  // The earlier run's files are never vouched for, and never replaced by cut ones.
  EXPECT_EQ(ReadAll(root_ / "file-size limit over an earlier set" / "out" / "dfr.dat"),
            "earlier dfr.dat\n");
  // Pipes at the names the run writes stay pipes, the log is said elsewhere.
  const fs::path piped = root_ / "FIFOs where a fit writes";
  for (const fs::path& p : {piped / "data" / "~tmppars.RA1", piped / "out" / "automation.log",
                            piped / "out" / "ScanRms.dat", fs::path(piped.string() + ".home") / "mlparams.txt"})
    EXPECT_TRUE(fs::is_fifo(p)) << p;
  const std::string pipedLog = ReadAll(root_ / "FIFOs where a fit writes.stderr");
  for (const char* said : {"could not open out/automation.log", "could not open", "~tmppars.RA1",
                           "mlparams.txt", "Fit: done"})
    EXPECT_NE(pipedLog.find(said), std::string::npos) << said << "\n" << pipedLog;
  EXPECT_TRUE(fs::exists(root_ / "plain" / "out" / "ScanRms.dat"));
}

// Whatever stands at the names a run writes, no input of the run is ever
// written: a link at the log's name is replaced like one at a result's.
// Grids no analysis can use, or too large for the computer, refuse the
// parameter file before anything is written; nothing is ever written beside
// the scans that a later run would read as the user's.
TEST_F(UnattendedProcess, InputsStayUntouchedAndUnusableGridsAreRefusedFirst) {
  std::vector<Case> cases = {
      {"plain", "", nullptr, 0, true},
      // Links at the log's name to each input of the run: the log replaces
      // the link and never writes through it (the inputs are compared below).
      {"log linked to the parameter file", "",
       [](const fs::path& d) { LinkLog(d, d / "params.xml", false); }, 0, true, "", 0, 0, true, LogIsItsOwnFile},
      {"log hard-linked to the parameter file", "",
       [](const fs::path& d) { LinkLog(d, d / "params.xml", true); }, 0, true, "", 0, 0, true, LogIsItsOwnFile},
      {"log linked to a scan", "",
       [](const fs::path& d) { LinkLog(d, d / "data" / "00003.RA1", false); }, 0, true, "", 0, 0, true,
       LogIsItsOwnFile},
      {"log hard-linked to a scan", "",
       [](const fs::path& d) { LinkLog(d, d / "data" / "00003.RA1", true); }, 0, true, "", 0, 0, true,
       LogIsItsOwnFile},
      {"log linked to the speed steps", "",
       [](const fs::path& d) {
         WriteAll(d / "data" / "speedsteps.txt", "0\t50000\t200\n");
         LinkLog(d, d / "data" / "speedsteps.txt", false);
       },
       0, true, "", 0, 0, false, LogIsItsOwnFile},
      {"log hard-linked to the grid file", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) {
         WriteAll(d / "data" / "sdist.RA1", GridText(kResolution, 0.5, 12));
         LinkLog(d, d / "data" / "sdist.RA1", true);
       },
       0, true, "", 0, 0, false, LogIsItsOwnFile},
      {"log linked to a program-folder file", "",
       [](const fs::path& d) {
         WriteAll(Home(d) / "tarnel.ini", "/the/last/folder/\n");
         fs::create_directories(d / "out");
         fs::create_symlink(Home(d) / "tarnel.ini", d / "out" / "automation.log");
       },
       0, true, "", 0, 0, true,
       [](const fs::path& d) {
         LogIsItsOwnFile(d);
         EXPECT_EQ(ReadAll(Home(d) / "tarnel.ini"), "/the/last/folder/\n");
       }},
      // Headers with w2t 0: a low-speed phase before full acceleration? Nobody
      // can say, so nothing is written beside the scans (a speedsteps.txt
      // there would refuse every later run), a user's own file included.
      {"low-speed phase without speed steps", "",
       [](const fs::path& d) {
         ForEachScan(d, [](const std::string& s) { return WithHeaderField(s, 5, "0"); });
       },
       4, true, "no speedsteps.txt is written without a person"},
      {"low-speed phase beside the user's speed steps", "",
       [](const fs::path& d) {
         ForEachScan(d, [](const std::string& s) { return WithHeaderField(s, 5, "0"); });
         WriteAll(d / "data" / "speedsteps.txt", "0\t50000\t200\n");
       },
       4, true, "no speedsteps.txt is written without a person"},
      // Grid files no distribution can be computed on: refused like equal s
      // limits, before anything is written.
      {"grid file of one value repeated", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { WriteAll(d / "data" / "sdist.RA1", Repeated("5\n", 50)); }, 2, false,
       "rejected: GridfromFile: the grid data/sdist.RA1 cannot be used: value 2 (5) is not above value 1 (5)"},
      {"grid file of zeros", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { WriteAll(d / "data" / "sdist.RA1", Repeated("0\n", 100)); }, 2, false,
       "value 2 (0) is not above value 1 (0)"},
      {"grid file of one value", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { WriteAll(d / "data" / "sdist.RA1", "5\n"); }, 2, false,
       "it holds 1 s-value, a grid needs at least two"},
      {"descending grid file", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { WriteAll(d / "data" / "sdist.RA1", GridText(kResolution, 12, 0.5)); }, 2, false,
       "the s-values must increase"},
      {"grid file beyond any molar mass", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { WriteAll(d / "data" / "sdist.RA1", "1\n2\n1e30\n"); }, 2, false,
       "value 3 (1e+30 S) gives no finite molar mass"},
      {"FIFO at the grid file read", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { ASSERT_EQ(mkfifo((d / "data" / "sdist.RA1").c_str(), 0644), 0); }, 2, false,
       "cannot read the grid data/sdist.RA1: data/sdist.RA1 is not a regular file"},
      {"empty grid file", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { WriteAll(d / "data" / "sdist.RA1", ""); }, 2, false,
       "cannot read the grid data/sdist.RA1: it holds no number"},
      {"folder at the grid file read", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { fs::create_directories(d / "data" / "sdist.RA1"); }, 2, false,
       "data/sdist.RA1 is not a regular file"},
      {"grid file of increasing values", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { WriteAll(d / "data" / "sdist.RA1", GridText(kResolution, 0.5, 12)); }, 0, true},
      // A run that runs by itself without its analysis is refused before the
      // output folder is made.
      {"no model", "", [](const fs::path& d) { EditParameters(d, "<Model>cofs</Model>\n", ""); }, 2, false,
       "rejected: element Model is missing (AutoRun needs a model)", 0, 0, false, NoOutputFolder},
      {"empty model", "", [](const fs::path& d) { EditParameters(d, "<Model>cofs</Model>", "<Model></Model>"); }, 2,
       false, "rejected: Model (\"\") must be cofs or lsgofs (AutoRun needs a model)", 0, 0, false, NoOutputFolder},
      {"model without a value", "", [](const fs::path& d) { EditParameters(d, "<Model>cofs</Model>", "<Model/>"); },
       2, false, "rejected: element Model cannot be read", 0, 0, false, NoOutputFolder},
      // Sizes whose work storage no computer here has: refused with the
      // figures before anything is allocated.
      {"resolution beyond any computer", "<Resolution>1000000</Resolution>\n", nullptr, 2, false,
       "rejected: Resolution: 1000000 grid points need 104004"},
      {"resolution beyond a 3 GB limit", "<Resolution>20000</Resolution>\n", nullptr, 2, false,
       "GB of work storage over 8 scans, more than the", 3ull << 30},
      {"grid file beyond a 3 GB limit", "<GridfromFile>TRUE</GridfromFile>\n",
       [](const fs::path& d) { WriteAll(d / "data" / "sdist.RA1", GridText(20000, 0.5, 12)); }, 2, false,
       "rejected: GridfromFile: 20000 grid points need", 3ull << 30},
      // Names as long as the folder takes are written; a result kept
      // read-only stays so when it is rewritten.
      {"flag file of a 251-byte name", "",
       [](const fs::path& d) { EditParameters(d, "out/done.flag", "out/" + kLongFlagName); }, 0, false, "", 0, 0,
       true,
       [](const fs::path& d) {
         EXPECT_EQ(ReadAll(d / "out" / kLongFlagName), "job 7");
         EXPECT_EQ(ReadAll(d / "out" / "ResultParameters.xml").find("<Failure>"), std::string::npos);
       }},
      {"results kept read-only", "",
       [](const fs::path& d) {
         fs::create_directories(d / "out");
         WriteAll(d / "out" / "distribution.dat", "earlier\n");
         fs::permissions(d / "out" / "distribution.dat", fs::perms::owner_read);
       },
       0, true, "", 0, 0, true,
       [](const fs::path& d) {
         EXPECT_EQ(fs::status(d / "out" / "distribution.dat").permissions(), fs::perms::owner_read);
       }},
      // What the result file encodes is read back decoded: a text and a path
      // with & and < keep their characters across a reuse of the file.
      {"entities in the parameter file", "",
       [](const fs::path& d) {
         fs::create_directories(d / "out");
         EditParameters(d, "<PassThrough>table<", "<PassThrough>a &amp; b &lt;c&gt; &amp;amp;<");
         EditParameters(d, "<OutputResultsDirectory>out<", "<OutputResultsDirectory>out &amp; &lt;more&gt;<");
       },
       0, true, "", 0, 0, false,
       [](const fs::path& d) {
         EXPECT_EQ(ReadAll(d / "out & <more>" / "distribution.dat"),
                   ReadAll(d.parent_path() / "plain" / "out" / "distribution.dat"));
         const std::string xml = ReadAll(d / "out & <more>" / "ResultParameters.xml");
         EXPECT_NE(xml.find("<PassThrough>a &amp; b &lt;c&gt; &amp;amp;</PassThrough>"), std::string::npos) << xml;
         EXPECT_NE(xml.find("<CofsDataPath>out &amp; &lt;more&gt;/distribution.dat</CofsDataPath>"), std::string::npos)
             << xml;
       }},
      // ls-g*(s) has no f/f0: the summary says what was done, not what was asked.
      {"ls-g*(s) with the f/f0 switch on", "",
       [](const fs::path& d) {
         EditParameters(d, "<Model>cofs<", "<Model>lsgofs<");
         EditParameters(d, "<FrictionalRatioFitted>FALSE", "<FrictionalRatioFitted>TRUE");
       },
       0, true, "Run: done", 0, 0, false,
       [](const fs::path& d) {
         const std::string xml = ReadAll(d / "out" / "ResultParameters.xml");
         EXPECT_NE(xml.find("<Model>lsgofs</Model>"), std::string::npos) << xml;
         EXPECT_NE(xml.find("<FrictionalRatioFitted>FALSE</FrictionalRatioFitted>"), std::string::npos) << xml;
       }},
      // A speed no rotor reaches, on a step after the last scan: refused by
      // the loader like any file that does not fit.
      {"speed steps at 1e38 rpm", "",
       [](const fs::path& d) { WriteAll(d / "data" / "speedsteps.txt", "0\t50000\t200\n100000\t1e38\t200\n"); }, 3,
       true, "bad speedstep data in data/speedsteps.txt"},
  };
  RunTable(cases);
}

// The work storage a Run and a Fit are judged by is what they take: the
// peak resident memory of runs over a range of grids and scan counts, less
// that of a run of 10 grid points over as many scans (the program, its
// plots and the scans), is within a quarter of the storage the run's log
// gives, less that of the small run. Maximum entropy with the meniscus
// fitted by Levenberg-Marquardt, and Tikhonov with f/f0 by Simplex.
TEST_F(UnattendedProcess, TheWorkStorageJudgedIsWhatARunAndAFitTakeAtTheirPeak) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory is no storage of the analysis";
#else
  struct Size {
    int points, scans;
    bool tikhonov;
  };
  const std::vector<Size> sizes = {{10, 8, false},  {300, 8, false}, {900, 8, false}, {10, 30, false},
                                   {400, 30, false}, {900, 30, false}, {10, 30, true}, {700, 30, true}};
  std::vector<pid_t> pids;
  for (const Size& z : sizes) {
    const std::string name = std::to_string(z.points) + "x" + std::to_string(z.scans) + (z.tikhonov ? "T" : "");
    const fs::path d = root_ / name;
    fs::create_directories(d / "data");
    fs::create_directories(Home(d));
    for (int k = 1; k <= z.scans; ++k) {
      char scan[16];
      std::snprintf(scan, sizeof scan, "%05d.RA1", k);
      fs::copy_file(fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / scan, d / "data" / scan);
    }
    std::string p = Parameters("<Resolution>" + std::to_string(z.points) + "</Resolution>\n<LastScan>" +
                               std::to_string(z.scans) + "</LastScan>\n<AutoFit>TRUE</AutoFit>\n" +
                               // One thread: what workers hold at once depends on how the
                               // scheduler overlaps them, and a loaded machine moved the peak.
                               "<NumberComputationThreads>1</NumberComputationThreads>\n" +
                               (z.tikhonov ? "<RegularizationType>Tikhonov</RegularizationType>\n"
                                             "<FittingAlgorithm>Simplex</FittingAlgorithm>\n"
                                           : "<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>\n"));
    p.replace(p.find(z.tikhonov ? "<FrictionalRatioFitted>FALSE" : "<MeniscusFitted>FALSE"), 21,
              z.tikhonov ? "<FrictionalRatioFitted>TRUE" : "<MeniscusFitted>TRUE");
    WriteAll(d / "params.xml", p);
    pids.push_back(StartProgram(d, Home(d), root_ / (name + ".stderr"), "job 7", "params.xml"));
  }
  // Each child's own high-water mark, read while it runs: the kernel's
  // maximum resident size of a child (wait4) keeps the forked copy of this
  // test process from before the exec, which in a long test program is
  // larger than a small analysis.
  std::vector<double> peak(sizes.size(), 0.0), judged;
  std::vector<int> statuses(sizes.size(), 0);
  std::vector<bool> running(sizes.size(), true);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  for (std::size_t left = sizes.size(); left > 0;) {
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      if (!running[k]) continue;
      // Only once the child runs the program (before its exec it is still
      // this process's copy).
      const std::string proc = "/proc/" + std::to_string(pids[k]);
      std::string comm;
      std::getline(std::ifstream(proc + "/comm"), comm);
      std::ifstream status(proc + "/status");
      for (std::string line; comm == "tarnel" && std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) peak[k] = std::max(peak[k], std::stod(line.substr(6)) * 1024.0);
      if (waitpid(pids[k], &statuses[k], WNOHANG) != 0) {
        running[k] = false;
        --left;
      } else if (std::chrono::steady_clock::now() > until) {
        kill(pids[k], SIGKILL);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    const int status = statuses[k];
    const std::string name =
        std::to_string(sizes[k].points) + "x" + std::to_string(sizes[k].scans) + (sizes[k].tikhonov ? "T" : "");
    const std::string said = ReadAll(root_ / (name + ".stderr"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name << "\n" << said;
    EXPECT_NE(said.find("Fit: done"), std::string::npos) << name << "\n" << said;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(said, m, std::regex("work storage of the analysis: ([0-9.]+) MB"))) << said;
    judged.push_back(std::stod(m[1].str()) * 1e6);
  }
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    if (sizes[k].points == 10) continue;
    std::size_t base = 0;
    while (!(sizes[base].points == 10 && sizes[base].scans == sizes[k].scans &&
             sizes[base].tikhonov == sizes[k].tikhonov))
      ++base;
    const double taken = peak[k] - peak[base], counted = judged[k] - judged[base];
    EXPECT_NEAR(taken / counted, 1.0, 0.25)
        << sizes[k].points << " points, " << sizes[k].scans << " scans: " << taken / 1e6 << " MB taken, " << counted / 1e6
        << " MB judged";
  }
#endif
}

// Under a limit on the address space, grids from well within to far beyond
// it: each either runs to its end or is refused with its figures before
// anything is allocated; none passes the check and then fails on an
// allocation (status 6, or a work block that could not be had). Then the
// grids the Run takes nearest the bound (found in steps of 100 and of 10
// grid points) are run and fitted: the Run leaves heap mapped that its own
// check did not see, and none of them may be refused by the Fit. One worker:
// the threads not started yet count with their arenas.
TEST_F(UnattendedProcess, AGridThatPassesTheMemoryCheckIsRunAndFittedWithoutAFailedAllocation) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer reserves terabytes of address space: no limit on it can hold";
#else
  // Runs the grids at once; the status and what each said.
  auto run = [&](const std::vector<int>& grids, bool fit) {
    std::vector<pid_t> pids;
    for (int n : grids) {
      const fs::path d = root_ / ("grid" + std::to_string(n) + (fit ? "fit" : ""));
      fs::remove_all(d);
      fs::create_directories(d / "data");
      fs::create_directories(Home(d));
      for (int k = 1; k <= kScans; ++k) {
        char scan[16];
        std::snprintf(scan, sizeof scan, "%05d.RA1", k);
        fs::copy_file(fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / scan, d / "data" / scan);
      }
      WriteAll(d / "params.xml", Parameters("<Resolution>" + std::to_string(n) + "</Resolution>\n<AutoFit>" +
                                            (fit ? "TRUE" : "FALSE") +
                                            "</AutoFit>\n<NumberComputationThreads>1</NumberComputationThreads>\n"));
      pids.push_back(StartProgram(d, Home(d), d.string() + ".stderr", "job 7", "params.xml", 512ull << 20));
    }
    std::vector<std::pair<int, std::string>> outcomes;
    for (std::size_t k = 0; k < grids.size(); ++k) {
      int status = 0;
      waitpid(pids[k], &status, 0);  // each run ends by itself: the largest grid takes seconds
      const fs::path d = root_ / ("grid" + std::to_string(grids[k]) + (fit ? "fit" : ""));
      const std::string said = ReadAll(d.string() + ".stderr");
      SCOPED_TRACE(grids[k]);
      const bool refusal = said.find("take fewer grid points") != std::string::npos;
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      EXPECT_TRUE(code == 0 || ((code == 2 || code == 4) && refusal)) << code << "\n" << said;
      EXPECT_EQ(said.find("allocation failure"), std::string::npos) << said;
      EXPECT_EQ(said.find("out of memory"), std::string::npos) << said;
      outcomes.emplace_back(code, said);
    }
    return outcomes;
  };
  // The largest of the grids whose Run was done.
  auto largestRun = [](const std::vector<int>& grids, const std::vector<std::pair<int, std::string>>& o) {
    int largest = 0;
    for (std::size_t k = 0; k < grids.size(); ++k)
      if (o[k].first == 0 && o[k].second.find("Run: done") != std::string::npos) largest = grids[k];
    return largest;
  };
  std::vector<int> coarse;
  for (int n = 400; n <= 3000; n += 100) coarse.push_back(n);
  const int ran = largestRun(coarse, run(coarse, false));
  // The sizes reach from one side of the bound to the other.
  ASSERT_GT(ran, 0);
  ASSERT_LT(ran, coarse.back());
  std::vector<int> fine;
  for (int n = ran + 10; n < ran + 100; n += 10) fine.push_back(n);
  const int nearest = std::max(ran, largestRun(fine, run(fine, false)));
  const std::vector<int> nearBound = {nearest - 6, nearest - 3, nearest};
  const std::vector<std::pair<int, std::string>> fitted = run(nearBound, true);
  int fits = 0;
  for (std::size_t k = 0; k < nearBound.size(); ++k) {
    SCOPED_TRACE(nearBound[k]);
    const std::string& said = fitted[k].second;
    if (said.find("Run: done") == std::string::npos) continue;  // refused by the Run: the grid is not taken
    EXPECT_EQ(fitted[k].first, 0) << said;
    EXPECT_NE(said.find("Fit: done"), std::string::npos) << said;
    ++fits;
  }
  EXPECT_GT(fits, 0);
#endif
}

// Many data sets as independent runs under a scheduler: one parameter file
// per data folder made from a template by scripts/make-batch-params.sh, all
// runs started at once on one program folder, each judged by its status.
TEST_F(UnattendedProcess, BatchRunsShareOneProgramFolderAndRepeatEachOtherExactly) {
  const std::vector<std::string> sets = {"first", "second", "blocked home"};
  for (const std::string& set : sets) {
    fs::create_directories(root_ / "data" / set);
    for (int k = 1; k <= kScans; ++k) {
      char name[16];
      std::snprintf(name, sizeof name, "%05d.RA1", k);
      fs::copy_file(fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / name, root_ / "data" / set / name);
    }
  }
  std::string parameters = Parameters(
      "<AutoFit>TRUE</AutoFit>\n<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>\n"
      "<NumberComputationThreads>1</NumberComputationThreads>\n");
  parameters.replace(parameters.find("<MeniscusFitted>FALSE"), 21, "<MeniscusFitted>TRUE");
  WriteAll(root_ / "template.xml", parameters);
  const std::string make = "cd '" + root_.string() + "' && '" + TARNEL_SOURCE_DIR +
                           "/scripts/make-batch-params.sh' template.xml sets 'data/first' 'data/second' "
                           "'data/blocked home' data/missing 2> make.stderr";
  ASSERT_EQ(std::system(make.c_str()), 0);
  EXPECT_NE(ReadAll(root_ / "make.stderr").find("warning: data/missing is not a folder"), std::string::npos);
  std::vector<std::string> list;
  {
    std::istringstream in(ReadAll(root_ / "sets" / "params.list"));
    for (std::string l; std::getline(in, l);) list.push_back(l);
  }
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], (fs::canonical(root_) / "sets" / "first" / "params.xml").string());

  // One program folder for the three runs, another that takes no writes:
  // its preference files cannot be replaced and its temp folder is a file.
  fs::create_directories(root_ / "home");
  for (const char* entry : {"tarnelparams.ini", "tarnel.ini", "mlparams.txt"})
    fs::create_directories(root_ / "blocked" / entry);
  WriteAll(root_ / "blocked" / "temp", "");
  std::vector<pid_t> pids;
  for (std::size_t k = 0; k < list.size(); ++k) {
    const fs::path params(list[k]);
    const fs::path home = k == 2 ? root_ / "blocked" : root_ / "home";
    // Started in the sets' folder as a scheduler would; the handshake names the set.
    pids.push_back(StartProgram(root_ / "sets", home, root_ / ("run" + std::to_string(k) + ".stderr"),
                                params.parent_path().string(), list[k]));
  }
  std::vector<int> statuses;
  for (pid_t pid : pids) statuses.push_back(Wait(pid));
  const std::vector<int> expected = {0, 0, 0, 3};
  for (std::size_t k = 0; k < list.size(); ++k)
    EXPECT_EQ(statuses[k], expected[k]) << list[k] << "\n" << ReadAll(root_ / ("run" + std::to_string(k) + ".stderr"));
  EXPECT_NE(ReadAll(root_ / "run2.stderr").find("could not write to disk into directory"), std::string::npos);

  const fs::path first = fs::path(list[0]).parent_path();
  const std::string distribution = ReadAll(first / "distribution.dat");
  EXPECT_EQ(std::count(distribution.begin(), distribution.end(), '\n'), kResolution);
  EXPECT_EQ(ReadAll(first / "alldone.flag"), first.string());
  for (std::size_t k : {1u, 2u})
    EXPECT_EQ(ReadAll(fs::path(list[k]).parent_path() / "distribution.dat"), distribution) << list[k];
  // The failed set's flag file is written too: only the status tells.
  EXPECT_TRUE(fs::exists(fs::path(list[3]).parent_path() / "alldone.flag"));
  EXPECT_NE(ReadAll(fs::path(list[3]).parent_path() / "ResultParameters.xml").find("<Failure>"), std::string::npos);

  // The shared program folder holds whole files and no temporaries.
  for (const auto& e : fs::directory_iterator(root_ / "home"))
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  std::istringstream preferences(ReadAll(root_ / "home" / "tarnelparams.ini"));
  int lines = 0;
  for (std::string l; std::getline(preferences, l);) ++lines;
  EXPECT_EQ(lines, 24);
}

}  // namespace
