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
// The file is marked as ours (SQLite's application id) and carries its
// schema version: an older file is brought forward on open, a newer one is
// refused untouched, and a file that is not our journal (a settings file,
// another program's database) is refused untouched. Opening checks only
// what is cheap: the header, the mark, the version and the tables. When
// SQLite reports damage the file gets the full check, and only a file that
// fails it is moved aside (under a lock every program of ours respects,
// and only the very file checked) and a new one started; an entry this
// program had begun is carried over into the new file.
//
// Each entry carries a UUID made when it is begun, its identity wherever it
// is copied, and whether the team's server holds it as it stands; the
// sender (TeamSync.h) sends the entries that wait, and finishing an entry
// makes it wait again.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pmjournal {

class Database;
class JournalFile;

// The schema this program writes.
inline constexpr int kSchemaVersion = 5;

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
  // When `before` was read, if earlier than the entry (the window writes the
  // block it read some time ago); 0 when it was read right before the write.
  std::int64_t beforeReadMs = 0;
  std::vector<std::uint8_t> sent;   // the block sent to the instrument; empty when none went out
  std::vector<std::uint8_t> after;  // the block as read back after it; empty when not read
  Outcome outcome = Outcome::Pending;
  std::string step;    // where a failed write stopped
  int result = 0;      // the exchange's result code there
  std::string detail;  // free text: the file loaded, the output value ...
  // The entry's identity wherever it is copied (a moved journal, the team
  // server): made when it is begun.
  std::string uuid;
  // Whether the team server holds the entry as it stands.
  bool shared = false;
};

struct Filter {
  std::optional<std::string> port;
  std::optional<int> address;
  std::optional<int> model;
  std::optional<std::int64_t> sinceMs;  // inclusive
  std::optional<std::int64_t> untilMs;  // exclusive
  std::optional<std::string> operation;
  std::size_t limit = 0;   // 0: all
  std::size_t offset = 0;  // newest entries skipped (the window's pages)
  bool oldestFirst = false;
};

// Anything the journal cannot do; what() is the operator's message naming
// the file and the cause.
class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// $XDG_DATA_HOME/pmservice/journal.sqlite, or ~/.local/share/pmservice/.
std::string DefaultPath();
// The journal every program of ours uses: `chosen` (the window's choice)
// when set, else $PMSERVICE_JOURNAL when set, else DefaultPath().
std::string ConfiguredPath(const std::string& chosen);

// The current time in the entry's two forms.
std::int64_t NowMs();
std::string LocalTimeText(std::int64_t atMs);

// A new random (version 4) UUID, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string NewUuid();

// The login and host of this process.
std::string UserName();
std::string UserFullName();  // the account's full name, or the login
std::string HostName();

// Where entries can be listed from: the local journal, the team server.
class History {
 public:
  virtual ~History() = default;
  // Newest first (or as the filter says), one entry at a time; stops when
  // `visit` returns false.
  virtual void ForEach(const Filter& filter, const std::function<bool(const Entry&)>& visit) const = 0;
  virtual std::size_t Count(const Filter& filter) const = 0;
  virtual std::optional<Entry> Get(std::int64_t id) const = 0;
  // Where the entries are, for the operator: a file's path, a server's address.
  virtual std::string Where() const = 0;
  std::vector<Entry> Query(const Filter& filter) const;
};

class Journal : public History {
 public:
  enum class Mode {
    Write,  // creates the file and its folders when missing
    Read,   // lists and exports: never creates, never changes; a read-only file or folder will do
  };
  struct Opened;
  // Opens the journal at `path`. Throws JournalError when it cannot be used
  // (no such file to read, not our journal, a newer schema, a network file
  // system, no permission, the disk full ...).
  static Opened Open(const std::string& path, Mode mode = Mode::Write);
  ~Journal() override;
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  const std::string& Path() const { return m_path; }

  // Records the entry as begun (its outcome Pending) and returns its id once
  // it is on the disk. Time, user and host are filled in when empty.
  std::int64_t Begin(Entry entry);
  // Completes an entry begun before: `sent` is the block that went out
  // (empty when none did), `after` the block read back (empty when not read).
  void Finish(std::int64_t id, const std::vector<std::uint8_t>& sent, const std::vector<std::uint8_t>& after,
              Outcome outcome, const std::string& step = {}, int result = 0, const std::string& detail = {});
  // An entry with nothing to finish.
  std::int64_t Record(Entry entry);

  // Newest first, one entry at a time, in memory independent of the
  // journal's size; stops when `visit` returns false.
  void ForEach(const Filter& filter, const std::function<bool(const Entry&)>& visit) const override;
  std::size_t Count(const Filter& filter) const override;
  // Copies every entry of `from`, oldest first, into this journal in one
  // transaction: all of them or none. Returns how many.
  std::size_t Append(const Journal& from);
  std::optional<Entry> Get(std::int64_t id) const override;
  std::string Where() const override { return m_path; }

  // The entries the team server does not hold as they stand, oldest first,
  // at most `limit`; and how many there are.
  std::vector<Entry> Waiting(std::size_t limit) const;
  std::size_t CountWaiting() const;
  // Marks entries as held by the server, each as it was sent: one finished
  // since it was read stays waiting.
  void MarkShared(const std::vector<Entry>& sent);

  // The schema of the file open: an older file opened to read stays at its
  // own version, without the tables added since.
  int SchemaVersion() const { return m_version; }
  // Runs `op` on the file's database as every statement of the journal runs
  // (under its lock, a damaged file moved aside): for the tables kept beside
  // the entries. Throws JournalError naming `doing` when it fails.
  void UseDatabase(const char* doing, const std::function<void(Database&)>& op) const { Use(doing, op); }

  // What happened to the file since the last call, for the operator: a
  // damaged file moved aside and a new one started. Empty when nothing did.
  std::string TakeNotice();

 private:
  struct Connection;
  static Connection Connect(const std::string& path, Mode mode);
  Journal(std::string path, Mode mode, Connection connection);
  std::int64_t Insert(Entry& entry);
  // Runs `op` on the live file under the shared lock: a file moved aside by
  // another program is left for the new one, a damaged one is checked and
  // moved aside, and an entry begun here is carried over each time.
  void Use(const char* doing, const std::function<void(Database&)>& op) const;
  void Reconnect() const;

  std::string m_path;
  Mode m_mode;
  // Declared before the database: our descriptor of the file outlives the
  // connection.
  mutable std::unique_ptr<JournalFile> m_file;
  mutable std::unique_ptr<Database> m_db;  // none: an empty file opened to read
  mutable int m_version;                   // the schema of the file open
  // Entries begun and not finished, by their id in the live file.
  mutable std::map<std::int64_t, Entry> m_pending;
  // Ids of entries carried into a new file: the old id, the new one.
  mutable std::map<std::int64_t, std::int64_t> m_renumbered;
  mutable std::string m_notice;
};

struct Journal::Opened {
  std::unique_ptr<Journal> journal;
  // Set when a damaged file was moved aside and a new one started.
  std::string notice;
};

}  // namespace pmjournal
