// The termios port over a real pseudo-terminal pair: the test plays the
// instrument on the master side, the port under test opens the slave.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pty.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "RawPty.h"
#include "TermiosPort.h"

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Pty = testsupport::RawPty;

namespace {

long Ms(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

std::unique_ptr<pmlink::TermiosPort> OpenPort(const Pty& pty) {
  auto port = std::make_unique<pmlink::TermiosPort>();
  port->SetName(pty.path);
  port->Open();
  return port;
}

TEST(TermiosPort, BytesPassUnchangedBothWays) {
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  pmlink::TermiosPort port;
  port.SetName(pty.path);
  port.Open();
  ASSERT_TRUE(port.IsOpen());

  const Bytes awkward = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1C, 0x7F, 0xFF, 0x00, 0x04};
  pty.Send(awkward);
  Bytes in(awkward.size());
  EXPECT_EQ(port.Read(in.data(), static_cast<int>(in.size())), static_cast<int>(in.size()));
  EXPECT_EQ(in, awkward);

  EXPECT_EQ(port.Write(awkward.data(), static_cast<int>(awkward.size())),
            static_cast<int>(awkward.size()));
  EXPECT_EQ(pty.Receive(awkward.size()), awkward);
}

TEST(TermiosPort, AppliesLineSettingsAndRestoresOnClose) {
  Pty pty;
  termios before = pty.Settings();
  ::cfsetospeed(&before, B4800);
  ::cfsetispeed(&before, B4800);
  before.c_cflag |= CRTSCTS;
  ::tcsetattr(pty.master, TCSANOW, &before);
  before = pty.Settings();

  struct Case {
    int baud;
    speed_t speed;
    pmlink::ParityKind parity;
    int stopBits;
  };
  for (const Case& c : {Case{19200, B19200, pmlink::ParityKind::Even, 2},
                        Case{9600, B9600, pmlink::ParityKind::Odd, 1},
                        Case{115200, B115200, pmlink::ParityKind::None, 2}}) {
    pmlink::TermiosPort port;
    port.SetName(pty.path);
    port.SetBaud(c.baud);
    port.SetParity(c.parity);
    port.SetStopBits(c.stopBits);
    port.Open();
    const termios t = pty.Settings();
    EXPECT_EQ(::cfgetospeed(&t), c.speed) << c.baud;
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    // The pty driver drops PARENB (it has no line to put a parity bit on),
    // but keeps PARODD.
    EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parity == pmlink::ParityKind::Odd);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stopBits == 2);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    const termios after = pty.Settings();
    EXPECT_EQ(::cfgetospeed(&after), B4800);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
  }
}

TEST(TermiosPort, RatesWithoutAConstantOpen) {
  Pty pty;
  for (int baud : {14400, 56000}) {
    pmlink::TermiosPort port;
    port.SetName(pty.path);
    port.SetBaud(baud);
    EXPECT_NO_THROW(port.Open()) << baud;
    EXPECT_TRUE(port.IsOpen());
  }
}

TEST(TermiosPort, ReadEndsOnTheGapBetweenBytes) {
  Pty pty;
  auto port = OpenPort(pty);
  pty.Send({1, 2});
  std::uint8_t buf[5];
  const auto start = Clock::now();
  EXPECT_EQ(port->Read(buf, 5), 2);
  const long took = Ms(Clock::now() - start);
  EXPECT_GE(took, 95);
  EXPECT_LT(took, 600) << "the 1.5 s total must not apply once bytes flow";
}

TEST(TermiosPort, ReadOfNothingEndsOnTheTotal) {
  Pty pty;
  auto port = OpenPort(pty);
  std::uint8_t buf[3];
  const auto start = Clock::now();
  EXPECT_EQ(port->Read(buf, 3), 0);
  const long took = Ms(Clock::now() - start);
  EXPECT_GE(took, 1295);  // 1000 ms + 3 x 100 ms
  EXPECT_LT(took, 1800);
}

TEST(TermiosPort, TrickleEndsOnTheTotalDespiteShortGaps) {
  Pty pty;
  auto port = OpenPort(pty);
  port->totalBaseMs = 300;
  port->totalPerByteMs = 10;  // 30 bytes: 600 ms in total
  std::atomic<bool> stop{false};
  std::thread instrument([&] {
    while (!stop) {
      const std::uint8_t b = 0x55;
      if (::write(pty.master, &b, 1) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  std::uint8_t buf[30];
  const auto start = Clock::now();
  const int got = port->Read(buf, 30);
  const long took = Ms(Clock::now() - start);
  stop = true;
  instrument.join();
  EXPECT_GT(got, 5);
  EXPECT_LT(got, 30);
  EXPECT_GE(took, 595);
  EXPECT_LT(took, 900);
}

TEST(TermiosPort, UnplugRaisesDisconnected) {
  for (const bool reading : {true, false}) {
    Pty pty;
    auto port = OpenPort(pty);
    ::close(pty.master);
    pty.master = -1;
    std::uint8_t buf[3] = {1, 2, 3};
    try {
      if (reading)
        port->Read(buf, 3);
      else
        port->Write(buf, 3);
      FAIL() << "no error";
    } catch (const pmlink::SerialPortError& e) {
      EXPECT_NE(std::string(e.what()).find(pty.path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("отключено"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(port->IsOpen());
  }
}

TEST(TermiosPort, OpenErrorsCarryErrnoAndName) {
  struct Case {
    std::string name;
    int err;
  };
  for (const Case& c : {Case{"/nonexistent/ttyUSB0", ENOENT}, Case{"/dev/null", ENOTTY}}) {
    pmlink::TermiosPort port;
    port.SetName(c.name);
    try {
      port.Open();
      FAIL() << c.name << " opened";
    } catch (const pmlink::SerialPortError& e) {
      EXPECT_EQ(e.Errno(), c.err) << c.name;
      EXPECT_NE(std::string(e.what()).find(c.name), std::string::npos) << e.what();
    }
    EXPECT_FALSE(port.IsOpen());
  }
}

// Exit codes of the child below.
enum BusyStep { kBusyOk = 0, kNoCaps = 100, kFirstOpen, kNotBusy, kWrongError, kNoReopen };

TEST(TermiosPort, SecondOpenIsBusyUntilTheFirstCloses) {
  Pty pty;
  // The exclusive flag does not stop a process with CAP_SYS_ADMIN, so the
  // openers run in a child without it.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) ::_exit(kNoCaps);
    data[CAP_SYS_ADMIN / 32].effective &= ~(1u << (CAP_SYS_ADMIN % 32));
    if (::syscall(SYS_capset, &header, data) != 0) ::_exit(kNoCaps);
    pmlink::TermiosPort first, second;
    first.SetName(pty.path);
    second.SetName(pty.path);
    try {
      first.Open();
    } catch (...) {
      ::_exit(kFirstOpen);
    }
    try {
      second.Open();
      ::_exit(kNotBusy);
    } catch (const pmlink::SerialPortError& e) {
      const bool named = std::string(e.what()).find("занят") != std::string::npos;
      if (e.Errno() != EBUSY || !named) ::_exit(kWrongError);
    }
    first.Close();
    try {
      second.Open();
    } catch (...) {
      ::_exit(kNoReopen);
    }
    ::_exit(kBusyOk);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kBusyOk) << "see BusyStep";
}

TEST(TermiosPort, ComNamesMapToTtyS) {
  EXPECT_EQ(pmlink::TermiosPort::DevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(pmlink::TermiosPort::DevicePath("com12"), "/dev/ttyS11");
  EXPECT_EQ(pmlink::TermiosPort::DevicePath("COM0"), "COM0");
  EXPECT_EQ(pmlink::TermiosPort::DevicePath("COMx"), "COMx");
  EXPECT_EQ(pmlink::TermiosPort::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

}  // namespace
