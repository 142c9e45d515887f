// The reference-table reader fed with arbitrary file text: no read beyond
// the text or the table, a count within the table, and a table taken as good
// only when it has at least four entries rising in both columns.

#include <cstdint>
#include <string_view>

#include "FuzzInput.h"
#include "RangeCalc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The text is copied so that it ends where the allocation ends: the reader
  // must not rely on a terminating zero.
  pmfuzz::Input in(data, size);
  const auto bytes = in.Rest();
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());

  // Static: the table is large, and entries beyond Count keep what an
  // earlier read left, as they do in the program.
  static pmrange::RefTable table;
  const pmrange::LoadStatus status = pmrange::ParseRefTable(text, table);
  PM_FUZZ_CHECK(table.Count >= 0 && table.Count <= pmrange::kMaxEntries);
  if (status == pmrange::LoadStatus::Ok) {
    PM_FUZZ_CHECK(table.Count >= 4);
    for (int i = 1; i < table.Count; ++i) {
      PM_FUZZ_CHECK(table.Temp[i] > table.Temp[i - 1]);
      PM_FUZZ_CHECK(table.Signal[i] > table.Signal[i - 1]);
    }
  }
  return 0;
}
