#pragma once
// A journal entry for people: its before and after blocks as the compare
// table of the settings files shows them, one line of text per entry, and
// CSV in the spreadsheet conventions of the read recording (UTF-8 with a
// byte-order mark, semicolons, CRLF line ends).

#include <string>
#include <vector>

#include "Fields.h"
#include "Journal.h"
#include "SettingsFile.h"

namespace pmjournal {

// Every field before (mine) and after (theirs), calibration codes included.
// An entry whose block was not read back compares with the block sent
// (a write that failed on the way); one with neither, or of another length,
// compares the before block with itself: nothing is marked.
std::vector<pmset::Row> Compare(const Entry& e);
// The caption of Compare's second column: "После", "Отправлено (не
// подтверждено)" or "После (не прочитано)".
std::string SecondColumn(const Entry& e);
// Whether the entry carries a block worth a table: one sent or read back,
// or a write never finished.
bool HasBlocks(const Entry& e);
// When the "before" block was read, for an entry whose block was read some
// time before the write: "до записи, прочитано в 16:20:11" (with the date
// when another day); "" when it was read right before.
std::string BeforeReadText(const Entry& e);
// The fields that differ, "Уставка 1, %: 10,0 -> 20,0; ...".
std::string ChangesText(const Entry& e);

// The entry's "before" block as a settings file of the instrument it was
// read from (no measurement).
pmset::Snapshot BeforeAsSettings(const Entry& e);

// The block as hex bytes, "0A 1F ...".
std::string Hex(const std::vector<std::uint8_t>& block);

// "выполнено", or "ошибка: блок (код 3)" with the step and the result.
std::string OutcomeLine(const Entry& e);

std::string CsvHeader();
std::string CsvRow(const Entry& e);
// A CSV field, quoted when it holds a separator, a quote or a line end.
std::string CsvQuoted(const std::string& text);
// The whole file: mark, header and one line per entry.
std::string CsvText(const std::vector<Entry>& entries);
// The entries the filter chooses, newest first, written as that file to
// `path` one entry at a time (the shared atomic writer); "" when written,
// else why not.
std::string ExportCsv(const History& journal, const Filter& filter, const std::string& path);

}  // namespace pmjournal
