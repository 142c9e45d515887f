#include "EntryText.h"

#include <cstdio>
#include <ctime>

#include "CsvField.h"
#include "FileAccess.h"

namespace pmjournal {

namespace {

constexpr const char* kEol = "\r\n";

pmset::Access AccessOf(int access) {
  switch (access) {
    case 1: return pmset::Access::Privileged;
    case 2: return pmset::Access::NonPrivileged;
    default: return pmset::Access::Unknown;
  }
}

}  // namespace

namespace {

// The block Compare sets against "before".
const std::vector<std::uint8_t>& Second(const Entry& e) {
  if (!e.after.empty() && e.after.size() == e.before.size()) return e.after;
  if (!e.sent.empty() && e.sent.size() == e.before.size()) return e.sent;
  return e.before;
}

}  // namespace

std::vector<pmset::Row> Compare(const Entry& e) {
  return pmset::Compare({e.model, e.version, e.before, AccessOf(e.access)},
                        {e.model, e.version, Second(e), AccessOf(e.access)}, pmset::Part::Whole);
}

std::string SecondColumn(const Entry& e) {
  if (&Second(e) == &e.after) return "После";
  if (&Second(e) == &e.sent) return "Отправлено (не подтверждено)";
  return "После (не прочитано)";
}

bool HasBlocks(const Entry& e) {
  return e.outcome == Outcome::Pending || !e.sent.empty() || !e.after.empty();
}

std::string BeforeReadText(const Entry& e) {
  if (e.beforeReadMs <= 0) return {};
  const auto local = [](std::int64_t ms, const char* format) {
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return std::string(text);
  };
  const std::string day = local(e.beforeReadMs, "%Y-%m-%d");
  return "до записи, прочитано " + (day == local(e.atMs, "%Y-%m-%d") ? std::string() : day + " ") + "в " +
         local(e.beforeReadMs, "%H:%M:%S");
}

std::string ChangesText(const Entry& e) {
  std::string out;
  for (const pmset::Row& r : Compare(e)) {
    if (!r.differs) continue;
    if (!out.empty()) out += "; ";
    out += r.label + ": " + r.mine + " -> " + r.theirs;
  }
  return out;
}

pmset::Snapshot BeforeAsSettings(const Entry& e) {
  pmset::Snapshot s;
  s.program = e.program;
  s.savedAt = e.at;
  s.port = e.port;
  s.address = e.address;
  s.model = e.model;
  s.version = e.version;
  s.correction = e.before.size() >= 5 ? e.before[4] >> 4 : 0;
  s.access = AccessOf(e.access);
  s.block = e.before;
  return s;
}

std::string Hex(const std::vector<std::uint8_t>& block) {
  std::string out;
  char byte[4];
  for (std::uint8_t b : block) {
    std::snprintf(byte, sizeof byte, "%02X", b);
    if (!out.empty()) out += ' ';
    out += byte;
  }
  return out;
}

std::string OutcomeLine(const Entry& e) {
  std::string line = OutcomeText(e.outcome);
  if (!e.step.empty()) line += ": " + e.step;
  if (e.outcome == Outcome::Failed) line += " (код " + std::to_string(e.result) + ")";
  return line;
}

std::string CsvHeader() {
  return "Номер;Время;Порт;Адрес;Прибор;Операция;Результат;Изменения;Пользователь;Компьютер;Программа;"
         "Подробности;Блок до;Блок после;Блок отправлен;Блок до прочитан";
}

std::string CsvRow(const Entry& e) {
  // Every field but the two numbers is text, much of it from outside (the
  // port, the identification, user and host names).
  std::string line = std::to_string(e.id) + ';' + pmset::CsvTextField(e.at) + ';' + pmset::CsvTextField(e.port) +
                     ';' + std::to_string(e.address);
  for (const std::string& f : {e.identification, e.operation, OutcomeLine(e), ChangesText(e), e.user, e.host,
                               e.program, e.detail, Hex(e.before), Hex(e.after), Hex(e.sent), BeforeReadText(e)})
    line += ';' + pmset::CsvTextField(f);
  return line;
}

std::string CsvText(const std::vector<Entry>& entries) {
  std::string text = "\xEF\xBB\xBF" + CsvHeader() + kEol;
  for (const Entry& e : entries) text += CsvRow(e) + kEol;
  return text;
}

std::string ExportCsv(const History& journal, const Filter& filter, const std::string& path) {
  return pmset::WriteFileAtomically(path, [&](const pmset::FileWriter& write) {
    if (!write("\xEF\xBB\xBF" + CsvHeader() + kEol)) return std::string();
    try {
      journal.ForEach(filter, [&](const Entry& e) { return write(CsvRow(e) + kEol); });
    } catch (const JournalError& failure) {
      return std::string(failure.what());
    }
    return std::string();
  });
}

std::string CsvQuoted(const std::string& text) { return pmset::CsvTextField(text); }

}  // namespace pmjournal
