#pragma once
// The checks in the change journal's file: stored whole in one transaction,
// listed by instrument and period, a visit (as found and as left) fetched
// together. A file of a schema before the checks (opened to read) has none.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CheckRecord.h"
#include "Journal.h"

namespace pmverify {

struct CheckFilter {
  std::optional<std::string> port;
  std::optional<int> address;
  std::optional<std::int64_t> sinceMs;  // inclusive
  std::optional<std::int64_t> untilMs;  // exclusive
  std::size_t limit = 1000;             // newest first, at most this many
};

// Stores the check and its points; fills in id, time, user and host when
// empty. Returns the id. Throws pmjournal::JournalError.
std::int64_t StoreCheck(pmjournal::Journal& journal, CheckRecord& check);
// Newest first.
std::vector<CheckRecord> ListChecks(const pmjournal::Journal& journal, const CheckFilter& filter);
std::optional<CheckRecord> GetCheck(const pmjournal::Journal& journal, std::int64_t id);
// The visit a check belongs to: its as-found check and the latest as-left
// check of it (either may be missing).
struct Visit {
  std::optional<CheckRecord> asFound;
  std::optional<CheckRecord> asLeft;
};
Visit VisitOf(const pmjournal::Journal& journal, std::int64_t id);

// The journal's entries of that instrument from `sinceMs` up to `untilMs`,
// oldest first: the adjustment between two checks.
std::vector<std::int64_t> EntriesBetween(const pmjournal::Journal& journal, const std::string& port, int address,
                                         std::int64_t sinceMs, std::int64_t untilMs);

// The readings as stored ("250.12 250.1"), and back.
std::string ReadingsText(const std::vector<double>& readings);
std::vector<double> ReadingsFrom(const std::string& text);

}  // namespace pmverify
