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
  std::tm tm{};
  int used = 0;
  if (text.size() == 10) {
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &used) != 3) return {};
  } else if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                         &tm.tm_min, &used) == 5) {
    if (static_cast<std::size_t>(used) < text.size()) {
      int more = 0;
      if (std::sscanf(text.c_str() + used, ":%2d%n", &tm.tm_sec, &more) != 1) return {};
      used += more;
    }
  } else {
    return {};
  }
  if (static_cast<std::size_t>(used) != text.size() || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 ||
      tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
    return {};
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return {};
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
