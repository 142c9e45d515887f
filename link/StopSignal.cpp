#include "StopSignal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <algorithm>
#include <thread>

namespace pmlink {

static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler raises the stop");

StopSignal::StopSignal() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

StopSignal::~StopSignal() {
  if (m_fd >= 0) ::close(m_fd);
}

void StopSignal::Raise() {
  m_raised.store(true, std::memory_order_release);
  if (m_fd >= 0) {
    const std::uint64_t one = 1;
    // A full counter is still readable: nothing to do when the write fails.
    [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
  }
}

void StopSignal::Clear() {
  m_raised.store(false, std::memory_order_release);
  if (m_fd >= 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_fd, &count, sizeof count);
  }
}

void StopSignal::Sleep(int ms) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (Raised()) return;
    const auto now = Clock::now();
    if (now >= deadline) return;
    const int wait = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    if (m_fd < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 20)));
      continue;
    }
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, wait) < 0 && errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace pmlink
