#include "RangeCalc.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pmrange {

namespace {

constexpr SensorInfo kSensors[] = {
    {"XK(L)", "XKL.txt", 20.0f},   {"XK(E)", "XKE.txt", 25.0f},   {"XA(K)", "XAK.txt", 30.0f},
    {"ЖК(J)", "TJK.txt", 25.0f},   {"Pt100", "PT100.txt", 20.0f}, {"100П", "100P.txt", 20.0f},
    {"50П", "100P.txt", 40.0f},    {"100M", "100M.txt", 20.0f},   {"50M", "100M.txt", 40.0f},
    {"Ni", "N100.txt", 20.0f},
};

const std::string kCannotOpen = "Файл  не удается открыть";
const std::string kNoRange = "не выбран диапазон\n расчет не произведен";
const std::string kBadRange = "ошибка выбора диапазона\n расчет не произведен";
const std::string kNarrow = "недопустимо узкий диапазон\n расчет не произведен";
const std::string kStandard = "выбран стандарт. диапазон \n расчет не произведен";
const std::string kFewPoints = "в диапазоне меньше девяти точек таблицы\n расчет не произведен";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number: optional sign, digits with an optional period, optional
// exponent.  Nothing else (no "inf", "nan", hexadecimal or comma).
bool ParseNumber(std::string_view tok, double& value) {
  std::size_t p = 0;
  if (p < tok.size() && (tok[p] == '+' || tok[p] == '-')) ++p;
  std::size_t digits = 0;
  while (p < tok.size() && IsDigit(tok[p])) ++p, ++digits;
  if (p < tok.size() && tok[p] == '.') {
    ++p;
    while (p < tok.size() && IsDigit(tok[p])) ++p, ++digits;
  }
  if (digits == 0) return false;
  if (p < tok.size() && (tok[p] == 'e' || tok[p] == 'E')) {
    ++p;
    if (p < tok.size() && (tok[p] == '+' || tok[p] == '-')) ++p;
    std::size_t expDigits = 0;
    while (p < tok.size() && IsDigit(tok[p])) ++p, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (p != tok.size()) return false;
  std::string_view body = tok;
  if (body.front() == '+') body.remove_prefix(1);
  auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
  return ec == std::errc() && end == body.data() + body.size() && std::isfinite(value);
}

class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}
  // Next whitespace-separated token; empty at the end of the text.
  std::string_view Next() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    std::size_t begin = pos_;
    while (pos_ < text_.size() && !IsSpace(text_[pos_])) ++pos_;
    return text_.substr(begin, pos_ - begin);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

const SensorInfo* FindSensor(std::string_view sensorText) {
  for (const auto& s : kSensors)
    if (s.sensor == sensorText) return &s;
  return nullptr;
}

std::vector<std::string> DefaultTableDirs() { return {"", PM_DATA_DIR}; }

std::optional<std::string> TableDirInUse(const std::vector<std::string>& dirs) {
  for (const auto& dir : dirs)
    for (const auto& s : kSensors)
      if (std::ifstream(dir.empty() ? std::string(s.file) : dir + "/" + std::string(s.file)).is_open()) return dir;
  return std::nullopt;
}

LoadStatus ParseRefTable(std::string_view text, RefTable& t) {
  Tokens tokens(text);
  int count = 0;
  for (int i = 0; i < kMaxEntries; ++i) {
    double temp = 0, signal = 0;
    if (!ParseNumber(tokens.Next(), temp) || !ParseNumber(tokens.Next(), signal)) {
      t.Count = count;
      return LoadStatus::Malformed;  // a non-number, or the end before the marker
    }
    if (temp < -273) break;  // the end marker, read whole and not stored
    t.Temp[i] = temp;
    t.Signal[i] = signal;
    count = i + 1;
  }
  t.Count = count;
  if (count < 4) return LoadStatus::TooFew;
  for (int i = 1; i < count; ++i)
    if (!(t.Temp[i] > t.Temp[i - 1]) || !(t.Signal[i] > t.Signal[i - 1])) return LoadStatus::NotIncreasing;
  return LoadStatus::Ok;
}

RangeCalculator::RangeCalculator(ui::MessageService& messages) : tableDirs(DefaultTableDirs()), msg_(messages) {}

LoadStatus LoadTableFile(const std::vector<std::string>& dirs, std::string_view sensorText, RefTable& t,
                         std::string* path) {
  if (path) path->clear();
  const SensorInfo* info = FindSensor(sensorText);
  if (!info) return LoadStatus::CannotOpen;
  const std::string file(info->file);
  for (const auto& dir : dirs) {
    const std::filesystem::path name = dir.empty() ? file : dir + "/" + file;
    std::ifstream in(name, std::ios::binary);
    if (!in.is_open()) continue;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) continue;
    if (path) {
      std::error_code error;
      const std::filesystem::path full = std::filesystem::absolute(name, error);
      *path = (error ? name : full).lexically_normal().string();
    }
    return ParseRefTable(text.str(), t);
  }
  return LoadStatus::CannotOpen;
}

LoadStatus RangeCalculator::LoadRefTable(std::string_view sensorText) {
  const SensorInfo* info = FindSensor(sensorText);
  fileName_ = info ? std::string(info->file) : std::string();
  return LoadTableFile(tableDirs, sensorText, table_, &tablePath_);
}

std::nullopt_t RangeCalculator::Refuse(const std::string& text) {
  msg_.Warning(text);
  return std::nullopt;
}

std::optional<std::array<double, 8>> RangeCalculator::CalcNonStandardRange(
    std::string_view sensorText, double rangeStart, double rangeEnd, std::span<const pmdev::RangeRow> stdRanges) {
  evaluations = 0;

  switch (LoadRefTable(sensorText)) {
    case LoadStatus::Ok: break;
    case LoadStatus::CannotOpen: msg_.Plain(kCannotOpen); return std::nullopt;
    case LoadStatus::Malformed:
      return Refuse("Файл " + fileName_ + " поврежден: не число или нет конца таблицы\n расчет не произведен");
    case LoadStatus::TooFew:
      return Refuse("В файле " + fileName_ + " меньше четырех точек таблицы\n расчет не произведен");
    case LoadStatus::NotIncreasing:
      return Refuse("Таблица файла " + fileName_ + " не возрастает\n расчет не произведен");
  }
  const SensorInfo& info = *FindSensor(sensorText);
  const RefTable& t = table_;
  const int count = t.Count;

  if (rangeStart == rangeEnd) return Refuse(kNoRange);
  if (rangeEnd < rangeStart) return Refuse(kBadRange);
  const double width = rangeEnd - rangeStart;
  if (width < info.minRangeWidth) return Refuse(kNarrow);
  if (rangeStart < t.Temp[0] || rangeStart > t.Temp[count - 1] || rangeEnd < t.Temp[0] ||
      rangeEnd > t.Temp[count - 1])
    return Refuse(kBadRange);
  for (const auto& row : stdRanges)
    if (rangeStart == static_cast<double>(row.start) && rangeEnd == static_cast<double>(row.end))
      return Refuse(kStandard);

  // The range ends must be temperatures of the table (the instrument keeps
  // whole degrees); the last matching entry wins.
  int startIndex = -1, endIndex = -1;
  double xs = 0, xe = 0;
  for (int i = 0; i < count; ++i) {
    if (t.Temp[i] == rangeStart) {
      xs = t.Signal[i];
      startIndex = i;
    }
    if (t.Temp[i] == rangeEnd) {
      xe = t.Signal[i];
      endIndex = i;
    }
  }
  if (startIndex < 0 || endIndex < 0) return Refuse(kBadRange);
  if (endIndex - startIndex - 1 < 9) return Refuse(kFewPoints);

  startIndex_ = startIndex;
  endIndex_ = endIndex;
  rangeStart_ = rangeStart;
  rangeEnd_ = rangeEnd;
  nodeX_[0] = xs;
  for (int k = 0; k < 8; ++k) nodeX_[k + 1] = xs + kNodePos[k] * (xe - xs) / 8191;
  nodeX_[9] = xe;
  // Every segment takes at least one point before the end entry is passed.
  if (!WalkFits()) return Refuse(kFewPoints);

  // Initial estimate: four-point Lagrange interpolation of temperature
  // against signal around each node signal.
  std::array<double, 8> y{};
  for (int k = 0; k < 8; ++k) {
    const double x = nodeX_[k + 1];
    int i = 0;
    while (i < count && t.Signal[i] < x) ++i;
    int m = i;
    if (i == 1) m = 2;
    if (i == count - 1) m = count - 2;
    if (m < 2) m = 2;  // not reached: x lies above the start signal
    double sum = 0;
    for (int a = m - 2; a <= m + 1; ++a) {
      double term = t.Temp[a];
      for (int b = m - 2; b <= m + 1; ++b)
        if (b != a) term *= (x - t.Signal[b]) / (t.Signal[a] - t.Signal[b]);
      sum += term;
    }
    y[k] = sum;
  }

  double f0 = ApproxError(y.data());
  PatternSearch(y.data(), f0, 8, 0.1, 1e-16);
  fitY_ = y;
  fitError_ = f0;

  std::array<double, 8> codes{};
  for (int k = 0; k < 8; ++k) codes[k] = (y[k] - rangeStart) / width * 8191;
  return codes;
}

double RangeCalculator::ApproxError(const double* y) {
  ++evaluations;
  const double* temp = table_.Temp.data();
  const double* signal = table_.Signal.data();
  const std::array<double, 10>& X = nodeX_;
  double Y[10];
  Y[0] = rangeStart_;
  for (int k = 0; k < 8; ++k) Y[k + 1] = y[k];
  Y[9] = rangeEnd_;

  double sum = 0;
  int j = startIndex_ + 1;
  for (int s = 0; s < 9; ++s) {
    do {
      const double e = Y[s] + (Y[s + 1] - Y[s]) / (X[s + 1] - X[s]) * (signal[j] - X[s]) - temp[j];
      sum = sum + e * e;
      ++j;
      // Past the end entry the signal is above Xe anyway; the bound keeps the
      // walk off entries an earlier table left behind.
    } while (j <= endIndex_ && signal[j] < X[s + 1]);
  }
  return sum;
}

bool RangeCalculator::WalkFits() const {
  int j = startIndex_ + 1;
  for (int s = 0; s < 9; ++s) {
    if (j > endIndex_) return false;
    ++j;
    while (j <= endIndex_ && table_.Signal[j] < nodeX_[s + 1]) ++j;
  }
  return true;
}

std::vector<WalkPoint> RangeCalculator::Walk() const {
  std::vector<WalkPoint> points;
  int j = startIndex_ + 1;
  for (int s = 0; s < 9 && j <= endIndex_; ++s) {
    do {
      points.push_back({j, s});
      ++j;
    } while (j <= endIndex_ && table_.Signal[j] < nodeX_[s + 1]);
  }
  return points;
}

void RangeCalculator::PatternSearch(double* y, double& fBest, int n, double h, double hMin) {
  constexpr double kExpand = 2.0;
  constexpr double kReduce = 0.1;
  std::vector<double> base(n), trial(n), dir(n), cand(n);

  for (;;) {
    // A new cycle.
    const double fBase = fBest;
    base.assign(y, y + n);
    trial.assign(y, y + n);

    // Exploration along each coordinate; a failure everywhere shrinks h.
    for (;;) {
      for (int i = 0; i < n; ++i) {
        double d = h;
        for (;;) {
          trial[i] = y[i] + d;
          const double f = ApproxError(trial.data());
          if (f < fBest) {
            fBest = f;
            y[i] = trial[i];
            d = kExpand * d;
          } else if (d == h) {
            d = -h;
          } else if (d == -h) {
            trial[i] = y[i];
            break;
          } else if (d > 0) {
            d = h;
          } else {
            d = -h;
          }
        }
      }
      if (fBest < fBase) break;
      h = h * kReduce;
      if (h < hMin) return;
    }

    // Line search along the direction of progress of this cycle.
    for (int i = 0; i < n; ++i) dir[i] = y[i] - base[i];
    NormalizeDir(dir.data(), n);
    double d = h;
    for (;;) {
      for (int i = 0; i < n; ++i) cand[i] = y[i] + d * dir[i];
      const double f = ApproxError(cand.data());
      if (f < fBest) {
        fBest = f;
        for (int i = 0; i < n; ++i) y[i] = cand[i];
        d = kExpand * d;
      } else if (d == h) {
        d = -h;
      } else if (d == -h) {
        break;
      } else if (d > 0) {
        d = h;
      } else {
        d = -h;
      }
    }
  }
}

void RangeCalculator::NormalizeDir(double* v, int n) {
  double m = 0;
  for (int i = 0; i < n; ++i)
    if (std::fabs(v[i]) > m) m = std::fabs(v[i]);
  if (m == 0) return;  // not reached: the search only normalises a real move
  const double rm = 1 / m;
  for (int i = 0; i < n; ++i) v[i] *= rm;
  double q = 0;
  for (int i = 0; i < n; ++i) q += v[i] * v[i];
  double c = q;
  for (int k = 0; k < n; ++k) c = (q / c + c) * 0.5;
  const double rc = 1 / c;
  for (int i = 0; i < n; ++i) v[i] *= rc;
}

}  // namespace pmrange
