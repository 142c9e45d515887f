#pragma once
// Standard output that notices when it cannot be written (a full disk, a
// closed pipe, /dev/full): a scripted backup must not look successful when
// its output was lost. std::cout alone keeps the system's reason to itself.

#include <array>
#include <streambuf>

namespace pmcli {

class FdOutput : public std::streambuf {
 public:
  explicit FdOutput(int fd) : m_fd(fd) { setp(m_buffer.data(), m_buffer.data() + m_buffer.size()); }
  ~FdOutput() override { sync(); }
  FdOutput(const FdOutput&) = delete;
  FdOutput& operator=(const FdOutput&) = delete;

  // The errno of the first write that failed; 0 while every write succeeded.
  int Error() const { return m_error; }

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  bool Drain();

  int m_fd;
  int m_error = 0;
  std::array<char, 4096> m_buffer{};
};

}  // namespace pmcli
