#include "Output.h"

#include <unistd.h>

#include <cerrno>

namespace pmcli {

bool FdOutput::Drain() {
  const char* p = pbase();
  while (p < pptr() && m_error == 0) {
    const ssize_t k = ::write(m_fd, p, static_cast<std::size_t>(pptr() - p));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) m_error = k < 0 ? errno : EIO;
    else p += k;
  }
  // What could not be written is dropped: the failure is what counts now.
  setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
  return m_error == 0;
}

FdOutput::int_type FdOutput::overflow(int_type ch) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(ch, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
  }
  return traits_type::not_eof(ch);
}

int FdOutput::sync() { return Drain() ? 0 : -1; }

}  // namespace pmcli
