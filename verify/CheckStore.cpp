#include "CheckStore.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <variant>

#include "CheckTables.h"
#include "Database.h"

namespace pmverify {

namespace {

using pmjournal::Database;
using pmjournal::Statement;
using pmjournal::TableColumn;

using Value = std::variant<std::int64_t, double, std::string, std::monostate>;

Value Optional(const std::optional<double>& v) { return v ? Value(*v) : Value(std::monostate{}); }
Value Int(long long v) { return Value(std::int64_t{v}); }

std::string Ids(const std::vector<std::int64_t>& ids) {
  std::string text;
  for (std::int64_t id : ids) text += (text.empty() ? "" : " ") + std::to_string(id);
  return text;
}

std::vector<std::int64_t> IdsFrom(const std::string& text) {
  std::vector<std::int64_t> ids;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    std::int64_t id = 0;
    const auto [next, ec] = std::from_chars(p, end, id);
    if (ec != std::errc()) break;
    ids.push_back(id);
    p = next;
    while (p < end && *p == ' ') ++p;
  }
  return ids;
}

// A check's row, every column but the id, in the order of kCheckColumns.
std::vector<Value> CheckRow(const CheckRecord& c) {
  const Setup& s = c.setup;
  return {Int(c.visit),
          Int(static_cast<int>(c.stage)),
          Int(c.atMs),
          c.at,
          c.port,
          Int(c.address),
          Int(c.scale.model),
          Int(c.scale.version),
          c.identification,
          c.scale.sensor,
          Int(static_cast<int>(c.scale.input)),
          Int(c.scale.root),
          c.scale.lo,
          c.scale.hi,
          Int(static_cast<int>(s.tolerance.kind)),
          s.tolerance.value,
          Int(s.readings),
          Int(s.intervalMs),
          Int(static_cast<int>(s.coldJunction)),
          s.equipment.name,
          s.equipment.serial,
          s.equipment.certificate,
          s.equipment.validUntil,
          s.conditions.ambient,
          s.conditions.humidity,
          c.user,
          c.fullName,
          c.host,
          c.program,
          Int(c.verdict.pass),
          c.verdict.maxError,
          c.verdict.maxReduced,
          Ids(c.adjustments)};
}

CheckRecord CheckOf(const Statement& r) {
  CheckRecord c;
  c.id = r.Int(0);
  c.visit = r.Int(1);
  c.stage = r.Int(2) == 2 ? Stage::AsLeft : Stage::AsFound;
  c.atMs = r.Int(3);
  c.at = r.Text(4);
  c.port = r.Text(5);
  c.address = static_cast<int>(r.Int(6));
  c.scale.model = static_cast<int>(r.Int(7));
  c.scale.version = static_cast<int>(r.Int(8));
  c.identification = r.Text(9);
  c.scale.sensor = r.Text(10);
  c.scale.input = static_cast<InputKind>(r.Int(11));
  c.scale.root = r.Int(12) != 0;
  c.scale.lo = r.Real(13);
  c.scale.hi = r.Real(14);
  Setup& s = c.setup;
  s.tolerance.kind = r.Int(15) == 1 ? ToleranceKind::Absolute : ToleranceKind::Reduced;
  s.tolerance.value = r.Real(16);
  s.readings = static_cast<int>(r.Int(17));
  s.intervalMs = static_cast<int>(r.Int(18));
  s.coldJunction = r.Int(19) == 1 ? ColdJunction::Copper : ColdJunction::Compensated;
  s.equipment = {r.Text(20), r.Text(21), r.Text(22), r.Text(23)};
  s.conditions = {r.Text(24), r.Text(25)};
  c.user = r.Text(26);
  c.fullName = r.Text(27);
  c.host = r.Text(28);
  c.program = r.Text(29);
  c.verdict.pass = r.Int(30) != 0;
  c.verdict.maxError = r.Real(31);
  c.verdict.maxReduced = r.Real(32);
  c.adjustments = IdsFrom(r.Text(33));
  return c;
}

// A point's row, every column but the id, in the order of kCheckPointColumns.
std::vector<Value> PointRow(std::int64_t checkId, int n, const PointRecord& p) {
  const PointResult& r = p.result;
  return {Int(checkId), Int(n),       r.reference, Optional(p.signal.value), p.signal.unit,
          p.signal.text, Optional(p.signal.coldJunction), p.applied, ReadingsText(r.readings), r.mean,
          r.error,       r.reduced,   Optional(r.current), r.currentExpected, Optional(r.currentReduced),
          Int(r.pass)};
}

std::optional<double> OptionalAt(const Statement& r, int column) {
  if (r.IsNull(column)) return std::nullopt;
  return r.Real(column);
}

PointRecord PointOf(const Statement& r) {
  PointRecord p;
  p.result.reference = r.Real(3);
  p.signal.value = OptionalAt(r, 4);
  p.signal.unit = r.Text(5);
  p.signal.text = r.Text(6);
  p.signal.coldJunction = OptionalAt(r, 7);
  p.applied = r.Text(8);
  p.result.readings = ReadingsFrom(r.Text(9));
  p.result.mean = r.Real(10);
  p.result.error = r.Real(11);
  p.result.reduced = r.Real(12);
  p.result.current = OptionalAt(r, 13);
  p.result.currentExpected = r.Real(14);
  p.result.currentReduced = OptionalAt(r, 15);
  p.result.pass = r.Int(16) != 0;
  return p;
}

std::string Names(std::span<const TableColumn> columns) {
  std::string list;
  for (const TableColumn& c : columns) list += (list.empty() ? "" : ", ") + std::string(c.name);
  return list;
}

std::int64_t Insert(Database& db, const char* table, std::span<const TableColumn> columns,
                    const std::vector<Value>& values) {
  std::string marks;
  for (std::size_t i = 0; i < values.size(); ++i) marks += i ? ",?" : "?";
  Statement s(db, std::string("INSERT INTO ") + table + " (" + Names(columns.subspan(1)) + ") VALUES (" + marks +
                      ")");
  int at = 1;
  for (const Value& v : values) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) s.Bind(at, *i);
    else if (const auto* d = std::get_if<double>(&v)) s.Bind(at, *d);
    else if (const auto* t = std::get_if<std::string>(&v)) s.Bind(at, *t);
    else s.BindNull(at);
    ++at;
  }
  s.Step();
  return sqlite3_last_insert_rowid(db.Handle());
}

bool HasChecks(const pmjournal::Journal& journal) {
  return journal.SchemaVersion() >= pmjournal::kCheckTables[0].since;
}

// The checks the query chooses, their points filled in.
std::vector<CheckRecord> Select(const pmjournal::Journal& journal, const std::string& where,
                                const std::function<void(Statement&)>& bind, std::size_t limit) {
  std::vector<CheckRecord> checks;
  if (!HasChecks(journal)) return checks;
  journal.UseDatabase("не читается", [&](Database& db) {
    checks.clear();
    Statement s(db, "SELECT " + Names(pmjournal::kCheckColumns) + " FROM checks" + where +
                        " ORDER BY at_ms DESC, id DESC LIMIT " + std::to_string(limit));
    bind(s);
    while (s.Step()) checks.push_back(CheckOf(s));
    Statement points(db, "SELECT " + Names(pmjournal::kCheckPointColumns) +
                             " FROM check_points WHERE check_id = ? ORDER BY n");
    for (CheckRecord& c : checks) {
      points.Bind(1, c.id);
      while (points.Step()) c.points.push_back(PointOf(points));
      points.Reset();
    }
  });
  return checks;
}

}  // namespace

std::string StageText(Stage s) { return s == Stage::AsLeft ? "как оставлено" : "как найдено"; }

std::string ReadingsText(const std::vector<double>& readings) {
  std::string text;
  for (double v : readings) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec != std::errc()) continue;
    if (!text.empty()) text += ' ';
    text.append(buf, end);
  }
  return text;
}

std::vector<double> ReadingsFrom(const std::string& text) {
  std::vector<double> readings;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && readings.size() < static_cast<std::size_t>(kMaxReadings) * 4) {
    double v = 0;
    const auto [next, ec] = std::from_chars(p, end, v);
    if (ec != std::errc()) break;
    readings.push_back(v);
    p = next;
    while (p < end && *p == ' ') ++p;
  }
  return readings;
}

std::int64_t StoreCheck(pmjournal::Journal& journal, CheckRecord& check) {
  if (check.atMs == 0) check.atMs = pmjournal::NowMs();
  if (check.at.empty()) check.at = pmjournal::LocalTimeText(check.atMs);
  if (check.user.empty()) check.user = pmjournal::UserName();
  if (check.fullName.empty()) check.fullName = pmjournal::UserFullName();
  if (check.host.empty()) check.host = pmjournal::HostName();
  journal.UseDatabase("проверка не сохранена", [&](Database& db) {
    db.Execute("BEGIN IMMEDIATE");
    try {
      check.id = Insert(db, "checks", pmjournal::kCheckColumns, CheckRow(check));
      int n = 0;
      for (const PointRecord& p : check.points)
        Insert(db, "check_points", pmjournal::kCheckPointColumns, PointRow(check.id, ++n, p));
      db.Execute("COMMIT");
    } catch (...) {
      sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  });
  return check.id;
}

std::vector<CheckRecord> ListChecks(const pmjournal::Journal& journal, const CheckFilter& f) {
  std::string where = " WHERE 1";
  if (f.port) where += " AND port = ?";
  if (f.address) where += " AND address = ?";
  if (f.sinceMs) where += " AND at_ms >= ?";
  if (f.untilMs) where += " AND at_ms < ?";
  return Select(
      journal, where,
      [&](Statement& s) {
        int n = 1;
        if (f.port) s.Bind(n++, *f.port);
        if (f.address) s.Bind(n++, std::int64_t{*f.address});
        if (f.sinceMs) s.Bind(n++, *f.sinceMs);
        if (f.untilMs) s.Bind(n++, *f.untilMs);
      },
      f.limit);
}

std::optional<CheckRecord> GetCheck(const pmjournal::Journal& journal, std::int64_t id) {
  auto found = Select(journal, " WHERE id = ?", [id](Statement& s) { s.Bind(1, id); }, 1);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

Visit VisitOf(const pmjournal::Journal& journal, std::int64_t id) {
  Visit v;
  std::optional<CheckRecord> check = GetCheck(journal, id);
  if (!check) return v;
  const std::int64_t first = check->stage == Stage::AsLeft && check->visit ? check->visit : check->id;
  v.asFound = check->stage == Stage::AsFound ? check : GetCheck(journal, first);
  auto left = Select(
      journal, " WHERE visit = ? AND stage = 2", [first](Statement& s) { s.Bind(1, first); }, 1);
  if (check->stage == Stage::AsLeft) v.asLeft = check;
  else if (!left.empty()) v.asLeft = std::move(left.front());
  return v;
}

std::vector<std::int64_t> EntriesBetween(const pmjournal::Journal& journal, const std::string& port, int address,
                                         std::int64_t sinceMs, std::int64_t untilMs) {
  pmjournal::Filter f;
  f.port = port;
  f.address = address;
  f.sinceMs = sinceMs;
  f.untilMs = untilMs;
  f.oldestFirst = true;
  f.limit = 1000;
  std::vector<std::int64_t> ids;
  journal.ForEach(f, [&ids](const pmjournal::Entry& e) {
    ids.push_back(e.id);
    return true;
  });
  return ids;
}

}  // namespace pmverify
