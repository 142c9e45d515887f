#include "ServerAddress.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <memory>

namespace pmjournal {

std::string ServerAddress::Keyword(const std::string& name) const {
  const auto it = keywords.find(name);
  return it == keywords.end() ? std::string() : it->second;
}

std::string ServerAddress::Shown() const {
  std::string host = Keyword("host");
  if (host.empty()) host = Keyword("hostaddr");
  std::string shown = Keyword("user");
  if (!shown.empty()) shown += "@";
  shown += host.empty() ? std::string("localhost") : host;
  if (const std::string port = Keyword("port"); !port.empty()) shown += ":" + port;
  if (const std::string db = Keyword("dbname"); !db.empty()) shown += "/" + db;
  return shown;
}

std::string WithoutPassword(const std::string& text) {
  std::string out = text;
  // user:password@ in a URI.
  if (const auto scheme = out.find("://"); scheme != std::string::npos) {
    const auto start = scheme + 3;
    const auto at = out.find('@', start);
    const auto slash = out.find('/', start);
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
      const auto colon = out.find(':', start);
      if (colon != std::string::npos && colon < at) out.erase(colon, at - colon);
    }
  }
  // password=... as a query parameter or a keyword.
  for (std::size_t at = out.find("password="); at != std::string::npos; at = out.find("password=", at)) {
    auto end = out.find_first_of("& ", at);
    if (end == std::string::npos) end = out.size();
    std::size_t begin = at;
    if (begin > 0 && (out[begin - 1] == '&' || out[begin - 1] == ' ')) --begin;
    else if (end < out.size()) ++end;
    out.erase(begin, end - begin);
    at = begin;
  }
  return out;
}

std::variant<ServerAddress, std::string> ParseServerAddress(const std::string& text) {
  const std::string shown = WithoutPassword(text);
  if (text.find_first_not_of(" \t") == std::string::npos) return std::string("Адрес сервера журнала не задан.");
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> options(PQconninfoParse(text.c_str(), &error),
                                                                          PQconninfoFree);
  if (error) PQfreemem(error);  // English, and may quote the password
  if (!options)
    return "Адрес сервера журнала не понят: " + shown +
           "\nНужен адрес вида postgresql://пользователь@сервер:5432/база.";
  ServerAddress address;
  for (const PQconninfoOption* o = options.get(); o->keyword; ++o)
    if (o->val) address.keywords[o->keyword] = o->val;
  if (address.keywords.count("password"))
    return "Адрес сервера журнала содержит пароль: " + shown +
           "\nПароль не хранится в адресе: задайте его в файле ~/.pgpass (или в переменной PGPASSWORD).";
  return address;
}

std::string ConfiguredServer(const std::string& chosen) {
  if (!chosen.empty()) return chosen;
  const char* env = std::getenv("PMSERVICE_JOURNAL_SERVER");
  return env ? env : "";
}

}  // namespace pmjournal
