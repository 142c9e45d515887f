// The address set an operator types for the line overview and pmctl watch:
// a set taken is 1..32, ascending, each once, and its shortest text reads
// back as the same set; a refusal says why and repeats only the start of a
// long text.
//
// Input: the typed text (UTF-8 or not).

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "Addresses.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto parsed = pmline::ParseAddresses(text);
  if (const auto* why = std::get_if<std::string>(&parsed)) {
    PM_FUZZ_CHECK(!why->empty());
    // The echo is at most 40 characters of 4 bytes, and the words around it.
    PM_FUZZ_CHECK(why->size() < 400);
    return 0;
  }
  const auto& set = std::get<std::vector<int>>(parsed);
  PM_FUZZ_CHECK(!set.empty());
  for (std::size_t i = 0; i < set.size(); ++i) {
    PM_FUZZ_CHECK(set[i] >= 1 && set[i] <= 32);
    if (i > 0) PM_FUZZ_CHECK(set[i - 1] < set[i]);
  }
  const std::string shortest = pmline::AddressesText(set);
  const auto again = pmline::ParseAddresses(shortest);
  PM_FUZZ_CHECK(std::holds_alternative<std::vector<int>>(again));
  PM_FUZZ_CHECK(std::get<std::vector<int>>(again) == set);
  return 0;
}
