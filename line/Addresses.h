#pragma once
// The set of instruments a line overview polls, as the operator types it:
// addresses and ranges separated by commas or blanks ("1-8, 12"). Plain C++.

#include <string>
#include <variant>
#include <vector>

namespace pmline {

// Addresses 1..32, ascending, each once; or the reason the text was refused.
std::variant<std::vector<int>, std::string> ParseAddresses(const std::string& text);

// The shortest text ParseAddresses reads back as the same set: "1-8, 12".
std::string AddressesText(const std::vector<int>& addresses);

}  // namespace pmline
