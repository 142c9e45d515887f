// The settings file a user loads, read the way pmctl load and diff read it
// (the file's checks, then the JSON's), and, when it is taken, compared the
// way diff compares it: with itself (nothing differs), with a block of the
// same instrument in which every byte is zero, and written out again (the
// copy reads back as the same instrument).
//
// Input: the file's contents.

#include <cstdint>
#include <vector>

#include "Fields.h"
#include "FileAccess.h"
#include "FuzzInput.h"
#include "SettingsFile.h"
#include "TempFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const pmfuzz::TempFile file("pm-fuzz-settings");
  file.Write({data, size});

  const pmset::FileText text = pmset::ReadSettingsFile(file.Path());
  if (!text.ok) {
    PM_FUZZ_CHECK(!text.why.empty());
    PM_FUZZ_CHECK(size > pmset::kMaxFileSize);
    return 0;
  }
  PM_FUZZ_CHECK(text.text.size() == size);
  const pmset::Parsed parsed = pmset::Decode(text.text);
  if (!parsed.file) {
    PM_FUZZ_CHECK(!parsed.refusal.empty());
    return 0;
  }
  const pmset::Snapshot& s = *parsed.file;
  PM_FUZZ_CHECK(!s.block.empty() && s.block.size() <= TProgPMClass::MaxBlockLen);
  PM_FUZZ_CHECK(pmset::RefusalFor(s, s.model, s.version, static_cast<int>(s.block.size())).empty());
  PM_FUZZ_CHECK(!pmset::RefusalFor(s, s.model, s.version + 1, static_cast<int>(s.block.size())).empty());

  const std::vector<std::uint8_t> zeros(s.block.size(), 0);
  const pmset::BlockView other{s.model, s.version, zeros, s.access};
  for (const pmset::Part part : {pmset::Part::Whole, pmset::Part::Settings}) {
    for (const pmset::Row& r : pmset::Compare(s.View(), s.View(), part)) PM_FUZZ_CHECK(!r.differs);
    for (const pmset::Row& r : pmset::Compare(other, s.View(), part)) PM_FUZZ_CHECK(!r.label.empty());
  }
  if (!s.measurement.empty()) pmset::DescribeMeasurement(s.View(), s.measurement);

  const pmset::Parsed again = pmset::Decode(pmset::Encode(s));
  PM_FUZZ_CHECK(again.file.has_value());
  PM_FUZZ_CHECK(again.file->model == s.model && again.file->version == s.version);
  PM_FUZZ_CHECK(again.file->block == s.block && again.file->measurement == s.measurement);
  PM_FUZZ_CHECK(again.file->access == s.access && again.file->address == s.address);
  return 0;
}
