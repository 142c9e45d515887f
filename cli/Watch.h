#pragma once
// pmctl watch: the line overview's polling loop for scripts. Every poll
// prints a line on standard output and, with a CSV file, adds its row there
// (the recording's format, each row on the disk as it is written). The loop
// ends after the cycles asked for (right after the last one), when `stop`
// is raised (SIGINT, SIGTERM: the request under way ends at once, the file
// ends with a whole row), or when standard output cannot be written.

#include <iosfwd>
#include <string>
#include <vector>

#include "Comportclass.h"
#include "CsvRecorder.h"
#include "StopSignal.h"

namespace pmcli {

struct WatchOptions {
  std::vector<int> addresses;
  double intervalS = 0;  // least time from the start of a cycle to the next
  long count = 0;        // cycles; 0: until stopped
};

// Exit codes: kDone; kLinkFailure when an instrument did not answer its
// last poll (they are named); kFileRefused when the CSV file could not be
// created or written (the rows written stay), or standard output could not.
// `csv` is started by the caller before the port is opened (a file that
// cannot be created refuses the command before anything is sent); null for
// none. The link is given `stop` for the time of the watch.
int Watch(TComPortClass& link, std::ostream& out, std::ostream& err, const WatchOptions& options,
          pmtrend::CsvRecorder* csv, const pmlink::StopSignal& stop);

}  // namespace pmcli
