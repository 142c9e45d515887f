// The checks of typed numbers fed with arbitrary text: the entry check of
// every range kind, the number reader behind it, and the range-end check of
// the non-standard range dialog with its formatting of accepted values.
//
// Input: TMin and TMax (raw float bits), a virtual-key code and Shift for
// the key filters, then the typed text (UTF-8 or not).

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "NumericEntry.h"
#include "ProgPM.h"
#include "RangeInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pmfuzz::Input in(data, size);
  const float tmin = in.Float();
  const float tmax = in.Float();
  const int vk = in.Byte();
  const bool shift = in.Byte() & 1;
  const auto bytes = in.Rest();
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());

  const auto value = pmdev::ParseTypedNumber(text);
  if (value) PM_FUZZ_CHECK(text.find_first_not_of("-0123456789,") == std::string_view::npos);

  TProgPMClass pm;
  pm.TMin = tmin;
  pm.TMax = tmax;
  for (int kind = 0; kind <= 5; ++kind) {
    const int verdict = pmdev::CheckNumber(text, kind, tmin, tmax);
    PM_FUZZ_CHECK(verdict == 0 || verdict == 1);
    PM_FUZZ_CHECK(pm.CheckNumber(text, kind) == verdict);
    // What the check lets through is a number the entry can convert.
    if (verdict == 0) PM_FUZZ_CHECK(value.has_value());
    if (verdict == 0 && kind >= pmdev::kRangePercent && kind <= pmdev::kRangeMilliamp)
      PM_FUZZ_CHECK(std::isfinite(*value));
  }

  const int dec = pmdev::DecKeyFilter(text.empty(), vk, shift);
  PM_FUZZ_CHECK(dec == pmdev::kKeyAccepted || dec == pmdev::kKeyRejected || dec == pmdev::kKeyEnter);
  const int integer = pmdev::IntKeyFilter(text.empty(), vk);
  PM_FUZZ_CHECK(integer == pmdev::kKeyAccepted || integer == pmdev::kKeyRejected ||
                integer == pmdev::kKeyEnter);
  pmrange::RangeKeyFilter(vk, shift, text.empty());

  // An accepted range end is shown back as the operator would type it, and
  // that text is accepted as the same value.
  if (const auto end = pmrange::CheckRangeText(text)) {
    PM_FUZZ_CHECK(std::isfinite(*end));
    const std::string shown = pmrange::FormatRangeValue(*end);
    const auto again = pmrange::CheckRangeText(shown);
    PM_FUZZ_CHECK(again.has_value() && *again == *end);
  }
  return 0;
}
