#pragma once
// pmctl watch: the line overview's polling loop for scripts. Every poll
// prints a line on standard output and, with a CSV file, adds its row there
// (the recording's format, each row on the disk as it is written). The loop
// ends after the cycles asked for or when `stop` is set (SIGINT, SIGTERM),
// after the poll under way: the file then ends with a whole row.

#include <csignal>
#include <iosfwd>
#include <string>
#include <vector>

#include "Comportclass.h"
#include "CsvRecorder.h"

namespace pmcli {

struct WatchOptions {
  std::vector<int> addresses;
  double intervalS = 0;  // least time from the start of a cycle to the next
  long count = 0;        // cycles; 0: until stopped
};

// Exit codes: kDone; kLinkFailure when an instrument did not answer its
// last poll (they are named); kFileRefused when the CSV file could not be
// created or written (the rows written stay).
// `csv` is started by the caller before the port is opened (a file that
// cannot be created refuses the command before anything is sent); null for
// none.
int Watch(TComPortClass& link, std::ostream& out, std::ostream& err, const WatchOptions& options,
          pmtrend::CsvRecorder* csv, const volatile std::sig_atomic_t& stop);

}  // namespace pmcli
