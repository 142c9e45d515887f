#pragma once
// pmctl's journal commands: the entries (newest first, filtered) as lines or
// JSON, one entry with every field before and after, and the filtered
// entries as a CSV file, from the local journal or the team server; and the
// waiting entries sent to the team server. Each returns the program's exit
// code.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <variant>

#include "Journal.h"
#include "ServerAddress.h"

namespace pmcli {

int JournalList(std::ostream& out, const pmjournal::History& journal, const pmjournal::Filter& filter, bool json);
int JournalShow(std::ostream& out, std::ostream& err, const pmjournal::History& journal, std::int64_t id);
int JournalExport(std::ostream& err, const pmjournal::History& journal, const pmjournal::Filter& filter,
                  const std::string& file);
// Sends the entries of the journal at `path` that wait for the team server
// at `server` (the address as configured): kDone when everything went,
// kServerUnreached when the server was not reached, kServerIncomplete when
// entries are left waiting.
int JournalSync(std::ostream& out, std::ostream& err, const std::string& path, const std::string& server);
// The server at `server`, or why not (reported, with its exit code).
std::variant<pmjournal::ServerAddress, int> ServerOf(std::ostream& err, const std::string& server);

}  // namespace pmcli
