#pragma once
// The commands of pmctl on an open link. Each prints its result on `out`,
// its failure (in the window's words where the window has them) on the
// link's message service, and returns the program's exit code.

#include <iosfwd>
#include <string>

#include "Comportclass.h"

namespace pmcli {

// Exit codes.
enum Exit : int {
  kDone = 0,
  kUsage = 1,         // wrong command line
  kLinkFailure = 2,   // the port does not open, an exchange failed, no instrument
  kFileRefused = 3,   // the file cannot be read or written, or is refused
  kDifference = 4,    // verification after a write differs; diff found differences
  kInstrumentRefused = 5,  // a model the program does not serve, a write refused
};

struct Target {
  TComPortClass& link;
  std::ostream& out;
  std::ostream& err;
  int address = 1;  // 1..32
};

int Ports(std::ostream& out);
int Scan(TComPortClass& link, std::ostream& out, std::ostream& err, int count);
int Read(const Target& t, bool json);
int Save(const Target& t, const std::string& file);
// Settings only (includeCalibration false) or everything.
int Load(const Target& t, const std::string& file, bool everything);
int Diff(const Target& t, const std::string& file);

}  // namespace pmcli
