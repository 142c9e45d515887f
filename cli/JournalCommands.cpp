#include "JournalCommands.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

#include "Commands.h"
#include "EntryText.h"
#include "FileAccess.h"
#include "Report.h"
#include "TeamSync.h"

namespace pmcli {

namespace {

// Text as it was recorded when it is UTF-8; otherwise each byte that is not
// part of a valid sequence written as \xNN, so that one entry with a
// foreign host name cannot stop the listing.
std::string Utf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    bool valid = n > 0 && i + n <= text.size();
    for (std::size_t k = 1; valid && k < n; ++k) valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 0x2;
    if (valid && n > 1) {
      // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
      std::uint32_t cp = b & (0xFF >> (n + 1));
      for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
      static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
      valid = cp >= kLeast[n] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (valid) {
      out.append(text, i, n);
      i += n;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
      out += escaped;
      ++i;
    }
  }
  return out;
}

nlohmann::json Json(const pmjournal::Entry& e) {
  nlohmann::json changes = nlohmann::json::array();
  for (const pmset::Row& r : pmjournal::Compare(e))
    if (r.differs)
      changes.push_back({{"key", r.key}, {"label", Utf8(r.label)}, {"before", Utf8(r.mine)}, {"after", Utf8(r.theirs)}});
  return {{"id", e.id},
          {"time", Utf8(e.at)},
          {"port", Utf8(e.port)},
          {"address", e.address},
          {"model", e.model},
          {"version", e.version},
          {"identification", Utf8(e.identification)},
          {"operation", Utf8(e.operation)},
          {"outcome", Utf8(pmjournal::OutcomeLine(e))},
          {"user", Utf8(e.user)},
          {"host", Utf8(e.host)},
          {"program", Utf8(e.program)},
          {"detail", Utf8(e.detail)},
          {"before", pmjournal::Hex(e.before)},
          {"before_read", e.beforeReadMs > 0 ? nlohmann::json(pmjournal::LocalTimeText(e.beforeReadMs)) : nlohmann::json()},
          {"sent", pmjournal::Hex(e.sent)},
          {"after", pmjournal::Hex(e.after)},
          {"changes", changes}};
}

}  // namespace

int JournalList(std::ostream& out, const pmjournal::History& journal, const pmjournal::Filter& filter, bool json) {
  // One entry at a time, whatever the journal's size; a reader that has
  // gone away (a closed pipe) ends the listing.
  bool first = true;
  if (json) out << '[';
  journal.ForEach(filter, [&](const pmjournal::Entry& e) {
    if (json) {
      // Each entry as an element of the array, indented as the whole would be.
      std::string element = Json(e).dump(2);
      std::string indented = "  ";
      for (const char c : element) {
        indented += c;
        if (c == '\n') indented += "  ";
      }
      out << (first ? "\n" : ",\n") << indented;
    } else {
      out << e.id << '\t' << e.at << '\t' << e.port << '\t' << e.address << '\t' << e.identification << '\t'
          << e.operation << '\t' << pmjournal::OutcomeLine(e) << '\t' << e.user << '\n';
    }
    first = false;
    return out.good();
  });
  if (json) out << (first ? "]\n" : "\n]\n");
  return kDone;
}

int JournalShow(std::ostream& out, std::ostream& err, const pmjournal::History& journal, std::int64_t id) {
  const auto e = journal.Get(id);
  if (!e) {
    Report(err, "В журнале " + journal.Where() + " нет записи " + std::to_string(id));
    return kFileRefused;
  }
  out << "Запись " << e->id << ": " << e->operation << ", " << pmjournal::OutcomeLine(*e) << '\n'
      << "Время: " << e->at << '\n'
      << "Прибор: " << e->identification << ", порт " << e->port << ", устройство " << e->address << '\n'
      << "Пользователь: " << e->user << "@" << e->host << ", " << e->program << '\n';
  if (!e->detail.empty()) out << "Подробности: " << e->detail << '\n';
  if (const std::string read = pmjournal::BeforeReadText(*e); !read.empty()) out << "Значения «до»: " << read << '\n';
  const bool second = !e->after.empty() || !e->sent.empty();
  out << "  Параметр\tДо\t" << pmjournal::SecondColumn(*e) << '\n';
  for (const pmset::Row& r : pmjournal::Compare(*e))
    out << (r.differs ? "* " : "  ") << r.label << '\t' << r.mine << '\t' << (second ? r.theirs : "") << '\n';
  return kDone;
}

int JournalExport(std::ostream& err, const pmjournal::History& journal, const pmjournal::Filter& filter,
                  const std::string& file) {
  const std::string failure = pmjournal::ExportCsv(journal, filter, file);
  if (!failure.empty()) {
    Report(err, "Не удалось записать файл: " + failure);
    return kFileRefused;
  }
  return kDone;
}

std::variant<pmjournal::ServerAddress, int> ServerOf(std::ostream& err, const std::string& server) {
  if (server.empty()) {
    Report(err, "Сервер журнала изменений не задан: ключ --journal-server, переменная PMSERVICE_JOURNAL_SERVER "
                "или «Сервер журнала изменений…» в окне программы.");
    return kUsage;
  }
  auto parsed = pmjournal::ParseServerAddress(server);
  if (const auto* why = std::get_if<std::string>(&parsed)) {
    Report(err, *why);
    return kUsage;
  }
  return std::get<pmjournal::ServerAddress>(std::move(parsed));
}

int JournalSync(std::ostream& out, std::ostream& err, const std::string& path, const std::string& server) {
  const auto address = ServerOf(err, server);
  if (const int* code = std::get_if<int>(&address)) return *code;
  const pmjournal::SyncReport r = pmjournal::SyncOnce(path, std::get<pmjournal::ServerAddress>(address));
  out << "Отправлено на сервер журнала изменений: " << r.sent << "; ждут отправки: " << r.waiting << '\n';
  if (!r.error.empty()) Report(err, r.error);
  if (!r.reached) return kServerUnreached;
  return r.everything ? kDone : kServerIncomplete;
}

}  // namespace pmcli
