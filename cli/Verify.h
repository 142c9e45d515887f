#pragma once
// pmctl verify: the accuracy check of the window from a terminal or a
// script. For each point it prints what to apply («Подайте 10,153 мВ
// (250 °C) и нажмите Enter») and reads one line: empty, or the output
// current measured in mA, and after a ";" what was applied where the
// program computes no signal. The check is stored in the change journal;
// --list and --pdf show stored ones.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "CheckStore.h"
#include "Commands.h"

namespace pmcli {

struct VerifyOptions {
  std::optional<std::string> points;     // "0;250;500"
  std::optional<std::string> tolerance;  // "0,5%" or "2C"
  std::optional<int> readings;
  std::optional<int> intervalMs;
  bool script = false;  // lines from a program: no terminal needed
  bool copper = false;  // a thermocouple's calibrator on copper wires
  std::optional<std::int64_t> after;  // as left: the visit's as-found check
  // Given on the command line; what is not given is the window's last.
  std::optional<std::string> equipment, serial, certificate, validUntil, ambient, humidity;
  std::vector<std::string> tableDirs;
};

// Runs the check on the instrument at t.address, stores it in `journal`.
// 0 годен, kCheckFailed не годен, kNotChecked when it could not be done.
int Verify(const Target& t, pmjournal::Journal& journal, const std::function<pmverify::Setup(int model)>& remembered,
           const VerifyOptions& options, std::istream& in);

// The stored checks, newest first, one a line; with `csv`, into that file.
int VerifyList(std::ostream& out, std::ostream& err, const pmjournal::Journal& journal,
               const pmverify::CheckFilter& filter, const std::string& csv);
// «Протокол калибровки» of the visit of check `id` as a PDF.
int VerifyPdf(std::ostream& err, const pmjournal::Journal& journal, std::int64_t id, const std::string& file);

}  // namespace pmcli
