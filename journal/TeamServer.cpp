#include "TeamServer.h"

#include <libpq-fe.h>
#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "AddressLookup.h"

namespace pmjournal {

namespace {

using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;
Result Own(PGresult* r) { return Result(r, PQclear); }

constexpr const char* kColumns =
    "id, at_ms, at, port, address, model, version, access, identification, operation, \"user\", host, program,"
    " before, after, outcome, step, result, detail, sent, before_read_ms, uuid";

constexpr const char* kUpsert =
    "INSERT INTO pmservice.entries (uuid, local_id, at_ms, at, port, address, model, version, access,"
    " identification, operation, \"user\", host, program, before, before_read_ms, sent, after, outcome, step,"
    " result, detail) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18,"
    " $19, $20, $21, $22)"
    // Held once: sent again, an entry changes only from not finished to finished.
    " ON CONFLICT (uuid) DO UPDATE SET sent = EXCLUDED.sent, after = EXCLUDED.after, outcome = EXCLUDED.outcome,"
    " step = EXCLUDED.step, result = EXCLUDED.result, detail = EXCLUDED.detail"
    " WHERE pmservice.entries.outcome = 0 AND EXCLUDED.outcome <> 0";

std::string Prefix(const std::string& shown) { return "Сервер журнала изменений " + shown + ": "; }

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The host's first address in digits, found within the connect time, so
// that a name server that does not answer cannot hold the connection
// longer than connect_timeout promises.
std::string Resolved(const std::string& shown, const std::string& host, const std::string& port, int connectS) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(connectS);
  const pmlink::AddressLookup found = pmlink::LookUpAddresses(host, port.empty() ? "5432" : port, deadline);
  if (found.timedOut)
    throw ServerError(Prefix(shown) + "имя " + host + " не найдено за " + std::to_string(connectS) +
                          " с: сервер имён не отвечает.",
                      false);
  if (found.rc != 0 || !found.found)
    throw ServerError(Prefix(shown) + "имя " + host + " не найдено: проверьте адрес сервера и сеть.", false);
  char digits[NI_MAXHOST] = {};
  if (::getnameinfo(found.found->ai_addr, found.found->ai_addrlen, digits, sizeof digits, nullptr, 0,
                    NI_NUMERICHOST) != 0)
    throw ServerError(Prefix(shown) + "имя " + host + " не найдено.", false);
  return digits;
}

std::vector<std::uint8_t> RowBytes(const PGresult* r, int row, int column) {
  std::size_t n = 0;
  unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, column)), &n);
  std::vector<std::uint8_t> out(raw, raw + (raw ? n : 0));
  PQfreemem(raw);
  return out;
}

Entry RowEntry(const PGresult* r, int row) {
  const auto text = [&](int c) { return std::string(PQgetvalue(r, row, c)); };
  const auto number = [&](int c) { return std::strtoll(PQgetvalue(r, row, c), nullptr, 10); };
  Entry e;
  e.id = number(0);
  e.atMs = number(1);
  e.at = text(2);
  e.port = text(3);
  e.address = static_cast<int>(number(4));
  e.model = static_cast<int>(number(5));
  e.version = static_cast<int>(number(6));
  e.access = static_cast<int>(number(7));
  e.identification = text(8);
  e.operation = text(9);
  e.user = text(10);
  e.host = text(11);
  e.program = text(12);
  e.before = RowBytes(r, row, 13);
  e.after = RowBytes(r, row, 14);
  e.outcome = static_cast<Outcome>(number(15));
  e.step = text(16);
  e.result = static_cast<int>(number(17));
  e.detail = text(18);
  e.sent = RowBytes(r, row, 19);
  e.beforeReadMs = number(20);
  e.uuid = text(21);
  e.shared = true;
  return e;
}

// The filter as a WHERE clause with its parameters ($1 ...).
struct ServerFilter {
  std::string sql = " WHERE true";
  std::vector<std::string> values;
  void Add(const char* condition, std::string value) {
    values.push_back(std::move(value));
    sql += std::string(" AND ") + condition + " $" + std::to_string(values.size());
  }
};

ServerFilter ServerWhere(const Filter& f) {
  ServerFilter w;
  if (f.port) w.Add("port =", *f.port);
  if (f.address) w.Add("address =", std::to_string(*f.address));
  if (f.model) w.Add("model =", std::to_string(*f.model));
  if (f.sinceMs) w.Add("at_ms >=", std::to_string(*f.sinceMs));
  if (f.untilMs) w.Add("at_ms <", std::to_string(*f.untilMs));
  if (f.operation) w.Add("operation =", *f.operation);
  return w;
}

std::vector<const char*> Pointers(const std::vector<std::string>& values) {
  std::vector<const char*> out;
  for (const std::string& v : values) out.push_back(v.c_str());
  return out;
}

constexpr const char* kCancelled = "cancelled";

// Drives a connection started with PQconnectStartParams to its end, in
// slices short enough to notice `cancel`: "" when it is made, else libpq's
// message ("timeout expired" when the time ran out, kCancelled when
// cancelled).
std::string Connected(PGconn* conn, std::chrono::seconds timeout, const std::atomic<bool>* cancel) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  for (;;) {
    if (PQstatus(conn) == CONNECTION_BAD || state == PGRES_POLLING_FAILED) return PQerrorMessage(conn);
    if (state == PGRES_POLLING_OK) return {};
    if (cancel && *cancel) return kCancelled;
    if (std::chrono::steady_clock::now() >= deadline) return "timeout expired";
    pollfd p{PQsocket(conn), static_cast<short>(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
    const int ready = ::poll(&p, 1, 100);
    if (ready != 0) state = PQconnectPoll(conn);
  }
}

}  // namespace

std::string ConnectionFailure(const std::string& shown, const std::string& user, const std::string& m,
                              int connectS) {
  const std::string who = user.empty() ? std::string() : " " + user;
  std::string cause;
  if (Has(m, "password authentication failed"))
    cause = "пароль пользователя" + who + " не подошёл. Пароль берётся из файла ~/.pgpass или переменной PGPASSWORD.";
  else if (Has(m, "no password supplied"))
    cause = "сервер требует пароль пользователя" + who +
            ", а его нет ни в файле ~/.pgpass, ни в переменной PGPASSWORD.";
  else if (Has(m, "no encryption") || Has(m, "SSL off"))
    cause = "сервер принимает только защищённые соединения (TLS). Добавьте к адресу sslmode=verify-full и "
            "корневой сертификат (sslrootcert).";
  else if (Has(m, "does not support SSL"))
    cause = "сервер не поддерживает защищённые соединения (TLS), а адрес их требует (sslmode).";
  else if (Has(m, "invalid response to SSL negotiation") || Has(m, "expected authentication request") ||
           Has(m, "server closed the connection unexpectedly"))
    cause = "по этому адресу отвечает не сервер PostgreSQL: проверьте адрес и порт.";
  else if (Has(m, "certificate"))
    cause = "сертификат сервера не подтверждён: проверьте корневой сертификат (sslrootcert) и имя сервера.";
  else if (Has(m, "SSL"))
    cause = "не удалось установить защищённое соединение (TLS) с сервером.";
  else if (Has(m, "timeout expired"))
    cause = "сервер не ответил за " + std::to_string(connectS) + " с.";
  else if (Has(m, "Connection refused"))
    cause = "соединение отвергнуто: сервер не запущен или не принимает соединения на этом порту.";
  else if (Has(m, "No such file or directory"))
    cause = "сервер на этом компьютере не запущен.";
  else if (Has(m, "could not translate host name"))
    cause = "имя сервера не найдено: проверьте адрес сервера и сеть.";
  else if (Has(m, "unreachable") || Has(m, "No route to host"))
    cause = "сеть до сервера недоступна.";
  else if (Has(m, "database") && Has(m, "does not exist"))
    cause = "на сервере нет такой базы данных.";
  else if (Has(m, "role") && Has(m, "does not exist"))
    cause = "на сервере нет пользователя" + who + ".";
  else if (Has(m, "pg_hba.conf"))
    cause = "сервер не допускает пользователя" + who + " с этого компьютера (pg_hba.conf).";
  else
    cause = "не удалось соединиться с сервером.";
  return Prefix(shown) + cause;
}

TeamServer::TeamServer(const ServerAddress& address, ServerLimits limits, const std::atomic<bool>* cancel)
    : m_shown(address.Shown()) {
  std::map<std::string, std::string> k = address.keywords;
  const int given = k.count("connect_timeout") ? std::atoi(k["connect_timeout"].c_str()) : 0;
  const int connectS = given > 0 ? std::min(given, limits.connectS) : limits.connectS;
  k["connect_timeout"] = std::to_string(connectS);
  k["options"] = (k.count("options") ? k["options"] + " " : std::string()) +
                 "-c statement_timeout=" + std::to_string(limits.statementMs);
  if (!k.count("application_name")) k["application_name"] = "pmservice";
  // A server gone silent in the middle of a send: the connection ends
  // instead of waiting for it.
  k["tcp_user_timeout"] = std::to_string(limits.statementMs);
  k["keepalives"] = "1";
  k["keepalives_idle"] = "5";
  k["keepalives_interval"] = "2";
  k["keepalives_count"] = "3";
  const std::string host = k.count("host") ? k["host"] : std::string();
  if (!host.empty() && host[0] != '/' && host.find(',') == std::string::npos && !k.count("hostaddr"))
    k["hostaddr"] = Resolved(m_shown, host, k.count("port") ? k["port"] : std::string(), connectS);
  std::vector<const char*> keys, values;
  for (const auto& [key, value] : k) {
    keys.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  m_conn = PQconnectStartParams(keys.data(), values.data(), 0);
  if (!m_conn) throw ServerError(Prefix(m_shown) + "нет памяти для соединения.", false);
  const std::string failure = Connected(m_conn, std::chrono::seconds(connectS), cancel);
  if (!failure.empty()) {
    const std::string why = failure == kCancelled ? Prefix(m_shown) + "соединение прервано."
                                                 : ConnectionFailure(m_shown, address.Keyword("user"), failure, connectS);
    PQfinish(m_conn);
    m_conn = nullptr;
    throw ServerError(why, false);
  }
  try {
    const Result r = Own(PQexec(m_conn, "SELECT version FROM pmservice.schema_version"));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
      const char* state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
      const std::string code = state ? state : "";
      if (code == "42P01" || code == "3F000")
        throw ServerError(Prefix(m_shown) + "в этой базе данных нет журнала изменений: администратору нужно "
                                            "выполнить в ней файл team-server.sql.",
                          true);
      Fail("журнал сервера не читается");
    }
    const int version = PQntuples(r.get()) == 1 ? std::atoi(PQgetvalue(r.get(), 0, 0)) : 0;
    if (version != kServerSchemaVersion)
      throw ServerError(Prefix(m_shown) + "схема журнала на сервере " + std::to_string(version) +
                            ", эта программа знает схему " + std::to_string(kServerSchemaVersion) + ".",
                        true);
    const Result prepared = Own(PQprepare(m_conn, "upsert", kUpsert, 0, nullptr));
    if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) Fail("записи не отправлены");
  } catch (...) {
    PQfinish(m_conn);
    m_conn = nullptr;
    throw;
  }
}

TeamServer::~TeamServer() {
  if (m_conn) PQfinish(m_conn);
}

void TeamServer::Fail(const std::string& doing) const {
  if (PQstatus(m_conn) == CONNECTION_BAD || Has(PQerrorMessage(m_conn), "terminating connection"))
    throw ServerError(Prefix(m_shown) + doing + ": связь с сервером прервана.", true);
  const std::string m = PQerrorMessage(m_conn);
  if (Has(m, "permission denied"))
    throw ServerError(Prefix(m_shown) + doing + ": у пользователя нет прав на журнал (роль pmservice_writer).", true);
  if (Has(m, "statement timeout"))
    throw ServerError(Prefix(m_shown) + doing + ": сервер не ответил за отведённое время.", true);
  if (Has(m, "pmservice:"))
    throw ServerError(Prefix(m_shown) + doing + ": сервер не позволяет менять завершённые записи.", true);
  throw ServerError(Prefix(m_shown) + doing + ": сервер отклонил запрос.", true);
}

void TeamServer::Run(const char* sql) const {
  const Result r = Own(PQexec(m_conn, sql));
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) Fail("записи не отправлены");
}

void TeamServer::Send(const std::vector<Entry>& entries) {
  if (entries.empty()) return;
  Run("BEGIN");
  try {
    for (const Entry& e : entries) {
      const std::string text[] = {e.uuid,
                                  std::to_string(e.id),
                                  std::to_string(e.atMs),
                                  e.at,
                                  e.port,
                                  std::to_string(e.address),
                                  std::to_string(e.model),
                                  std::to_string(e.version),
                                  std::to_string(e.access),
                                  e.identification,
                                  e.operation,
                                  e.user,
                                  e.host,
                                  e.program};
      const std::vector<std::uint8_t>* blocks[] = {&e.before, &e.sent, &e.after};
      const std::string tail[] = {std::to_string(static_cast<int>(e.outcome)), e.step, std::to_string(e.result),
                                  e.detail};
      const std::string beforeRead = std::to_string(e.beforeReadMs);
      constexpr int n = 22;
      const char* values[n];
      int lengths[n] = {};
      int formats[n] = {};
      for (int i = 0; i < 14; ++i) values[i] = text[i].c_str();
      // The blocks go as binary bytea; an empty one must still point somewhere
      // (a null pointer is SQL NULL).
      const auto block = [&](int at, const std::vector<std::uint8_t>& b) {
        values[at] = b.empty() ? "" : reinterpret_cast<const char*>(b.data());
        lengths[at] = static_cast<int>(b.size());
        formats[at] = 1;
      };
      block(14, *blocks[0]);
      values[15] = beforeRead.c_str();
      block(16, *blocks[1]);
      block(17, *blocks[2]);
      for (int i = 0; i < 4; ++i) values[18 + i] = tail[i].c_str();
      const Result r = Own(PQexecPrepared(m_conn, "upsert", n, values, lengths, formats, 0));
      if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) Fail("записи не отправлены");
    }
    Run("COMMIT");
  } catch (...) {
    if (PQstatus(m_conn) == CONNECTION_OK) PQclear(PQexec(m_conn, "ROLLBACK"));
    throw;
  }
}

void TeamServer::ForEach(const Filter& f, const std::function<bool(const Entry&)>& visit) const {
  const ServerFilter w = ServerWhere(f);
  std::string sql = std::string("SELECT ") + kColumns + " FROM pmservice.entries" + w.sql +
                    (f.oldestFirst ? " ORDER BY at_ms, id" : " ORDER BY at_ms DESC, id DESC");
  if (f.limit) sql += " LIMIT " + std::to_string(f.limit);
  if (f.offset) sql += " OFFSET " + std::to_string(f.offset);
  const auto params = Pointers(w.values);
  if (!PQsendQueryParams(m_conn, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(), nullptr,
                         nullptr, 0))
    Fail("журнал сервера не читается");
  // One row at a time: memory independent of the history's size.
  PQsetSingleRowMode(m_conn);
  bool wanted = true;
  bool failed = false;
  std::exception_ptr thrown;
  for (;;) {
    const Result r = Own(PQgetResult(m_conn));
    if (!r) break;
    const ExecStatusType status = PQresultStatus(r.get());
    if (status == PGRES_SINGLE_TUPLE && wanted && !thrown) {
      try {
        if (!visit(RowEntry(r.get(), 0))) wanted = false;
      } catch (...) {
        thrown = std::current_exception();
      }
      if (!wanted || thrown) {
        // The rest is not wanted: the server stops sending it.
        if (PGcancel* cancel = PQgetCancel(m_conn)) {
          char buffer[256];
          PQcancel(cancel, buffer, sizeof buffer);
          PQfreeCancel(cancel);
        }
      }
    } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && wanted && !thrown) {
      failed = true;
    }
  }
  if (thrown) std::rethrow_exception(thrown);
  if (failed) Fail("журнал сервера не читается");
}

std::size_t TeamServer::Count(const Filter& f) const {
  const ServerFilter w = ServerWhere(f);
  const std::string sql = "SELECT count(*) FROM pmservice.entries" + w.sql;
  const auto params = Pointers(w.values);
  const Result r = Own(PQexecParams(m_conn, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                                    nullptr, nullptr, 0));
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) Fail("журнал сервера не читается");
  return static_cast<std::size_t>(std::strtoull(PQgetvalue(r.get(), 0, 0), nullptr, 10));
}

std::optional<Entry> TeamServer::Get(std::int64_t id) const {
  const std::string sql = std::string("SELECT ") + kColumns + " FROM pmservice.entries WHERE id = $1";
  const std::string number = std::to_string(id);
  const char* params[] = {number.c_str()};
  const Result r = Own(PQexecParams(m_conn, sql.c_str(), 1, nullptr, params, nullptr, nullptr, 0));
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) Fail("журнал сервера не читается");
  if (PQntuples(r.get()) == 0) return std::nullopt;
  return RowEntry(r.get(), 0);
}

}  // namespace pmjournal
