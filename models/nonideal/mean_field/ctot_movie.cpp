#include "models/nonideal/mean_field/ctot_movie.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "data/scan_set.h"
#include "platform/error_box.h"
#include "platform/paths.h"

namespace {

std::unique_ptr<CCtotMovie>& Movie() {
  static std::unique_ptr<CCtotMovie> movie;
  return movie;
}

std::function<bool()>& Refresh() {
  static std::function<bool()> refresh;
  return refresh;
}

// A cursor over the file's text with the reading rules of the format:
// numbers may be separated by any white space; after the header, the times,
// the radii and each row the rest of the line is skipped, which may hold at
// most 99 characters (the reader's line buffer).
class CtotReader {
 public:
  explicit CtotReader(const std::string& text) : s_(text) {}

  bool Int(int& v) {
    SkipSpace();
    const char* begin = s_.c_str() + p_;
    char* end = nullptr;
    const long x = std::strtol(begin, &end, 10);
    if (end == begin || x < INT32_MIN || x > INT32_MAX) return false;
    p_ += static_cast<size_t>(end - begin);
    v = static_cast<int>(x);
    return true;
  }
  bool Float(float& v) {
    SkipSpace();
    const char* begin = s_.c_str() + p_;
    char* end = nullptr;
    const float x = std::strtof(begin, &end);
    if (end == begin || !std::isfinite(x)) return false;
    p_ += static_cast<size_t>(end - begin);
    v = x;
    return true;
  }
  bool SkipRestOfLine() {
    for (int n = 0; n < 99; ++n) {
      if (p_ >= s_.size()) return true;
      if (s_[p_++] == '\n') return true;
    }
    // Text the line buffer cannot take would be read as the next numbers.
    return p_ >= s_.size() || s_[p_++] == '\n';
  }

 private:
  void SkipSpace() {
    while (p_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[p_]))) ++p_;
  }
  const std::string& s_;
  size_t p_ = 0;
};

}  // namespace

CCtotMovie* CurrentCtotMovie() { return Movie().get(); }

CCtotMovie& EnsureCtotMovie() {
  if (!Movie()) Movie() = std::make_unique<CCtotMovie>();
  return *Movie();
}

void DeleteCtotMovie() { Movie().reset(); }

void SetCtotMovieRefresh(std::function<bool()> refresh) { Refresh() = std::move(refresh); }

void CCtotMovie::Clear() {
  radii.clear();
  times.clear();
  values.clear();
  timeCount = radiusCount = 0;
  loaded = saved = false;
}

bool CCtotMovie::ReadFile(const std::string& path) {
  Clear();
  fileName = path;
  std::string text;
  if (!platform::ReadRegularFile(platform::ToNative(path), text, true)) {
    std::printf("\n\aAttention: could not open %s", path.c_str());
    return false;
  }
  CtotReader in(text);
  int nt = 0, nr = 0;
  float m = 0, b = 0, sc = 0, speed = 0;
  if (!(in.Int(nt) && in.Int(nr) && in.Float(m) && in.Float(b) && in.Float(sc) && in.Float(speed)))
    return false;
  if (nt < 1 || nr < 3 || !(sc > 0) || !in.SkipRestOfLine()) return false;
  // Every number takes at least two characters: counts the file cannot hold
  // are refused before anything is allocated for them.
  const double items = static_cast<double>(nt) + nr + static_cast<double>(nt) * nr;
  if (2.0 * items > static_cast<double>(text.size()) + 1.0) return false;
  std::vector<float> t(static_cast<size_t>(nt) + 1), r(static_cast<size_t>(nr) + 1);
  for (int i = 1; i <= nt; ++i)
    if (!in.Float(t[i])) return false;
  if (!in.SkipRestOfLine()) return false;
  for (int j = 1; j <= nr; ++j)
    if (!in.Float(r[j])) return false;
  if (!in.SkipRestOfLine()) return false;
  std::vector<std::vector<float>> v(static_cast<size_t>(nt) + 1);
  for (int i = 1; i <= nt; ++i) {
    v[i].assign(static_cast<size_t>(nr) + 1, 0.0f);
    for (int j = 1; j <= nr; ++j)
      if (!in.Float(v[i][j])) return false;
    if (!in.SkipRestOfLine()) return false;
  }
  timeCount = nt;
  radiusCount = nr;
  meniscus = m;
  bottom = b;
  scale = sc;
  rpm = speed;
  times = std::move(t);
  radii = std::move(r);
  values = std::move(v);
  loaded = saved = true;
  return true;
}

bool CCtotMovie::WriteFile() {
  if (!loaded || fileName.empty()) return false;
  if (Refresh() && !Refresh()()) return false;
  platform::CheckedOutputFile file(fileName);
  std::FILE* f = file.get();
  if (!f) {
    std::printf("\n\aAttention: could not open %s", fileName.c_str());
    return false;
  }
  std::fprintf(f, "%d %d %f %f %f %f\n", timeCount, radiusCount, static_cast<double>(meniscus),
               static_cast<double>(bottom), static_cast<double>(scale), static_cast<double>(rpm));
  for (int i = 1; i <= timeCount; ++i) std::fprintf(f, "%f ", static_cast<double>(times[i]));
  std::fprintf(f, "\n");
  for (int j = 1; j <= radiusCount; ++j) std::fprintf(f, "%f ", static_cast<double>(radii[j]));
  std::fprintf(f, "\n");
  for (int i = 1; i <= timeCount; ++i) {
    for (int j = 1; j <= radiusCount; ++j) std::fprintf(f, "%f ", static_cast<double>(values[i][j]));
    std::fprintf(f, "\n");
  }
  if (!file.Commit()) return false;
  saved = true;
  return true;
}

bool CCtotMovie::SaveAs(const std::string& path) {
  if (!loaded) return false;
  fileName = path;
  return WriteFile();
}

bool CCtotMovie::Assign(int timeCountIn, int radiusCountIn, const float* extendedRadii,
                        const double* frameTimes, float* const* frameValues, float meniscusIn,
                        float bottomIn, double signalPerMg, float rpmIn) {
  // A field in mg/ml needs a positive conversion; the old one stays.
  if (!(signalPerMg > 0)) return false;
  Clear();
  if (timeCountIn < 1 || radiusCountIn < 1 || !extendedRadii || !frameTimes || !frameValues ||
      !(meniscusIn > 0) || !(bottomIn > 0))
    return false;
  meniscus = meniscusIn;
  bottom = bottomIn;
  rpm = rpmIn;
  scale = 1.0f;
  timeCount = timeCountIn;
  radiusCount = radiusCountIn + 2;
  times.assign(static_cast<size_t>(timeCount) + 1, 0.0f);
  radii.assign(static_cast<size_t>(radiusCount) + 1, 0.0f);
  values.assign(static_cast<size_t>(timeCount) + 1, std::vector<float>(static_cast<size_t>(radiusCount) + 1));
  for (int i = 1; i <= timeCount; ++i) times[i] = static_cast<float>(frameTimes[i]);
  for (int j = 1; j <= radiusCount; ++j) radii[j] = extendedRadii[j];
  const double toMg = 1.0 / signalPerMg;
  for (int i = 1; i <= timeCount; ++i)
    for (int j = 1; j <= radiusCount; ++j) values[i][j] = static_cast<float>(frameValues[i][j] * toMg);
  loaded = true;
  return true;
}

void CCtotMovie::CopyToModel(int& frameCount, int& profileRadii, std::vector<float>& extendedRadii,
                             std::vector<double>& frameTimes, std::vector<std::vector<float>>& frames,
                             float& gridStart, float& gridEnd, float targetMeniscus,
                             double signalPerMg) const {
  extendedRadii.clear();
  frameTimes.clear();
  frames.clear();
  frameCount = timeCount;
  profileRadii = radiusCount - 2;
  frameTimes.assign(static_cast<size_t>(timeCount) + 1, 0.0);
  for (int i = 1; i <= timeCount; ++i) frameTimes[i] = times[i];
  const double shift = targetMeniscus - meniscus;
  const bool move = targetMeniscus != 0.0f && std::fabs(shift) >= 1e-5;
  extendedRadii.assign(static_cast<size_t>(radiusCount) + 1, 0.0f);
  for (int j = 1; j <= radiusCount; ++j)
    extendedRadii[j] = move ? static_cast<float>(radii[j] + shift) : radii[j];
  const double factor = signalPerMg / scale;
  frames.assign(static_cast<size_t>(timeCount) + 1, std::vector<float>(static_cast<size_t>(radiusCount) + 1));
  for (int i = 1; i <= timeCount; ++i)
    for (int j = 1; j <= radiusCount; ++j) frames[i][j] = static_cast<float>(values[i][j] * factor);
  if (targetMeniscus == 0.0f) {
    gridStart = meniscus;
    gridEnd = bottom;
  }
}

bool CheckMeanFieldCoverage(const CCtotMovie& movie, const ScanRecord* records, const int* order,
                            int last, const std::vector<std::string>& fileNames) {
  if (!movie.HasField() || !records || !order || last < 1) return false;
  const ScanRecord& lastScan = records[order[last]];
  if (lastScan.rpm != movie.rpm) {
    ErrorBox("use external mean field: wrong rotor speed");
    return false;
  }
  const double covered = movie.LastTime();
  if (lastScan.timeRead <= covered) return true;
  ErrorBox("use external mean field: does not cover experimental time");
  // The last scan inside the field's time; the first scan when none is.
  int name = order[1];
  for (int i = 1; i <= last; ++i)
    if (records[order[i]].timeRead <= covered) name = order[i];
  const std::string file = name >= 0 && static_cast<size_t>(name) < fileNames.size() ? fileNames[name] : "";
  char text[400];
  std::snprintf(text, sizeof text, "please reload scans not exceeding %s", file.c_str());
  ErrorBox(text);
  return false;
}
