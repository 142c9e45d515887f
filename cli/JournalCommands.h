#pragma once
// pmctl's journal commands: the entries (newest first, filtered) as lines or
// JSON, one entry with every field before and after, and the filtered
// entries as a CSV file. Each returns the program's exit code.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "Journal.h"

namespace pmcli {

int JournalList(std::ostream& out, const pmjournal::Journal& journal, const pmjournal::Filter& filter, bool json);
int JournalShow(std::ostream& out, std::ostream& err, const pmjournal::Journal& journal, std::int64_t id);
int JournalExport(std::ostream& err, const pmjournal::Journal& journal, const pmjournal::Filter& filter,
                  const std::string& file);

// "2026-12-09" or "2026-12-09T10:30[:15]" (local time) as milliseconds
// since 1970; nothing for any other text.
std::optional<std::int64_t> ParseLocalTime(const std::string& text);

}  // namespace pmcli
