// A hostile journal file, opened the way pmctl journal opens it (to read:
// never created nor changed) and its entries listed, newest first, up to a
// page; and a copy of it opened the way load and restore open it before
// they write (brought forward, or moved aside when damaged, or refused),
// and an entry begun and finished in it as a load does.
// Either way the file is used or refused with the operator's message, in
// bounded time (libFuzzer's -timeout) and memory (-rss_limit_mb).
//
// Input: the file's contents.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "Journal.h"

namespace {

// A folder of the target's own, emptied before each input: in memory where
// the system has it (and TMPDIR does not say otherwise), since a journal
// opened to write syncs each change to the disk.
std::filesystem::path Base() {
  if (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

class Folder {
 public:
  Folder() {
    std::string name = (Base() / "pm-fuzz-journal-XXXXXX").string();
    PM_FUZZ_CHECK(::mkdtemp(name.data()) != nullptr);
    m_path = name;
  }
  ~Folder() { std::filesystem::remove_all(m_path); }
  const std::filesystem::path& Path() const { return m_path; }
  void Clear() const {
    for (const auto& e : std::filesystem::directory_iterator(m_path)) std::filesystem::remove_all(e.path());
  }

 private:
  std::filesystem::path m_path;
};

constexpr std::size_t kPage = 20;

void List(const pmjournal::History& journal) {
  pmjournal::Filter filter;
  std::size_t seen = 0;
  journal.ForEach(filter, [&](const pmjournal::Entry& e) {
    PM_FUZZ_CHECK(e.before.size() < (1u << 30));
    return ++seen < kPage;
  });
  PM_FUZZ_CHECK(seen <= kPage);
  journal.Count(filter);
  journal.Get(1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Folder folder;
  folder.Clear();
  const std::string path = (folder.Path() / "journal.sqlite").string();
  const std::string copy = (folder.Path() / "copy.sqlite").string();
  for (const std::string& p : {path, copy}) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    PM_FUZZ_CHECK(out.good());
  }

  try {
    const auto opened = pmjournal::Journal::Open(path, pmjournal::Journal::Mode::Read);
    List(*opened.journal);
  } catch (const pmjournal::JournalError& e) {
    PM_FUZZ_CHECK(std::string(e.what()).rfind("Журнал изменений", 0) == 0);
  }
  // Reading changes nothing.
  {
    std::ifstream in(path, std::ios::binary);
    const std::string after{std::istreambuf_iterator<char>(in), {}};
    PM_FUZZ_CHECK(after == std::string_view(reinterpret_cast<const char*>(data), size));
  }

  try {
    const auto opened = pmjournal::Journal::Open(copy, pmjournal::Journal::Mode::Write);
    List(*opened.journal);
    // What a load does next: its entry begun, the write done, the entry finished.
    pmjournal::Entry entry;
    entry.port = "/dev/ttyUSB0";
    entry.address = 1;
    entry.model = 100;
    entry.version = 5;
    entry.operation = "Загрузка из файла";
    entry.before = {0x34, 0x03, 0xC8};
    const std::int64_t id = opened.journal->Begin(entry);
    opened.journal->Finish(id, entry.before, entry.before, pmjournal::Outcome::Done);
    PM_FUZZ_CHECK(opened.journal->Get(id).has_value());
  } catch (const pmjournal::JournalError& e) {
    PM_FUZZ_CHECK(std::string(e.what()).rfind("Журнал изменений", 0) == 0);
  }
  return 0;
}
