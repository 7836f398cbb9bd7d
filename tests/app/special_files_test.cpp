// Every reader of a file the user names or the program folder holds, given
// what can stand in a file's place: a named pipe, a folder, a link to
// /dev/zero, a loop of symbolic links, a sparse file larger than any bound.
// Each must refuse at once and say which file it could not use. Each read
// runs in a child process that an alarm ends, so that a reader that would
// wait on a pipe or read /dev/zero for ever fails its case instead of
// holding up the suite.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/commands/data/list_file.h"
#include "app/window/parameter_preferences.h"
#include "automation/exchange/xp_file.h"
#include "automation/ini_custom_pars.h"
#include "data/dls/dls_readers.h"
#include "data/dlsdat_file.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_file.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/ms_table.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "lamm/lamm_settings.h"
#include "models/nonideal/mean_field/ctot_movie.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/matrix_files.h"
#include "platform/automatic_ui.h"
#include "platform/bitmap.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

namespace fs = std::filesystem;

// What a reader made of a file: whether it took it, and everything it said
// about it (its returned reason and every box it showed).
struct Verdict {
  bool accepted = false;
  std::string said;
};

using Reader = std::function<Verdict(const std::string& path)>;

struct ReaderCase {
  const char* name;
  Reader read;
  bool namesTheFile = true;  // the reader's own words name the file (else its caller adds the path)
};

std::vector<ReaderCase> Readers(const fs::path& scratch) {
  const std::string out = (scratch / "converted.dlsdat").string();
  const DlsConditions asked{};
  auto dls = [](const DlsReadResult& r) { return Verdict{static_cast<bool>(r), r.reason}; };
  return {
      {"scan file",
       [](const std::string& p) {
         ScanRecord rec{};
         int n = 0;
         float *r = nullptr, *s = nullptr, *t = nullptr;
         std::uint8_t mark = 0;
         const bool ok = ReadScanFile(p.c_str(), &rec, &n, &r, &s, &t, &mark, 0) == 1;
         return Verdict{ok, ScanReadProblem()};
       },
       false},
      {"list file (load)",
       [](const std::string& p) {
         ListFileSelection list;
         std::string reason;
         const bool ok = ReadListFile(p, list, &reason);
         return Verdict{ok, reason};
       }},
      {"list file (serial fits)",
       [](const std::string& p) {
         std::string reason;
         const bool ok = LoadFileNameList(p, &reason);
         return Verdict{ok, reason};
       }},
      {"xp file",
       [](const std::string& p) {
         const XpFileContents c = ReadXpFile(p);
         return Verdict{c.status != XpReadStatus::CannotOpen, c.openError};
       }},
      {"dlsdat file",
       [](const std::string& p) {
         DlsHeaderRecord h{};
         int n = 0;
         float *x = nullptr, *y = nullptr;
         std::string reason;
         const bool ok = ReadDlsdatForLoad(p, &h, &n, &x, &y, false, &reason) == 1;
         return Verdict{ok, reason};
       }},
      {"DLS Dynamics 7", [=](const std::string& p) { return dls(ReadDlsDynamics7(p, out, asked)); }},
      {"DLS PS99 v6", [=](const std::string& p) { return dls(ReadDlsPS99v6(p, out, asked)); }},
      {"DLS PhotoCor", [=](const std::string& p) { return dls(ReadDlsPhotoCor(p, out)); }},
      {"DLS ALV", [=](const std::string& p) { return dls(ReadDlsALV(p, out)); }},
      {"DLS two columns g2", [=](const std::string& p) { return dls(ReadDls2ColumnG2(p, out, 1e-6f, 1, asked)); }},
      {"DLS two columns g2-1", [=](const std::string& p) { return dls(ReadDls2ColumnG2m1(p, out, asked)); }},
      {"DLS BIC", [=](const std::string& p) { return dls(ReadDlsBIC(p, out)); }},
      {"DLS old BIC", [=](const std::string& p) { return dls(ReadDlsOldDosBIC(p, out)); }},
      {"DLS PS v4", [=](const std::string& p) { return dls(ReadDlsPSv4(p, out, asked, 10)); }},
      {"DLS PS99 v5.20", [=](const std::string& p) { return dls(ReadDlsPS99v520(p, out, asked, 10)); }},
      {"DLS PS99 v5.26", [=](const std::string& p) { return dls(ReadDlsPS99v526(p, out, asked, 10, true)); }},
      {"one-column table (viscosity.dat, density.dat)",
       [](const std::string& p) {
         CVector v;
         return Verdict{v.ReadFromFile(p.c_str()), ""};
       }},
      {"two-column curve (distribution file)",
       [](const std::string& p) {
         CCurve c;
         return Verdict{c.ReadFromFile(p.c_str(), 1, 2), ""};
       }},
      {"matrix file",
       [](const std::string& p) {
         int rows = 0;
         float** m = ReadMatrixFile(p.c_str(), 2, &rows);
         if (m) free_matrix(m, 1, 2, 1, rows);
         return Verdict{m != nullptr, ""};
       }},
      {"value list (distribution values)",
       [](const std::string& p) {
         int n = 0;
         float* a = ReadFileToArray(p.c_str(), &n, 1);
         if (a) free_vector(a, 1, n);
         return Verdict{a != nullptr, ""};
       }},
      {"M(s) table (mofs.dat)", [](const std::string& p) { return Verdict{LoadSMTable(p.c_str()), ""}; }},
      {"preference file (tarnelparams.ini)",
       [](const std::string& p) {
         bool opened = false;
         std::string refusal;
         ReadPreferenceNumbers(p, &opened, &refusal);
         return Verdict{opened, refusal};
       }},
      {"Lamm preferences (tarnellammparams.ini)",
       [](const std::string& p) {
         LammSolverSettings s;
         float tolerance = 0;
         return Verdict{ReadLammEqParameterPreferences(p, s, tolerance), ""};
       }},
      {"planning preferences (tarnelsimappeqparams.ini)",
       [](const std::string& p) {
         TimeToEqParams t;
         return Verdict{LoadTimeToEqPreferences(t, p), ""};
       }},
      {"speed steps",
       [](const std::string& p) {
         CRotorSpeedProfile profile;
         return Verdict{profile.ReadFile(p), profile.message};
       }},
      {"method file",
       [](const std::string& p) {
         CRotorSpeedProfile profile;
         return Verdict{profile.CreateFromEqu(p), ""};
       },
       false},
      {"unattended parameter file",
       [](const std::string& p) {
         CIniCustomPars r{};
         const bool ok = ReadAutomationParameterFile(r, p);
         return Verdict{ok, r.rejection};
       }},
      {"mean-field movie",
       [](const std::string& p) {
         CCtotMovie movie;
         return Verdict{movie.ReadFile(p), ""};
       },
       false},
      {"bitmap",
       [](const std::string& p) {
         platform::Bitmap b(1, 1);
         return Verdict{platform::LoadBmp(p, b), ""};
       },
       false},
  };
}

// What stands where the file should be.
struct SpecialFile {
  const char* name;
  std::function<void(const fs::path&)> make;
};

std::vector<SpecialFile> SpecialFiles() {
  return {
      {"named pipe", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
      {"folder", [](const fs::path& p) { fs::create_directories(p); }},
      {"link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
      {"loop of links",
       [](const fs::path& p) {
         fs::create_symlink(p.string() + ".other", p);
         fs::create_symlink(p, p.string() + ".other");
       }},
      {"sparse file above every bound",
       [](const fs::path& p) {
         std::ofstream(p, std::ios::binary) << "";
         fs::resize_file(p, platform::kDataFileLimit + 1);
       }},
  };
}

// Runs read(path) in a child: its verdict comes back through a pipe; an
// alarm ends a child that waits or reads for ever, and a bound on its
// memory ends one that fills it. False (with why) when the child did not
// come back with a verdict.
bool ReadInChild(const Reader& reader, const std::string& path, Verdict& verdict, std::string& why) {
  int fds[2];
  if (pipe(fds) != 0) {
    why = "no pipe";
    return false;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    alarm(20);
#if !defined(__SANITIZE_ADDRESS__)
    const rlimit memory{rlim_t{2} << 30, rlim_t{2} << 30};
    setrlimit(RLIMIT_AS, &memory);
#endif
    std::string boxes;
    platform::AutomaticUserInterface ui([&boxes](const std::string& line) { boxes += line + "\n"; });
    platform::SetUI(&ui);
    const Verdict v = reader(path);
    const std::string message = std::string(v.accepted ? "1" : "0") + v.said + "\n" + boxes;
    std::size_t done = 0;
    while (done < message.size()) {
      const ssize_t n = write(fds[1], message.data() + done, message.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string message;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fds[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    message.append(chunk, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    why = WTERMSIG(status) == SIGALRM ? "the reader never returned" : "the reader died of signal " +
                                                                          std::to_string(WTERMSIG(status));
    return false;
  }
  if (message.empty()) {
    why = "the reader gave no verdict";
    return false;
  }
  verdict.accepted = message[0] == '1';
  verdict.said = message.substr(1);
  return true;
}

TEST(SpecialFiles, EveryReaderRefusesWhatIsNoRegularFileAndSaysWhich) {
  const fs::path scratch = fs::temp_directory_path() / "special_files";
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  const std::vector<ReaderCase> readers = Readers(scratch);
  const std::vector<SpecialFile> specials = SpecialFiles();
  int k = 0;
  for (const SpecialFile& special : specials) {
    for (const ReaderCase& reader : readers) {
      SCOPED_TRACE(std::string(reader.name) + " given a " + special.name);
      const fs::path path = scratch / ("input" + std::to_string(++k) + ".RA1");
      special.make(path);
      Verdict v;
      std::string why;
      ASSERT_TRUE(ReadInChild(reader.read, path.string(), v, why)) << why;
      EXPECT_FALSE(v.accepted) << v.said;
      if (reader.namesTheFile) {
        EXPECT_NE(v.said.find(path.string()), std::string::npos) << v.said;
      }
      // The converters write nothing for what they could not read.
      EXPECT_FALSE(fs::exists(scratch / "converted.dlsdat"));
    }
  }
  fs::remove_all(scratch);
}

}  // namespace
