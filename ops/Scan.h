#pragma once
// The device list's scan: function 17 to the addresses 1 .. count in turn,
// with two stage-1 attempts per address unless told otherwise (the link's
// own count is put back however the scan ends). An address that does not answer usefully is
// skipped; a port that cannot be used ends the scan.

#include <functional>
#include <vector>

#include "Comportclass.h"
#include "Identification.h"

namespace pmops {

inline constexpr int kScanRetries1 = 2;

struct ScanHit {
  int address = 0;  // 1..32
  pmdev::Identity identity;
};

struct ScanOutcome {
  std::vector<ScanHit> found;
  int portResult = rc::Ok;  // the port error that ended the scan, Ok otherwise
  int portIndex = -1;       // the device index it happened at
};

// True for the results that mean the port itself failed.
bool IsPortFailure(int result);

// `before(index)` runs before each address's request, `hit` for each
// instrument found, as it is found.
ScanOutcome Scan(TComPortClass& link, int count, const std::function<void(int)>& before = {},
                 const std::function<void(const ScanHit&)>& hit = {}, int attempts = kScanRetries1);

}  // namespace pmops
