#include "Apply.h"

#include <array>

#include "Fields.h"
#include "Identification.h"

namespace pmset {

namespace {

using Mask = std::array<std::uint8_t, TProgPMClass::MaxBlockLen + 1>;  // by image byte

constexpr int kFlags = 5, kNu = 12, kByte13 = 13;

Mask MaskFor(int model, bool privileged, Scope scope, int length) {
  Mask m{};
  if (!privileged) {
    m[kFlags] = 0x0B;  // alarm type, contact type
    for (int i = 6; i <= 9; ++i) m[static_cast<std::size_t>(i)] = 0xFF;  // setpoints
  } else if (scope == Scope::Everything) {
    for (int i = 1; i <= length; ++i) m[static_cast<std::size_t>(i)] = 0xFF;
    m[kNu] = 0;
  } else {
    m[kFlags] = 0x0F;  // alarm type, break state, contact type
    for (int i = 6; i <= 11; ++i) m[static_cast<std::size_t>(i)] = 0xFF;  // setpoints, sensor, range
    const bool zet = model == pmdev::kModelZetTS || model == pmdev::kModelZetTP;
    if (model == pmdev::kModelZetTS) m[kByte13] = 0xFF;  // connection scheme
    if (model == pmdev::kModelZetTP) m[17] = m[18] = 0xFF;  // KTxc
    if (zet)
      for (int i = 19; i <= 38; ++i) m[static_cast<std::size_t>(i)] = 0xFF;  // non-standard range
  }
  for (int i = length + 1; i <= static_cast<int>(TProgPMClass::MaxBlockLen); ++i) m[static_cast<std::size_t>(i)] = 0;
  return m;
}

}  // namespace

Applied Apply(const Snapshot& file, TProgPMClass& pm, Scope scope) {
  const int length = std::min(pm.GetLen(), static_cast<int>(file.block.size()));
  const Mask mask = MaskFor(pm.DevType, pm.NonPriv == 0, scope, length);
  Applied out;
  std::vector<std::uint8_t> wanted(file.block);  // everything the file says
  for (int i = 1; i <= length; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const std::uint8_t merged = static_cast<std::uint8_t>((pm.Image[at] & ~mask[at]) | (file.block[at - 1] & mask[at]));
    if (merged != pm.Image[at]) out.changed = true;
    pm.Image[at] = merged;
  }
  if (pm.NonPriv != 0) {
    // Name the settings the file would change but this instrument does not take.
    const std::vector<std::uint8_t> now(pm.Image.begin() + 1, pm.Image.begin() + 1 + length);
    const auto have = Describe(pm.DevType, pm.Version, now);
    const auto want = Describe(pm.DevType, pm.Version, wanted);
    for (std::size_t i = 0; i < have.size() && i < want.size(); ++i)
      if (have[i].kind == Kind::Setting && have[i].text != want[i].text &&
          have[i].key.find("setpoint") == std::string::npos)
        out.notLoaded.push_back(have[i].label);
  }
  return out;
}

}  // namespace pmset
