#include "JournalCommands.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <ostream>

#include "Commands.h"
#include "EntryText.h"
#include "FileAccess.h"
#include "Report.h"

namespace pmcli {

namespace {

nlohmann::json Json(const pmjournal::Entry& e) {
  nlohmann::json changes = nlohmann::json::array();
  for (const pmset::Row& r : pmjournal::Compare(e))
    if (r.differs) changes.push_back({{"key", r.key}, {"label", r.label}, {"before", r.mine}, {"after", r.theirs}});
  return {{"id", e.id},
          {"time", e.at},
          {"port", e.port},
          {"address", e.address},
          {"model", e.model},
          {"version", e.version},
          {"identification", e.identification},
          {"operation", e.operation},
          {"outcome", pmjournal::OutcomeLine(e)},
          {"user", e.user},
          {"host", e.host},
          {"program", e.program},
          {"detail", e.detail},
          {"before", pmjournal::Hex(e.before)},
          {"after", pmjournal::Hex(e.after)},
          {"changes", changes}};
}

}  // namespace

std::optional<std::int64_t> ParseLocalTime(const std::string& text) {
  // Digits where the pattern has 'd' and its separators elsewhere, nothing
  // else (no signs, no spaces).
  constexpr const char* kPattern = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != 10 && text.size() != 16 && text.size() != 19) return {};
  for (std::size_t i = 0; i < text.size(); ++i)
    if (kPattern[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != kPattern[i]) return {};
  const auto number = [&text](std::size_t at, std::size_t digits) {
    int n = 0;
    for (std::size_t i = at; i < at + digits; ++i) n = n * 10 + (text[i] - '0');
    return n;
  };
  const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const bool withTime = text.size() > 10;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  if (withTime) {
    tm.tm_hour = number(11, 2);
    tm.tm_min = number(14, 2);
    tm.tm_sec = text.size() > 16 ? number(17, 2) : 0;
  }
  // The day must be one of its month's: mktime would take 31 November for
  // 1 December.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap) || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 59)
    return {};
  const std::tm asked = tm;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return {};
  // A time the clocks skip when they go forward comes back moved past the
  // gap: there is no such moment. A day that begins in such a gap begins
  // when the clocks go on.
  if (tm.tm_year != asked.tm_year || tm.tm_mon != asked.tm_mon || tm.tm_mday != asked.tm_mday) return {};
  if (withTime && (tm.tm_hour != asked.tm_hour || tm.tm_min != asked.tm_min || tm.tm_sec != asked.tm_sec)) return {};
  return static_cast<std::int64_t>(t) * 1000;
}

int JournalList(std::ostream& out, const pmjournal::Journal& journal, const pmjournal::Filter& filter, bool json) {
  const auto entries = journal.Query(filter);
  if (json) {
    nlohmann::json all = nlohmann::json::array();
    for (const auto& e : entries) all.push_back(Json(e));
    out << all.dump(2) << '\n';
    return kDone;
  }
  for (const auto& e : entries)
    out << e.id << '\t' << e.at << '\t' << e.port << '\t' << e.address << '\t' << e.identification << '\t'
        << e.operation << '\t' << pmjournal::OutcomeLine(e) << '\t' << e.user << '\n';
  return kDone;
}

int JournalShow(std::ostream& out, std::ostream& err, const pmjournal::Journal& journal, std::int64_t id) {
  const auto e = journal.Get(id);
  if (!e) {
    Report(err, "В журнале нет записи " + std::to_string(id));
    return kUsage;
  }
  out << "Запись " << e->id << ": " << e->operation << ", " << pmjournal::OutcomeLine(*e) << '\n'
      << "Время: " << e->at << '\n'
      << "Прибор: " << e->identification << ", порт " << e->port << ", устройство " << e->address << '\n'
      << "Пользователь: " << e->user << "@" << e->host << ", " << e->program << '\n';
  if (!e->detail.empty()) out << "Подробности: " << e->detail << '\n';
  out << "  Параметр\tДо\tПосле\n";
  for (const pmset::Row& r : pmjournal::Compare(*e))
    out << (r.differs ? "* " : "  ") << r.label << '\t' << r.mine << '\t' << (e->after.empty() ? "" : r.theirs)
        << '\n';
  return kDone;
}

int JournalExport(std::ostream& err, const pmjournal::Journal& journal, const pmjournal::Filter& filter,
                  const std::string& file) {
  const std::string failure = pmset::WriteFileAtomically(file, pmjournal::CsvText(journal.Query(filter)));
  if (!failure.empty()) {
    Report(err, "Не удалось записать файл: " + failure);
    return kFileRefused;
  }
  return kDone;
}

}  // namespace pmcli
