#pragma once
// "Протокол изменений": the printable record a service engineer hands to the
// plant after a visit. For one instrument and a time range: its identity,
// every change with the values before and after and the calibration codes,
// the date, the engineer's full name and the program's version. Made as
// HTML that the window prints to an A4 PDF.

#include <cstdint>
#include <string>
#include <vector>

#include "Journal.h"

namespace pmjournal {

struct ProtocolHeader {
  std::string port;
  int address = 0;
  std::string period;    // "с 2026-12-01 по 2026-12-09", or "" for the whole journal
  std::string date;      // the day it is made
  std::string engineer;  // full name
  std::string program;   // "pmservice 0.1.0"
};

// The entries of that instrument, in the order they happened.
std::string ProtocolHtml(const ProtocolHeader& h, const std::vector<Entry>& entries);

// Text safe inside HTML.
std::string EscapeHtml(const std::string& text);

}  // namespace pmjournal
