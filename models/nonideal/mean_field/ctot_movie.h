#pragma once
// CCtotMovie: a total-concentration field ctot(r, t) in mg/ml as a sequence
// of radial profiles, one per time, as it is exported to and read from a
// "*.ctot" text file:
//
//   line 1   time count, radius count, meniscus, bottom, scale, rotor speed
//   line 2   the times (s)
//   line 3   the radii (cm), one extension point beyond each cell end
//   then     one line of values per time, in radius order
//
// Values on disk times (signal per mg/ml) / scale are signal units. All
// arrays are 1-based.
#include <functional>
#include <string>
#include <vector>

struct ScanRecord;

class CCtotMovie {
 public:
  CCtotMovie() = default;
  ~CCtotMovie() { Clear(); }
  CCtotMovie(const CCtotMovie&) = delete;
  CCtotMovie& operator=(const CCtotMovie&) = delete;

  // Clears the object, keeps the path and reads the file. Any item that
  // cannot be read, counts that do not fit the file, non-finite values or a
  // scale <= 0 fail the whole read and leave the object empty.
  bool ReadFile(const std::string& path);
  // Needs a field and a file name; refreshes the field from the model first
  // (unless "freeze" is on). False when the file cannot be written or the
  // refresh is refused.
  bool WriteFile();
  bool SaveAs(const std::string& path);
  // count frames of radiusCount recorded radii (plus the two extension
  // points in extendedRadii), values in signal units turned into mg/ml.
  // Refused (object untouched, false) for a signal per mg/ml <= 0; cleared
  // and left empty for missing arrays, counts < 1 or meniscus/bottom <= 0.
  bool Assign(int timeCount, int radiusCount, const float* extendedRadii, const double* times,
              float* const* values, float meniscus, float bottom, double signalPerMg, float rpm);
  // Frees the model arrays given and fills them from the field: frame times,
  // extended radii (moved with the meniscus when targetMeniscus is not 0 and
  // differs by at least 1e-5 cm) and frames in signal units. With
  // targetMeniscus 0 the file's meniscus and bottom become gridStart/gridEnd.
  void CopyToModel(int& frameCount, int& profileRadii, std::vector<float>& extendedRadii,
                   std::vector<double>& frameTimes, std::vector<std::vector<float>>& frames,
                   float& gridStart, float& gridEnd, float targetMeniscus, double signalPerMg) const;
  void Clear();

  bool HasField() const { return loaded; }
  double LastTime() const { return timeCount > 0 ? times[timeCount] : 0.0; }
  float Value(int t, int r) const { return values[t][r]; }

  bool loaded = false;
  bool saved = false;
  std::string fileName;  // empty until first needed
  int timeCount = 0;
  int radiusCount = 0;   // with the two extension points
  std::vector<float> radii, times;
  std::vector<std::vector<float>> values;  // [time][radius]
  float meniscus = 0, bottom = 0, scale = 1.0f, rpm = 0;
};

// The process's movie (null when there is none).
CCtotMovie* CurrentCtotMovie();
CCtotMovie& EnsureCtotMovie();
// Deletes the process's movie.
void DeleteCtotMovie();
// What a write asks first of the model a field comes from: the movie
// refreshed from it; false refuses the write. The mean-field model installs
// it when it makes its object; before that no model holds a field.
void SetCtotMovieRefresh(std::function<bool()> refresh);

// Accepts the movie for scans whose last one in time order is
// records[order[last]]: same rotor speed, times covered. Rejections tell why
// (and which scans to reload).
bool CheckMeanFieldCoverage(const CCtotMovie& movie, const ScanRecord* records, const int* order,
                            int last, const std::vector<std::string>& fileNames);
