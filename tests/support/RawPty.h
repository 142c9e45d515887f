#pragma once
// A pseudo-terminal pair whose master side the test plays byte by byte, as
// an instrument would; the port under test opens the slave by its path. The
// test can stop part-way through a reply and hang up, as a pulled USB
// adapter does.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct RawPty {
  int master = -1;
  std::string path;

  RawPty() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    path = name;
    // A pty starts in canonical mode, which would mangle 0x0D and friends.
    for (int fd : {master, slave}) {
      termios t{};
      ::tcgetattr(fd, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(fd, TCSANOW, &t);
    }
    // Only the port under test keeps the slave open.
    ::close(slave);
  }
  ~RawPty() { HangUp(); }
  RawPty(const RawPty&) = delete;
  RawPty& operator=(const RawPty&) = delete;

  // Closes the master side: the slave sees a hang-up.
  void HangUp() {
    if (master >= 0) ::close(master);
    master = -1;
  }

  void Send(const std::vector<std::uint8_t>& b) const {
    ASSERT_EQ(::write(master, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  }

  // Waits up to 2 s for n bytes from the port under test.
  std::vector<std::uint8_t> Receive(std::size_t n) const {
    std::vector<std::uint8_t> b(n);
    std::size_t got = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (got < n && std::chrono::steady_clock::now() < end) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t k = ::read(master, b.data() + got, n - got);
      if (k > 0) got += static_cast<std::size_t>(k);
    }
    b.resize(got);
    return b;
  }

  // The line settings the port under test applied (on a master, the
  // terminal ioctls act on the slave's settings).
  termios Settings() const {
    termios t{};
    ::tcgetattr(master, &t);
    return t;
  }
};

}  // namespace testsupport
