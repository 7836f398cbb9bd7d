#pragma once
// The files of the current set: the list of scan files to load, the folder
// and analysis-file paths of the loaded set, and the "list" files that save
// the list. Loading, the time-stamp and speed-step checks and the realtime
// update all read and change them.
#include <string>
#include <vector>

// The scan files to load: entries [1..count] are full paths.
struct FileNameList {
  int count = 0;
  std::vector<std::string> names;  // names[0] unused
};
FileNameList& CurrentFileNameList();

// Folder strings and analysis-file paths of the loaded set.
struct LoadedDataPaths {
  std::string dataFolder;
  std::string drive;
  std::string folder;  // with its trailing separator
  std::string lastName, lastExtension;
  std::string notesFile;
  std::string parameterFile;     // "~tmppars" + extension of the first file
  std::string distributionFile;  // "sdist" + extension of the first file
};
LoadedDataPaths& CurrentDataPaths();
// The notes file and the saved-parameter and distribution files of the set
// in the current data folder, named after its first file.
void SetAnalysisFileNames(const std::string& firstName, bool notes, bool others);

// "list" (corrected false) or "list_corr" with the first file's extension in
// its folder; false when nothing was written.
bool WriteFileNameList(bool corrected);
void BuildTmpFileList(int skip);
void SetCellDigitOfListedFiles(int digit);
void SetNumberedFolderOfListedFiles(int n);
void SetFolderOfListedFiles(const std::string& folder);
int AllScanFilesExist();
// The list-file path for the current list.
std::string FileNameListPath(bool corrected);
void FreeFileNameList();

// Path pieces the list and the loaders share: a folder without its trailing
// separators, the name with its extension, and the drive with the folder.
std::string WithoutTrailingSep(std::string folder);
std::string NameWithExtension(const std::string& path);
std::string FolderOf(const std::string& path);
