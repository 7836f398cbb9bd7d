#include "data/scan_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "platform/paths.h"

namespace {

// (30 / pi)^2: rpm^2 per (rad/s)^2.
constexpr double kRpmSquaredPerOmegaSquared = 91.189065278104;

constexpr const char* kMarkCorrected = "[TIMESTAMP CORRECTED";
constexpr const char* kMarkOk = "[T OK]";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsTypeLetter(char c) {
  return c == 'R' || c == 'W' || c == 'I' || c == 'P' || c == 'F' || c == 'V';
}

bool IsDescriptionChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')) return true;
  return std::strchr("[] _-#/\\:,.", c) != nullptr && c != '\0';
}

bool HasMark(std::string_view s) {
  return s.find(kMarkCorrected) != std::string_view::npos ||
         s.find(kMarkOk) != std::string_view::npos;
}

// The whole file as text, up to its first NUL (a text file ends there), with
// bare carriage returns read as line ends. Anything but a regular file is
// refused before the first read, so that a FIFO or a device never blocks
// or floods the reader.
bool ReadWholeFile(const std::string& path, std::string& text) {
  if (!platform::ReadRegularFile(path, text, true)) return false;
  for (std::size_t k = 0; k < text.size(); ++k)
    if (text[k] == '\r' && (k + 1 == text.size() || text[k + 1] != '\n')) text[k] = '\n';
  // Rows are counted by their line breaks: a last row that ends the file
  // without one is a row all the same.
  const std::size_t lastBreak = text.rfind('\n');
  if (lastBreak != std::string::npos && text.find_first_not_of(" \t\v\f", lastBreak + 1) != std::string::npos)
    text += '\n';
  return true;
}

enum class Token { Value, End, NonFinite, Text };

// Whitespace-separated tokens read as decimal numbers: the longest numeric
// prefix counts, a token without one reads as 0 and says it was text.
class TokenReader {
 public:
  TokenReader(const char* p, const char* end) : p_(p), end_(end) {}

  // The first non-blank character, consumed; 0 when there is none.
  char NextChar() {
    while (p_ < end_ && IsBlank(*p_)) ++p_;
    return p_ < end_ ? *p_++ : '\0';
  }

  Token Next(double* v) {
    while (p_ < end_ && IsBlank(*p_)) ++p_;
    if (p_ >= end_) return Token::End;
    const char* b = p_;
    while (p_ < end_ && !IsBlank(*p_)) ++p_;
    const char* e = p_;
    const char* s = b;
    if (s < e && *s == '+') ++s;
    double value = 0;
    const auto r = std::from_chars(s, e, value, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument) {
      *v = 0;
      return Token::Text;
    } else if (r.ec == std::errc::result_out_of_range) {
      // Too large or too small for a double: let strtod decide which.
      const std::string copy(b, static_cast<size_t>(std::min<ptrdiff_t>(e - b, 1024)));
      value = std::strtod(copy.c_str(), nullptr);
    }
    if (!std::isfinite(value)) return Token::NonFinite;
    *v = value;
    return Token::Value;
  }

  // Number of tokens (up to 3) on the line after the current one.
  int FirstRowColumns() const {
    const char* q = p_;
    while (q < end_ && *q != '\n') ++q;
    if (q < end_) ++q;
    int n = 0;
    while (q < end_ && *q != '\n' && n < 3) {
      while (q < end_ && *q != '\n' && IsBlank(*q)) ++q;
      if (q >= end_ || *q == '\n') break;
      ++n;
      while (q < end_ && !IsBlank(*q)) ++q;
    }
    return n;
  }

 private:
  const char* p_;
  const char* end_;
};

// Header numbers that do not parse read as 0.
bool IsNumber(Token t) { return t == Token::Value || t == Token::Text; }

int NearestInt(double v) {
  if (!(v == v)) return 0;
  const double r = std::floor(v + 0.5);
  if (r > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (r < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

long NearestLong(double v) {
  if (!(v == v)) return 0;
  const double r = std::floor(v + 0.5);
  if (r > 2147483647.0) return 2147483647L;
  if (r < -2147483648.0) return -2147483647L - 1;
  return static_cast<long>(r);
}

bool FiniteFloat(double v) { return std::isfinite(static_cast<float>(v)); }

// Number of data rows to keep, from the newline count after the header.
long CountRows(std::string_view text, size_t from, bool electrophoresis) {
  long count = 0;
  bool counting = false, stopped = false, restarted = false;
  const size_t n = text.size();
  size_t line = from;
  while (line < n) {
    if (!counting) {
      size_t c = line;
      while (c < n && (text[c] == ' ' || text[c] == '\t')) ++c;
      if (c < n && IsTypeLetter(text[c])) {
        counting = true;
        if (stopped) restarted = true;
      }
    }
    const void* nl = std::memchr(text.data() + line, '\n', n - line);
    if (!nl) break;
    const size_t at = static_cast<size_t>(static_cast<const char*>(nl) - text.data());
    if (counting) {
      if (!electrophoresis && at + 1 < n && text[at + 1] == '0') {
        counting = false;
        stopped = true;
      } else {
        ++count;
      }
    }
    line = at + 1;
  }
  // Every row before a row beginning with "0" is a data row; otherwise the
  // last counted newline is the header's own, so the rows are one fewer.
  if (stopped && !restarted) return count;
  return count - 1;
}

float* CopyToOneBased(const std::vector<float>& v, int n) {
  float* a = vector(1, n);
  std::memcpy(a + 1, v.data(), sizeof(float) * static_cast<size_t>(n));
  return a;
}

void ReadFluorescenceSettings(ScanRecord& r) {
  const char* d = r.description;
  if (const char* p = std::strstr(d, "Voltage: ")) {
    const float v = std::strtof(p + 9, nullptr);
    r.voltage = std::isfinite(v) ? v : 0.0f;
  }
  if (const char* p = std::strstr(d, "Gain: ")) {
    r.gain = static_cast<int32_t>(std::clamp(std::strtol(p + 6, nullptr, 10), -2147483647L, 2147483647L));
  }
  if (const char* p = std::strstr(d, "Range: ")) {
    r.range = static_cast<int32_t>(std::clamp(std::strtol(p + 7, nullptr, 10), -2147483647L, 2147483647L));
  }
}

}  // namespace

std::string FindFileIgnoringCase(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path native(platform::ToNative(path));
  if (fs::exists(fs::symlink_status(native, ec))) return path;
  const auto lower = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
  };
  const std::string wanted = lower(native.filename().string());
  const fs::path folder = native.has_parent_path() ? native.parent_path() : fs::path(".");
  std::string found;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (lower(name) != wanted) continue;
    // Two candidates: no way to tell which one is meant.
    if (!found.empty()) return path;
    found = name;
  }
  if (found.empty()) return path;
  return platform::Combine(platform::SplitPath(path).folder, found);
}

double EstimateAccelerationTime(float rpm, double time, double w2t) {
  const double r2 = static_cast<double>(rpm) * rpm;
  if (!(r2 > 0)) return 0.0;
  return 1.5 / r2 * (r2 * time - w2t * kRpmSquaredPerOmegaSquared);
}

double EstimateAcceleration(float rpm, double accelerationTime) {
  if (!(accelerationTime > 0)) return 1.0e6;
  return rpm / accelerationTime;
}

namespace {

thread_local std::string g_problem;

// Data rows follow the two header lines, one to a line.
std::string DataRowProblem(long row) {
  return "line " + std::to_string(row + 3) + ": expected finite numbers (radius, signal)";
}

// A refused file: why, for the load's message.
int Refuse(std::string why) {
  g_problem = std::move(why);
  return 0;
}

}  // namespace

const std::string& ScanReadProblem() { return g_problem; }

int ReadScanFile(const char* path, ScanRecord* record, int* pointsOut, float** radiiOut,
                 float** signalsOut, float** thirdOut, uint8_t* markOut, float binWidth) {
  g_problem.clear();
  if (!path || !record || !pointsOut || !radiiOut || !signalsOut) return Refuse("no file named");
  const std::string native = platform::ToNative(path);
  // The times are taken before the reading, which would count as an access.
  ScanRecord rec;
  if (const auto times = platform::GetFileTimes(native)) {
    rec.lastAccessTime = times->access;
    rec.lastWriteTime = times->modification;
    rec.creationTimeValid = times->creation.has_value();
    rec.creationTime = times->creation.value_or(0.0);
    rec.fileTimesValid = 1;
  }
  std::string text;
  if (!ReadWholeFile(native, text)) return Refuse("the file cannot be read (missing, not readable or not a regular file)");
  if (text.empty()) return Refuse("the file is empty");

  DataTypeFlags& flags = CurrentDataTypeFlags();
  const bool electrophoresis = flags.electrophoresis != 0;
  const std::string_view all(text);
  const size_t eol1 = all.find('\n');
  const size_t body = eol1 == std::string_view::npos ? all.size() : eol1 + 1;
  const long rows = CountRows(all, body, electrophoresis);

  // Description: the leading run of plain characters of line 1.
  {
    size_t k = 0;
    while (k < 99 && k < all.size() && IsDescriptionChar(all[k])) {
      rec.description[k] = all[k];
      ++k;
    }
    rec.description[k] = '\0';
  }
  rec.timeStampMarked = HasMark(rec.description) ? 1 : 0;
  const uint8_t mark = rec.timeStampMarked;

  // The number written just before " - meniscus" (six characters wide; a
  // shorter description start holds a shorter number).
  const size_t men = all.find(" - meniscus");
  if (men != std::string_view::npos) {
    const size_t from = men >= 6 ? men - 6 : 0;
    const std::string number(all.substr(from, men - from));
    const float v = std::strtof(number.c_str(), nullptr);
    rec.meniscusNote = std::isfinite(v) ? v : 0.0f;
  }

  TokenReader tokens(text.data() + body, text.data() + text.size());
  const char type = tokens.NextChar();
  if (!IsTypeLetter(type))
    return Refuse("line 2: expected the scan header, starting with its type letter (R, W, I, P, F or V)");

  double h[7];
  if (!electrophoresis) {
    for (double& v : h)
      if (!IsNumber(tokens.Next(&v)))
        return Refuse("line 2: expected seven numbers after the type letter "
                      "(cell, temperature, rpm, time, w2t, wavelength, count)");
    flags.intensity = (type == 'I' || type == 'V');
    flags.absorbance = (type == 'R' || type == 'W');
    flags.interference = (type == 'P');
    flags.fluorescence = (type == 'F');
    if (flags.absorbance) flags.spikeThreshold = flags.absorbanceSpikeThreshold;
    if (flags.fluorescence) flags.spikeThreshold = flags.fluorescenceSpikeThreshold;
    if (!FiniteFloat(h[1]) || !FiniteFloat(h[2]) || !FiniteFloat(h[5]))
      return Refuse("line 2: temperature, rotor speed and wavelength must be finite numbers");
    rec.cell = NearestInt(h[0]);
    rec.temperature = static_cast<float>(h[1]);
    rec.rpm = static_cast<float>(h[2]);
    rec.timeRead = h[3];
    rec.w2t = h[4];
    rec.wavelength = static_cast<float>(h[5]);
    rec.headerCount = NearestInt(h[6]);
    rec.time = rec.timeOriginal = rec.timeRead;
    rec.accelerationTime = EstimateAccelerationTime(rec.rpm, rec.time, rec.w2t);
    rec.acceleration = EstimateAcceleration(rec.rpm, rec.accelerationTime);
  } else {
    for (int k = 0; k < 5; ++k)
      if (!IsNumber(tokens.Next(&h[k])))
        return Refuse("line 2: expected five numbers after the type letter");
    if (!FiniteFloat(h[2])) return Refuse("line 2: the wavelength must be a finite number");
    rec.cell = 0;
    rec.temperature = 20.0f;
    rec.rpm = 1.0f;
    rec.timeRead = rec.w2t = rec.time = rec.timeOriginal = h[1];
    rec.wavelength = static_cast<float>(h[2]);
    rec.headerCount = NearestInt(h[3]);
    rec.acceleration = 1.0e6;
    rec.accelerationTime = 0;
  }
  rec.type = type;

  rec.fluorescence = 0;
  rec.voltage = 0;
  rec.gain = 0;
  rec.range = 0;
  if (type == 'F') {
    rec.fluorescence = 1;
    rec.timeStampMarked = 1;
    ReadFluorescenceSettings(rec);
  }

  // Row layout.
  const bool nColumns = flags.nColumnsMode != 0;
  const bool threeKept = !nColumns && ((rec.headerCount >= 2 && thirdOut && !flags.interference) ||
                                       flags.intensity || electrophoresis || flags.fluorescence);
  // Rows hold what the first one holds: interference rows are two numbers
  // unless written with standard deviations, and an absorbance or intensity
  // file may lack them too. Reading pairs as triples (or the reverse)
  // would shift every row after the first.
  const int firstRow = tokens.FirstRowColumns();
  const bool third = threeKept && thirdOut && firstRow != 2;
  int columns;
  if (nColumns)
    columns = std::max(2, static_cast<int>(flags.nColumns));
  else if (firstRow == 2 || (firstRow < 2 && flags.interference && !threeKept))
    columns = 2;
  else
    columns = 3;

  const bool spikes = flags.excludeSpikes && (flags.absorbance || flags.fluorescence) &&
                      !electrophoresis;
  const double threshold = flags.spikeThreshold;

  // The rows as written, before any averaging or filtering.
  struct Row {
    double v[3];
    long line;
  };
  std::vector<Row> raw;
  if (rows > 0) {
    // No row is shorter than two characters a column; this bounds the
    // reservation for files of many empty lines.
    const size_t bound = (text.size() - body) / (2 * static_cast<size_t>(columns)) + 1;
    raw.reserve(std::min(static_cast<size_t>(rows), bound));
  }
  for (long row = 0; row < rows; ++row) {
    Row w{{0, 0, 0}, row};
    bool complete = true;
    for (int c = 0; c < columns; ++c) {
      double x;
      const Token tk = tokens.Next(&x);
      if (tk == Token::End) {
        complete = false;
        break;
      }
      // Text where a radius or a signal belongs would read as 0: a point
      // the file never held.
      const bool kept = c < 2 || (c == 2 && third);
      if (tk == Token::NonFinite || (tk == Token::Text && kept)) return Refuse(DataRowProblem(row));
      if (c < 3) w.v[c] = x;
    }
    if (!complete) break;
    if (!FiniteFloat(w.v[0]) || !FiniteFloat(w.v[1]) || (third && !FiniteFloat(w.v[2])))
      return Refuse(DataRowProblem(row));
    raw.push_back(w);
  }
  // Rows of radius 0 after the data are padding, not points.
  if (!nColumns && !third)
    while (!raw.empty() && static_cast<float>(raw.back().v[0]) == 0.0f) raw.pop_back();

  // Rows out of radial order are put in order when no radius repeats;
  // otherwise which signal belongs where cannot be told, and a scan of one
  // radius has no profile to fit.
  if (raw.size() >= 2) {
    const auto radius = [](const Row& w) { return static_cast<float>(w.v[0]); };
    if (radius(raw.front()) == radius(raw.back()) &&
        std::all_of(raw.begin(), raw.end(), [&](const Row& w) { return radius(w) == radius(raw.front()); })) {
      char why[160];
      std::snprintf(why, sizeof why, "every data row holds the same radius (%.4f cm): a scan needs a range of radii",
                    static_cast<double>(radius(raw.front())));
      return Refuse(why);
    }
    const bool ordered = std::is_sorted(raw.begin(), raw.end(),
                                        [&](const Row& x, const Row& y) { return radius(x) < radius(y); });
    if (!ordered) {
      std::stable_sort(raw.begin(), raw.end(), [&](const Row& x, const Row& y) { return radius(x) < radius(y); });
      for (size_t k = 1; k < raw.size(); ++k) {
        if (radius(raw[k]) != radius(raw[k - 1])) continue;
        const long line = std::max(raw[k].line, raw[k - 1].line);
        char why[200];
        std::snprintf(why, sizeof why,
                      "line %ld: the radius %.4f cm appears twice in rows that are not in order of radius",
                      line + 3, static_cast<double>(radius(raw[k])));
        return Refuse(why);
      }
    }
  }

  std::vector<float> r, s, t;
  r.reserve(raw.size());
  s.reserve(raw.size());
  if (third) t.reserve(raw.size());
  double groupStart = 0;
  int merged = 0;  // rows averaged into the last point
  for (const Row& w : raw) {
    const double* v = w.v;
    const size_t n = r.size();
    if (binWidth > 0 && n >= 1 && v[0] < groupStart + binWidth) {
      const double k = merged;
      r[n - 1] = static_cast<float>((k * r[n - 1] + v[0]) / (k + 1));
      s[n - 1] = static_cast<float>((k * s[n - 1] + v[1]) / (k + 1));
      if (third) t[n - 1] = static_cast<float>((k * t[n - 1] + v[2]) / (k + 1));
      ++merged;
      continue;
    }
    r.push_back(static_cast<float>(v[0]));
    s.push_back(static_cast<float>(v[1]));
    if (third) t.push_back(static_cast<float>(v[2]));
    groupStart = v[0];
    merged = 1;

    // An isolated point that jumps away from both neighbours is a spike.
    const size_t i = r.size();  // one-based index of the new point
    if (spikes && i >= 4) {
      const double d1 = std::fabs(static_cast<double>(s[i - 2]) - s[i - 3]);
      const double d2 = std::fabs(static_cast<double>(s[i - 1]) - s[i - 2]);
      if (d1 > threshold && d2 > threshold) {
        r[i - 2] = r[i - 1];
        s[i - 2] = s[i - 1];
        if (third) t[i - 2] = t[i - 1];
        r.pop_back();
        s.pop_back();
        if (third) t.pop_back();
      }
    }
  }

  const int n = static_cast<int>(r.size());
  if (n < 1) return Refuse("no data rows (radius and signal) after the header on line 2");

  if (electrophoresis) {
    for (float& x : s)
      if (x > 0) x = static_cast<float>(std::log10(1000.0 / x));
    flags.absorbance = 1;
    rec.type = 'R';
  }
  if (flags.fluorescence) flags.absorbance = 1;

  rec.points = n;
  *record = rec;
  *pointsOut = n;
  *radiiOut = CopyToOneBased(r, n);
  *signalsOut = CopyToOneBased(s, n);
  if (thirdOut) *thirdOut = third ? CopyToOneBased(t, n) : nullptr;
  if (markOut) *markOut = mark;
  return 1;
}

// ---------------------------------------------------------------- writing

namespace {

void AppendFixed(std::string& out, double v, int precision) {
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
  out.append(buf, r.ptr);
}

void AppendScientific(std::string& out, double v, int precision) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision);
  out.append(buf, r.ptr);
}

void ReportWriteFailure(const char* format, const char* path) {
  char text[1200];
  std::snprintf(text, sizeof text, format, path ? path : "");
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  ErrorBox(text);
}

// Line 1: the description up to any line break, with the time-stamp mark.
std::string MarkedDescription(const char* description) {
  std::string d = description ? description : "";
  const size_t cut = d.find_first_of("\r\n");
  if (cut != std::string::npos) d.resize(cut);
  if (!HasMark(d)) d.insert(0, kMarkOk);
  return d;
}

bool WriteCurve(const char* path, const CCurve& curve, const float* sd, const char* description,
                const ScanFileHeader& h, bool wavelengthScan) {
  if (!path) return false;
  const std::string native = platform::ToNative(path);
  std::string out = MarkedDescription(description);
  out += '\n';
  char line[400];
  if (wavelengthScan)
    std::snprintf(line, sizeof line, "%c %d %2.1f %ld %ld %1.4e %1.3f %d\n", h.type, h.cell,
                  static_cast<double>(h.temperature), h.rpm, h.time, h.w2t,
                  static_cast<double>(h.wavelength), h.headerCount);
  else
    std::snprintf(line, sizeof line, "%c %d %2.1f %ld %ld %1.4e %d %d\n", h.type, h.cell,
                  static_cast<double>(h.temperature), h.rpm, h.time, h.w2t,
                  NearestInt(h.wavelength), h.headerCount);
  out += line;

  const int n = curve.Count();
  const float* x = n ? curve.x->data : nullptr;
  const float* y = n ? curve.y->data : nullptr;
  const bool twoColumns = !sd && h.type == 'P';
  out.reserve(out.size() + static_cast<size_t>(n) * 40);
  for (int i = 0; i < n; ++i) {
    out += "   ";
    AppendFixed(out, x[i], 4);
    out += "  ";
    AppendScientific(out, y[i], 5);
    if (twoColumns) {
      out += " \n";
    } else {
      out += "   ";
      AppendScientific(out, sd ? static_cast<double>(sd[i + 1]) : 0.0, 5);
      out += " \n";
    }
  }

  platform::CheckedOutputFile file(native);
  std::FILE* f = file.get();
  if (!f) {
    ReportWriteFailure("\n\x07" "Attention: could not open %s", path);
    return false;
  }
  const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  const bool closed = file.Commit();
  if (!written || !closed) {
    ReportWriteFailure("\n\x07" "Attention: could not write %s", path);
    return false;
  }
  // Rewriting a scan keeps the times of the file it came from.
  if (h.fileTimesValid) platform::SetFileTimes(native, h.lastAccessTime, h.lastWriteTime);
  return true;
}

ScanFileHeader HeaderOf(const ScanRecord& r) {
  ScanFileHeader h;
  h.type = r.type;
  h.cell = r.cell;
  h.temperature = r.temperature;
  h.rpm = NearestLong(r.rpm);
  h.time = NearestLong(r.time);
  h.w2t = r.w2t;
  h.wavelength = r.wavelength;
  h.headerCount = r.headerCount;
  h.creationTime = r.creationTime;
  h.lastAccessTime = r.lastAccessTime;
  h.lastWriteTime = r.lastWriteTime;
  h.fileTimesValid = r.fileTimesValid;
  return h;
}

bool WriteArrays(const char* path, int n, float* radii, float* signals, const float* sd,
                 const char* description, const ScanFileHeader& header, bool wavelengthScan) {
  if (n < 0) n = 0;
  CVector xv, yv;
  xv.Attach(radii, n, 1);
  yv.Attach(signals, n, 1);
  CCurve curve(&xv, &yv);
  return wavelengthScan ? WriteScanCurveWavelength(path, curve, sd, description, header)
                        : WriteScanCurveStd(path, curve, sd, description, header);
}

}  // namespace

bool WriteScanCurveStd(const char* path, const CCurve& curve, const float* sd,
                       const char* description, const ScanFileHeader& header) {
  return WriteCurve(path, curve, sd, description, header, false);
}

bool WriteScanCurveWavelength(const char* path, const CCurve& curve, const float* sd,
                              const char* description, const ScanFileHeader& header) {
  return WriteCurve(path, curve, sd, description, header, true);
}

bool WriteScanFileStd(const char* path, int n, float* radii, float* signals, const float* sd,
                      const char* description, const ScanFileHeader& header) {
  return WriteArrays(path, n, radii, signals, sd, description, header, false);
}

bool WriteScanFileWavelength(const char* path, int n, float* radii, float* signals,
                             const float* sd, const char* description,
                             const ScanFileHeader& header) {
  return WriteArrays(path, n, radii, signals, sd, description, header, true);
}

bool WriteScanFile(const char* path, int n, float* radii, float* signals, const float* sd,
                   const char* description, uint8_t markTimeOk, const ScanRecord& record) {
  std::string d;
  if (description) {
    d = description;
    if (!HasMark(d) && (markTimeOk || HasMark(record.description))) d.insert(0, kMarkOk);
  } else {
    d = record.description;
    if (markTimeOk && !HasMark(d)) d.insert(0, kMarkOk);
  }
  const ScanFileHeader header = HeaderOf(record);
  if (record.type == 'W' || record.type == 'V')
    return WriteScanFileWavelength(path, n, radii, signals, sd, d.c_str(), header);
  return WriteScanFileStd(path, n, radii, signals, sd, d.c_str(), header);
}
