#pragma once
// The commands of pmctl on an open link. Each prints its result on `out`,
// its failure (in the window's words where the window has them, each line
// starting "pmctl: ") on `err`, and returns the program's exit code.

#include <iosfwd>
#include <string>

#include "Comportclass.h"
#include "Fields.h"
#include "Journal.h"
#include "SettingsFile.h"

namespace pmcli {

// Exit codes.
enum Exit : int {
  kDone = 0,
  kUsage = 1,         // wrong command line
  kLinkFailure = 2,   // the port does not open, an exchange failed or the line dropped, no instrument
  kFileRefused = 3,   // the file cannot be read or written, or is refused; the output cannot be written
  kDifference = 4,    // verification after a write differs; diff found differences
  kInstrumentRefused = 5,  // a model the program does not serve, a write refused, a part not taken
  kJournalRefused = 6,     // the change journal cannot record the write; nothing was written
  kJournalUnfinished = 7,  // the instrument was written, the journal could not finish its entry
  kCheckFailed = 8,        // verify: the instrument is not within its permissible error
  kNotChecked = 9,         // verify: the check could not be done or stored
  kServerUnreached = 10,   // journal sync, --server: the team server was not reached
  kServerIncomplete = 11,  // journal sync: the server was reached, entries are left waiting
};

struct Target {
  TComPortClass& link;
  std::ostream& out;
  std::ostream& err;
  int address = 1;  // 1..32
  // Where every write is recorded; none when the user chose --no-journal.
  pmjournal::Journal* journal = nullptr;
};

int Ports(std::ostream& out);
// attempts: per address.
int Scan(TComPortClass& link, std::ostream& out, std::ostream& err, int count, int attempts);
int Read(const Target& t, bool json);
int Save(const Target& t, const std::string& file);

// A settings file read and checked, before any port is opened.
int ReadFile(std::ostream& err, const std::string& path, pmset::Snapshot& out);
// Settings only (everything false) or everything.
int Load(const Target& t, const pmset::Snapshot& file, bool everything);
int Diff(const Target& t, const pmset::Snapshot& file, pmset::Part part);

}  // namespace pmcli
