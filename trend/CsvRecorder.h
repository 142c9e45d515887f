#pragma once
// Recording of reads to a CSV file that spreadsheets with Russian settings
// open as they are: UTF-8 with a byte-order mark (which Excel needs to take
// the file as UTF-8), a header line, semicolons between fields, decimal
// commas, CRLF line ends. Each line goes to the system as its read
// completes, so a crash or a pulled plug loses at most the line being
// written; a line the disk could take only in part is cut off again, so
// the file always ends with a whole line. Plain C++ (POSIX).

#include <optional>
#include <string>

#include "Reading.h"

namespace pmtrend {

// Whether the port is a column of its own, after the time: a recording of
// a whole line (the overview, pmctl watch) has it, so that two lines' rows
// are never taken for one; the main window's recording of its instrument
// has not.
enum class PortColumn { No, Yes };

std::string CsvHeader(PortColumn port = PortColumn::No);
// A completed read.
std::string CsvRow(const Reading& r, PortColumn port = PortColumn::No);
// A failed read: time, address and model, the measurement fields empty.
std::string CsvFailureRow(const Source& s, Millis time, PortColumn port = PortColumn::No);
// Local time "2026-12-08 16:30:01,123".
std::string CsvTime(Millis time);

class CsvRecorder {
 public:
  CsvRecorder() = default;
  ~CsvRecorder();
  CsvRecorder(const CsvRecorder&) = delete;
  CsvRecorder& operator=(const CsvRecorder&) = delete;

  // Creates the file (an existing one is emptied) and writes the header.
  // Nothing on success; the reason otherwise.
  std::optional<std::string> Start(const std::string& path, PortColumn port = PortColumn::No);
  // Appends one line. On failure the recording stops, the file keeps every
  // whole line written before, and the reason is returned.
  std::optional<std::string> Append(const std::string& line);
  void Stop();

  bool Recording() const { return m_fd >= 0; }
  const std::string& Path() const { return m_path; }
  // Data lines written since Start (the header not counted).
  long Lines() const { return m_lines; }

 private:
  std::optional<std::string> WriteAll(const std::string& text);

  int m_fd = -1;
  std::string m_path;
  long m_lines = 0;
  long long m_size = 0;  // bytes of whole lines on the file
};

}  // namespace pmtrend
