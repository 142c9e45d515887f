#pragma once
// A private PostgreSQL 15 server (Debian `postgresql`) started by a test: a
// cluster made with initdb in a temporary folder, on a Unix socket in that
// folder and a free port on 127.0.0.1, run as `nobody` when the test runs as
// root (the server refuses root), and stopped with the test. The team
// journal's schema (docs/team-server.sql) is installed into each database
// NewDatabase() makes, with a login role of pmservice_writer.

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Ser2net.h"  // FreeLoopbackPort

namespace testsupport {

// A TCP port on 127.0.0.1 that takes connections and never says a word: a
// server that has hung, or a network that swallows what is sent.
class SilentListener {
 public:
  SilentListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_fd, 64);
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
  }
  ~SilentListener() { ::close(m_fd); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int Port() const { return m_port; }

 private:
  int m_fd = -1;
  int m_port = 0;
};

class PgServer {
 public:
  static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
  static bool Installed() { return ::access((std::string(kBin) + "/initdb").c_str(), X_OK) == 0; }
  // The login role NewDatabase() gives the writer's rights.
  static constexpr const char* kWriter = "pmwriter";

  PgServer() {
    char pattern[] = "/tmp/pmpg-XXXXXX";
    m_root = ::mkdtemp(pattern);
    if (::geteuid() == 0) {
      if (const passwd* pw = ::getpwnam("nobody")) {
        m_uid = pw->pw_uid;
        m_gid = pw->pw_gid;
      }
      ::chown(m_root.c_str(), m_uid, m_gid);
    }
    const bool made = RunAs({std::string(kBin) + "/initdb", "-D", Data(), "-U", "postgres", "-A", "trust",
                             "--no-sync", "-E", "UTF8", "--locale=C"}) == 0;
    if (made) {
      std::ofstream(Data() + "/postgresql.conf", std::ios::app)
          << "listen_addresses = '127.0.0.1'\nunix_socket_directories = '" << m_root
          << "'\nfsync = off\nsynchronous_commit = off\nfull_page_writes = off\nshared_buffers = 16MB\n"
             "max_connections = 40\n";
    }
    // Another program may take the free port first: the server then ends,
    // and another port is tried (the last setting in the file holds).
    for (int attempt = 0; made && !m_ok && attempt < 3; ++attempt) {
      m_port = FreeLoopbackPort();
      std::ofstream(Data() + "/postgresql.conf", std::ios::app) << "port = " << m_port << "\n";
      m_ok = Start();
    }
  }
  ~PgServer() {
    Stop();
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  bool Ok() const { return m_ok; }
  int Port() const { return m_port; }
  const std::string& Root() const { return m_root; }
  std::string Data() const { return m_root + "/data"; }

  bool Start() {
    if (m_pid > 0) return true;
    // Nothing is allocated after the fork: other threads may hold the heap.
    const std::string logPath = m_root + "/log", postgres = std::string(kBin) + "/postgres", data = Data();
    m_pid = ::fork();
    if (m_pid == 0) {
      const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(log, 1);
      ::dup2(log, 2);
      BecomeOwner();
      ::execl(postgres.c_str(), "postgres", "-D", data.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < giveUp) {
      if (PQping(Conninfo("postgres", "postgres").c_str()) == PQPING_OK) return true;
      if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
    return false;
  }

  // Fast shutdown (sessions ended, as an administrator stopping the
  // server), or immediate (as a crash).
  void Stop(bool immediate = false) {
    if (m_pid <= 0) return;
    ::kill(m_pid, immediate ? SIGQUIT : SIGINT);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

  // Runs `sql` as the superuser; "" when it went, else the server's message.
  std::string Sql(const std::string& sql, const std::string& db = "postgres") const {
    PGconn* c = PQconnectdb(Conninfo(db, "postgres").c_str());
    std::string error;
    if (PQstatus(c) != CONNECTION_OK) {
      error = PQerrorMessage(c);
    } else {
      PGresult* r = PQexec(c, sql.c_str());
      if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK) error = PQerrorMessage(c);
      PQclear(r);
    }
    PQfinish(c);
    return error;
  }

  // The first column of the first row of a query, as the superuser.
  std::string Value(const std::string& sql, const std::string& db) const {
    PGconn* c = PQconnectdb(Conninfo(db, "postgres").c_str());
    PGresult* r = PQexec(c, sql.c_str());
    std::string v = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "?";
    PQclear(r);
    PQfinish(c);
    return v;
  }

  // A new database with the team journal's schema and a login role of the
  // writer (trusted, or with `password` when given).
  std::string NewDatabase(bool schema = true) {
    const std::string name = "team" + std::to_string(++m_databases);
    Sql("CREATE DATABASE " + name);
    if (schema) {
      std::ifstream file(PM_TEAM_SERVER_SQL);
      std::stringstream text;
      text << file.rdbuf();
      m_schemaError = Sql(text.str(), name);
      if (Value("SELECT count(*) FROM pg_roles WHERE rolname = '" + std::string(kWriter) + "'", "postgres") == "0")
        Sql(std::string("CREATE ROLE ") + kWriter + " LOGIN IN ROLE pmservice_writer");
    }
    return name;
  }
  const std::string& SchemaError() const { return m_schemaError; }

  // The address of a database for the programs: over TCP, or the socket.
  std::string Uri(const std::string& db, const std::string& user = kWriter, bool tcp = true) const {
    return tcp ? "postgresql://" + user + "@127.0.0.1:" + std::to_string(m_port) + "/" + db
               : "postgresql://" + user + "@/" + db + "?host=" + m_root + "&port=" + std::to_string(m_port);
  }

  // Replaces pg_hba.conf (the superuser keeps its socket) and reloads.
  void Hba(const std::string& lines) {
    std::ofstream(Data() + "/pg_hba.conf") << "local all all trust\n" << lines;
    Sql("SELECT pg_reload_conf()");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  // Makes a self-signed certificate with openssl and turns TLS on; false
  // when openssl is missing.
  bool EnableTls() {
    const std::string crt = Data() + "/server.crt", key = Data() + "/server.key";
    const std::string cmd = "openssl req -new -x509 -days 2 -nodes -subj /CN=localhost -keyout " + key + " -out " +
                            crt + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
    ::chmod(key.c_str(), 0600);
    ::chown(key.c_str(), m_uid, m_gid);
    ::chown(crt.c_str(), m_uid, m_gid);
    Sql("ALTER SYSTEM SET ssl = on");
    return true;
  }

 private:
  std::string Conninfo(const std::string& db, const std::string& user) const {
    return "host=" + m_root + " port=" + std::to_string(m_port) + " dbname=" + db + " user=" + user +
           " connect_timeout=5";
  }

  // In a forked child: the server's own user when the test runs as root.
  void BecomeOwner() const {
    if (::geteuid() != 0) return;
    ::setgroups(0, nullptr);
    if (::setgid(m_gid) != 0 || ::setuid(m_uid) != 0) ::_exit(126);
  }

  int RunAs(const std::vector<std::string>& args) const {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      BecomeOwner();
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string m_root;
  uid_t m_uid = ::geteuid();
  gid_t m_gid = ::getegid();
  int m_port = 0;
  pid_t m_pid = -1;
  bool m_ok = false;
  int m_databases = 0;
  std::string m_schemaError;
};

}  // namespace testsupport
