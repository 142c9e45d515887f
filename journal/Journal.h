#pragma once
// The journal of every write to an instrument: for each, who wrote what to
// which instrument, the parameter block as it was before and as it was read
// back after, and how the write ended. One SQLite file in WAL mode with
// synchronous commits, shared by the window and any number of pmctl
// processes: an entry is begun (its "before" block committed to the disk)
// before the write goes out and finished once the write has ended, so a
// write cut short by a crash or a pulled plug stays on record as not
// completed, with the configuration it overwrote.
//
// The file carries its schema version: an older file is brought forward on
// open, a newer one is refused untouched. A file that fails its integrity
// check is moved aside and a new one is started.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pmjournal {

class Database;

// The schema this program writes.
inline constexpr int kSchemaVersion = 2;

// How a write ended. Pending: begun and never finished (the program ended
// in the middle). Event: a happening with nothing to finish (output control).
enum class Outcome { Pending = 0, Done = 1, Failed = 2, Refused = 3, Event = 4 };
// "не завершено", "выполнено", ...
std::string OutcomeText(Outcome o);

struct Entry {
  std::int64_t id = 0;
  std::int64_t atMs = 0;  // milliseconds since 1970 (UTC)
  std::string at;         // local time with its UTC offset, "2026-12-09T03:00:00+03:00"
  std::string port;
  int address = 0;  // 1..32
  int model = 0;
  int version = 0;
  int access = 0;  // pmset::Access at the read: 0 unknown, 1 privileged, 2 non-privileged
  std::string identification;
  std::string operation;  // in the operator's words: "Запись (F10)", "Калибровка начала шкалы" ...
  std::string user;       // the operating-system login
  std::string host;
  std::string program;  // "pmservice 0.1.0"
  std::vector<std::uint8_t> before;  // the block as read before the write (bytes 1..L)
  std::vector<std::uint8_t> after;   // the block as read back after it; empty when not read
  Outcome outcome = Outcome::Pending;
  std::string step;    // where a failed write stopped
  int result = 0;      // the exchange's result code there
  std::string detail;  // free text: the file loaded, the output value ...
};

struct Filter {
  std::optional<std::string> port;
  std::optional<int> address;
  std::optional<int> model;
  std::optional<std::int64_t> sinceMs;  // inclusive
  std::optional<std::int64_t> untilMs;  // exclusive
  std::optional<std::string> operation;
  std::size_t limit = 0;  // 0: all
};

// Anything the journal cannot do; what() is the operator's message naming
// the file and the cause.
class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// $XDG_DATA_HOME/pmservice/journal.sqlite, or ~/.local/share/pmservice/.
std::string DefaultPath();

// The current time in the entry's two forms.
std::int64_t NowMs();
std::string LocalTimeText(std::int64_t atMs);

// The login and host of this process.
std::string UserName();
std::string UserFullName();  // the account's full name, or the login
std::string HostName();

class Journal {
 public:
  struct Opened;
  // Opens the journal at `path`, creating it and its folders when missing.
  // Throws JournalError when it cannot be used (no permission, a newer
  // schema, the disk full ...).
  static Opened Open(const std::string& path);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  const std::string& Path() const { return m_path; }

  // Records the entry as begun (its outcome Pending) and returns its id once
  // it is on the disk. Time, user and host are filled in when empty.
  std::int64_t Begin(Entry entry);
  // Completes an entry begun before.
  void Finish(std::int64_t id, const std::vector<std::uint8_t>& after, Outcome outcome, const std::string& step = {},
              int result = 0, const std::string& detail = {});
  // An entry with nothing to finish.
  std::int64_t Record(Entry entry);

  // Newest first.
  std::vector<Entry> Query(const Filter& filter) const;
  std::optional<Entry> Get(std::int64_t id) const;

 private:
  Journal(std::string path, std::unique_ptr<Database> db);
  std::int64_t Insert(Entry& entry);

  std::string m_path;
  std::unique_ptr<Database> m_db;
};

struct Journal::Opened {
  std::unique_ptr<Journal> journal;
  // Set when a damaged file was moved aside and a new one started.
  std::string notice;
};

}  // namespace pmjournal
