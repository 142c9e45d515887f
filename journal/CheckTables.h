#pragma once
// The tables the accuracy checks are kept in, beside the journal's entries
// in the same file: one row per check and one per point. The journal
// creates them with the schema version that added them and checks them when
// it opens a file; the checks' own storage (verify/CheckStore) builds its
// statements from the same lists.

#include <span>

namespace pmjournal {

struct TableColumn {
  const char* name;
  const char* type;
};

struct Table {
  const char* name;
  std::span<const TableColumn> columns;  // the first is the key, "id"
  int since;                             // the schema version that added it
  const char* index;                     // the columns of its index "<name>_index"
};

inline constexpr TableColumn kCheckColumns[] = {
    {"id", "INTEGER"},          {"visit", "INTEGER"},         {"stage", "INTEGER"},
    {"at_ms", "INTEGER"},       {"at", "TEXT"},               {"port", "TEXT"},
    {"address", "INTEGER"},     {"model", "INTEGER"},         {"version", "INTEGER"},
    {"identification", "TEXT"}, {"sensor", "TEXT"},           {"input", "INTEGER"},
    {"root", "INTEGER"},        {"range_lo", "REAL"},         {"range_hi", "REAL"},
    {"tolerance_kind", "INTEGER"}, {"tolerance", "REAL"},     {"readings", "INTEGER"},
    {"interval_ms", "INTEGER"}, {"cold_junction", "INTEGER"}, {"equipment", "TEXT"},
    {"equipment_serial", "TEXT"}, {"equipment_certificate", "TEXT"}, {"equipment_valid", "TEXT"},
    {"ambient", "TEXT"},        {"humidity", "TEXT"},         {"user", "TEXT"},
    {"full_name", "TEXT"},      {"host", "TEXT"},             {"program", "TEXT"},
    {"pass", "INTEGER"},        {"max_error", "REAL"},        {"max_reduced", "REAL"},
    {"adjustments", "TEXT"},
};

inline constexpr TableColumn kCheckPointColumns[] = {
    {"id", "INTEGER"},          {"check_id", "INTEGER"},      {"n", "INTEGER"},
    {"reference", "REAL"},      {"signal", "REAL"},           {"signal_unit", "TEXT"},
    {"signal_text", "TEXT"},    {"cold_junction", "REAL"},    {"applied", "TEXT"},
    {"readings", "TEXT"},       {"mean", "REAL"},             {"error", "REAL"},
    {"reduced", "REAL"},        {"current", "REAL"},          {"current_expected", "REAL"},
    {"current_reduced", "REAL"}, {"pass", "INTEGER"},
};

inline constexpr Table kCheckTables[] = {
    {"checks", kCheckColumns, 4, "port, address, at_ms"},
    {"check_points", kCheckPointColumns, 4, "check_id, n"},
};

}  // namespace pmjournal
