#pragma once
// The team server's address: a PostgreSQL connection URI
// (postgresql://user@host:port/database?sslmode=verify-full&sslrootcert=...)
// or libpq's key=value form. A password never belongs in it: it would end up
// in the settings file, a command line or a message. libpq takes it from
// its password file (~/.pgpass) or PGPASSWORD; an address carrying one is
// refused, and whatever is shown of an address never carries one.

#include <map>
#include <string>
#include <variant>

namespace pmjournal {

struct ServerAddress {
  // libpq's connection keywords as the address gives them.
  std::map<std::string, std::string> keywords;
  // For the operator: "engineer@db.plant.local:5432/pmservice".
  std::string Shown() const;
  std::string Keyword(const std::string& name) const;
};

// The address parsed; or why it cannot be used, in the operator's words
// (with any password in it removed).
std::variant<ServerAddress, std::string> ParseServerAddress(const std::string& text);

// The text with any password taken out: "postgresql://u:secret@h/db" ->
// "postgresql://u@h/db", "password=secret" dropped.
std::string WithoutPassword(const std::string& text);

// The server every program of ours sends to: `chosen` (the window's choice)
// when set, else $PMSERVICE_JOURNAL_SERVER; "" when none is configured.
std::string ConfiguredServer(const std::string& chosen);

}  // namespace pmjournal
