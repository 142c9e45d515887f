#pragma once
// The check for people: «Протокол калибровки» of a visit (as found and as
// left side by side) as HTML that the window and pmctl print to an A4 PDF,
// one line of a list, and CSV in the spreadsheet conventions of the
// journal's export (UTF-8 with a byte-order mark, semicolons, CRLF).

#include <string>
#include <vector>

#include "CheckRecord.h"
#include "CheckStore.h"

namespace pmverify {

inline constexpr const char* kProtocolTitle = "Протокол калибровки";

struct ProtocolFooter {
  std::string date;     // the day it is made
  std::string program;  // "pmservice 0.1.0"
};

std::string ProtocolHtml(const Visit& visit, const ProtocolFooter& footer);

// A reading or error in the scale's unit: °C with 2 decimals, % with 3.
std::string ValueText(const Scale& scale, double value);

// "12  2026-12-09T10:30:00+03:00  /dev/ttyUSB0  3  ЗЕТ-ТП XA(K) 0…1100 °C  как найдено  не годен  -1,52 °C"
std::string CheckLine(const CheckRecord& c);

std::string CheckCsvText(const std::vector<CheckRecord>& checks);

}  // namespace pmverify
