#pragma once
// The service team's change journal on a PostgreSQL server (its schema is
// docs/team-server.sql): one connection through libpq, bounded in time,
// that sends local entries and lists the team's history.
//
// Sending is idempotent: each entry is keyed by its UUID, so an entry sent
// twice (the connection lost after the server committed, two laptops with
// a copy of one journal) is held once; one sent while not finished is
// completed by a later send of it finished; a finished one never changes.

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "Journal.h"
#include "ServerAddress.h"

typedef struct pg_conn PGconn;

namespace pmjournal {

// The server schema this program sends to.
inline constexpr int kServerSchemaVersion = 1;

// The server could not be used; what() is the operator's message naming
// the server (without a password) and the cause.
class ServerError : public JournalError {
 public:
  ServerError(const std::string& what, bool reached) : JournalError(what), m_reached(reached) {}
  // Whether the connection had been made (the server refused something,
  // or the connection was lost meanwhile).
  bool Reached() const { return m_reached; }

 private:
  bool m_reached;
};

struct ServerLimits {
  int connectS = 5;        // to resolve the name and connect, each address
  int statementMs = 10000;  // each statement on the server
};

class TeamServer : public History {
 public:
  // Connects and checks the server's schema; throws ServerError. A
  // connection under way gives up within 0.1 s of `cancel` being set.
  explicit TeamServer(const ServerAddress& address, ServerLimits limits = {},
                      const std::atomic<bool>* cancel = nullptr);
  ~TeamServer() override;
  TeamServer(const TeamServer&) = delete;
  TeamServer& operator=(const TeamServer&) = delete;

  // Sends the entries in one transaction: all of them are on the server
  // when it returns. Throws ServerError.
  void Send(const std::vector<Entry>& entries);

  // The team's entries; an entry's id is the server's number of it.
  void ForEach(const Filter& filter, const std::function<bool(const Entry&)>& visit) const override;
  std::size_t Count(const Filter& filter) const override;
  std::optional<Entry> Get(std::int64_t id) const override;
  std::string Where() const override { return m_shown; }

 private:
  [[noreturn]] void Fail(const std::string& doing) const;
  void Run(const char* sql) const;

  PGconn* m_conn = nullptr;
  std::string m_shown;
};

// Why a connection failed, in the operator's words, from libpq's message.
std::string ConnectionFailure(const std::string& shown, const std::string& user, const std::string& libpqMessage,
                              int connectS);

}  // namespace pmjournal
