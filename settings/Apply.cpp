#include "Apply.h"

#include <algorithm>

namespace pmset {

namespace {

constexpr std::size_t kAddress = 12;

std::vector<std::uint8_t> Bytes(const TProgPMClass& pm, int length) {
  return {pm.Image.begin() + 1, pm.Image.begin() + 1 + length};
}

}  // namespace

ByteMask WritableBits(int model, int version, int length, Scope scope, bool nonPrivileged) {
  length = std::clamp(length, 0, static_cast<int>(TProgPMClass::MaxBlockLen));
  // The fields do not depend on the block's values, only on where it ends.
  const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(length), 0);
  const std::vector<Field> fields = Describe({model, version, zeros, Access::Unknown});
  ByteMask m{};
  if (scope == Scope::Everything) {
    for (int i = 1; i < length; ++i) m[static_cast<std::size_t>(i)] = 0xFF;
    m[kAddress] = 0;
  } else {
    for (const Field& f : fields)
      if (f.kind == Kind::Setting)
        for (std::size_t i = 0; i < m.size(); ++i) m[i] |= f.bits[i];
  }
  if (nonPrivileged) {
    ByteMask operatorBits{};
    for (const Field& f : fields)
      if (f.operatorMay)
        for (std::size_t i = 0; i < m.size(); ++i) operatorBits[i] |= f.bits[i];
    for (std::size_t i = 0; i < m.size(); ++i) m[i] &= operatorBits[i];
  }
  return m;
}

Applied Apply(const Snapshot& file, TProgPMClass& pm, Scope scope) {
  const int length = std::min(pm.GetLen(), static_cast<int>(file.block.size()));
  const ByteMask mask = WritableBits(pm.DevType, pm.Version, length, scope, pm.NonPriv != 0);
  Applied out;
  out.wrote = mask;
  for (int i = 1; i <= length; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const auto merged = static_cast<std::uint8_t>((pm.Image[at] & ~mask[at]) | (file.block[at - 1] & mask[at]));
    if (merged != pm.Image[at]) out.changed = true;
    pm.Image[at] = merged;
  }
  // Whatever the scope asked for and the image does not hold now: the parts
  // a non-privileged instrument does not take, by caption, and any byte no
  // field shows.
  const ByteMask asked = WritableBits(pm.DevType, pm.Version, length, scope, false);
  ByteMask missing{};
  for (int i = 1; i <= length; ++i) {
    const auto at = static_cast<std::size_t>(i);
    missing[at] = static_cast<std::uint8_t>((pm.Image[at] ^ file.block[at - 1]) & asked[at]);
  }
  const std::vector<std::uint8_t> now = Bytes(pm, length);
  const std::vector<Field> fields = Describe({pm.DevType, pm.Version, now, Access::Unknown});
  for (const Field& f : fields)
    for (std::size_t i = 1; i < missing.size(); ++i)
      if (f.bits[i] & missing[i]) {
        out.notApplied.push_back(f.label);
        break;
      }
  const ByteMask shown = BitsOf(fields);
  for (std::size_t i = 1; i < missing.size(); ++i)
    if (missing[i] & ~shown[i]) out.notApplied.push_back("Байт " + std::to_string(i));
  return out;
}

}  // namespace pmset
