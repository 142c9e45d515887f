#include "Scan.h"

#include "AttemptCount.h"
#include "Identify.h"

namespace pmops {

bool IsPortFailure(int result) { return result >= rc::CannotOpen && result <= rc::SettingError; }

ScanOutcome Scan(TComPortClass& link, int count, const std::function<void(int)>& before,
                 const std::function<void(const ScanHit&)>& hit, int attempts) {
  AttemptCount kept(link, attempts);
  ScanOutcome out;
  for (int i = 0; i < count; ++i) {
    if (before) before(i);
    const Identified who = Identify(link, i);
    if (who.result == rc::Ok) {
      out.found.push_back({i + 1, who.identity});
      if (hit) hit(out.found.back());
    } else if (IsPortFailure(who.result)) {
      out.portResult = who.result;
      out.portIndex = i;
      break;
    }
  }
  return out;
}

}  // namespace pmops
