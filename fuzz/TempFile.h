#pragma once
// A file of the fuzz target's own, made once per process in the temporary
// folder and removed at its end, that each input is written into: the
// readers under test take a path, as the programs give them one.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "FuzzInput.h"

namespace pmfuzz {

class TempFile {
 public:
  explicit TempFile(const char* stem) {
    const std::string pattern = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    std::string name = pattern;
    const int fd = ::mkstemp(name.data());
    PM_FUZZ_CHECK(fd >= 0);
    ::close(fd);
    m_path = name;
  }
  ~TempFile() { std::filesystem::remove(m_path); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& Path() const { return m_path; }

  // Replaces the contents.
  void Write(std::span<const std::uint8_t> bytes) const {
    FILE* f = std::fopen(m_path.c_str(), "wb");
    PM_FUZZ_CHECK(f != nullptr);
    PM_FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    PM_FUZZ_CHECK(std::fclose(f) == 0);
  }

 private:
  std::string m_path;
};

}  // namespace pmfuzz
