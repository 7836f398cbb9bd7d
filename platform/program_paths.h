#pragma once
// Where the program keeps its own files: the program folder ($TARNEL_HOME,
// else the executable's folder), its preference files, data tables, sounds
// and the "temp" scratch folder. Built once at start-up (OwlMain and
// SetupProgramFiles), read everywhere, never changed afterwards.
//
// Paths are native: ProgramFolder and TempFolder end in the separator, and
// every other path is the plain concatenation of one of them and a file name
// ("sounds/error.wav" for the sounds sub-folder).
#include <array>
#include <string>

namespace platform {

// The sound categories, in the order of SoundFilePaths.
enum SoundCategory : int {
  kSoundError = 0,
  kSoundInfo,
  kSoundQuestion,
  kSoundFitDone,
  kSoundHi,
  kSoundBye,
  kSoundOk,
  kSoundBeer,
  kSoundCategoryCount
};

struct ProgramPathsRecord {
  std::string ProgramFolder;
  std::string ParamsIniPath;          // "tarnelparams.ini"
  std::string LammParamsIniPath;      // "tarnellammparams.ini"
  std::string SimAppEqParamsIniPath;  // "tarnelsimappeqparams.ini"
  std::string SiblingProgramPath;     // "morlean" in the program folder, else on PATH
  std::string TempFolder;             // "temp" + separator
  std::string LastFolderIniPath;      // "tarnel.ini"
  std::string MofsTablePath;          // "mofs.dat"
  std::string WormChainMofsTablePath; // "~WormChain_mofs.dat"
  std::array<std::string, kSoundCategoryCount> SoundFilePaths;  // indexed by SoundCategory
  std::string ViscosityTablePath;     // "viscosity.dat"
  std::string DensityTablePath;       // "density.dat"
  std::string SnonidTablePath;        // "snonid.dat"
  std::string DnonidTablePath;        // "dnonid.dat"
  std::string DistribFilePath;        // temp + "distrib.dat"
  std::string BoundaryFractsPath;     // temp + "ppBoundaryFracts.dat"
  std::string NonIdCtotTablePath;     // temp + "ppNonIdCtotTable.dat"
  std::array<std::string, 2> IntegrationRangesPath;  // both "integratrangefile.txt"
  std::string MarquardtListingPath;   // "mlparams.txt", parameters and covariance of the last Marquardt-Levenberg fit
};

// The program-wide record.
extern ProgramPathsRecord ProgramPaths;

// File names of the sound categories below the program folder.
extern const std::array<const char*, kSoundCategoryCount> kSoundFileNames;

}  // namespace platform
