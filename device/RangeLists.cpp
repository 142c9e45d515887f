#include "RangeLists.h"

#include <algorithm>
#include <charconv>

namespace pmdev {

std::string FloatText(float value) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return std::string(buf, res.ptr);
}

std::optional<float> ParseItemText(std::string_view text) {
  float value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::fixed);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

ScaleList FillStartList(std::span<const RangeRow> table, int row) {
  ScaleList list;
  std::vector<float> starts;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const float s = table[i].start;
    if (i > 0 && s == table[i - 1].start) continue;
    if (std::find(starts.begin(), starts.end(), s) != starts.end()) continue;
    starts.push_back(s);
    list.items.push_back(FloatText(s));
  }
  if (row >= 0 && static_cast<std::size_t>(row) < table.size()) {
    const float wanted = table[static_cast<std::size_t>(row)].start;
    const auto it = std::find(starts.begin(), starts.end(), wanted);
    list.selected = static_cast<int>(it - starts.begin());
    list.value = wanted;
  }
  return list;
}

ScaleList FillEndList(std::span<const RangeRow> table, float start, int row) {
  ScaleList list;
  std::vector<float> ends;
  for (const RangeRow& r : table) {
    if (r.start != start) continue;
    ends.push_back(r.end);
    list.items.push_back(FloatText(r.end));
  }
  if (row >= 0 && static_cast<std::size_t>(row) < table.size()) {
    const float wanted = table[static_cast<std::size_t>(row)].end;
    const auto it = std::find(ends.begin(), ends.end(), wanted);
    if (it != ends.end()) {
      list.selected = static_cast<int>(it - ends.begin());
      list.value = wanted;
    }
  }
  return list;
}

int FindRow(std::span<const RangeRow> table, float start, float end, int r) {
  for (std::size_t i = table.size(); i-- > 0;)
    if (table[i].start == start && table[i].end == end) return static_cast<int>(i);
  return r;
}

int FirstRowWithStart(std::span<const RangeRow> table, float start) {
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].start == start) return static_cast<int>(i);
  return 0;
}

ScaleSetup ScaleFromImage(std::span<const RangeRow> table, int rangeNo, int rangeMin, int rangeMax) {
  ScaleSetup s;
  if (rangeNo >= 0 && static_cast<std::size_t>(rangeNo) < table.size()) {
    s.standard = true;
    s.starts = FillStartList(table, rangeNo);
    s.tmin = *s.starts.value;  // a row inside the table always selects its start
    s.ends = FillEndList(table, s.tmin, rangeNo);
    s.tmax = *s.ends.value;
    s.savedRange = rangeNo;
  } else {
    s.tmin = static_cast<float>(rangeMin);
    s.tmax = static_cast<float>(rangeMax);
    s.savedRange = 0;
  }
  return s;
}

}  // namespace pmdev
