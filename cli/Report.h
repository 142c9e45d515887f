#pragma once
// pmctl's messages on standard error: every line starts with "pmctl: ", so
// that a script's log tells whose message it is.

#include <ostream>
#include <string_view>

namespace pmcli {

inline void Report(std::ostream& err, std::string_view text) {
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  for (;;) {
    const auto end = text.find('\n');
    err << "pmctl: " << text.substr(0, end) << '\n';
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  err.flush();
}

}  // namespace pmcli
