// The line vanishing under the real link and termios port: while a reply's
// header is arriving, while the rest of it is arriving, and between two
// exchanges. The link must not crash or wait out its time-outs; a read or
// write failure reaches the caller as SerialPortError, a purge failure shows
// the port-disconnected message and asks the window to close.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Comportclass.h"
#include "Crc16.h"
#include "RawPty.h"
#include "Line.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr const char* kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

long Ms(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

Bytes Frame(Bytes b) {
  const std::uint16_t crc = pmlink::Crc16(b.size(), b.data());
  b.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  b.push_back(static_cast<std::uint8_t>(crc >> 8));
  return b;
}

// Counts what the link sends and receives.
struct Traffic : pmlink::FrameObserver {
  int requests = 0;
  std::size_t received = 0;
  void OnBytes(Clock::time_point, pmlink::Direction d, std::span<const std::uint8_t> b) override {
    if (d == pmlink::Direction::Tx)
      ++requests;
    else
      received += b.size();
  }
  void OnResult(Clock::time_point, int, int, int) override {}
};

// The link on a termios port, with pauses counted instead of slept.
struct Rig {
  pmlink::TermiosPort port;
  ui::ScriptedMessageService messages;
  int windowCloses = 0;
  TComPortClass link{port, messages, [this] { ++windowCloses; }};
  Traffic traffic;
  std::array<std::uint8_t, 100> reply{};

  explicit Rig(const std::string& path) {
    link.Port = path;
    link.SetDelayFunction([](int) {});
    link.SetFrameObserver(&traffic);
  }
  int Request(int function) {
    return link.Request(0, function, 0, nullptr, reply.data(), reply.size());
  }
};

// A pseudo-terminal whose far end the test plays byte by byte.
using HandHeldLine = testsupport::RawPty;

struct MidReplyCase {
  const char* name;
  std::size_t sentBeforeUnplug;  // bytes of the 21-byte block reply
};

class UnplugMidReply : public testing::TestWithParam<MidReplyCase> {};

TEST_P(UnplugMidReply, ReadFailureReachesTheCallerAtOnce) {
  HandHeldLine line;
  ASSERT_FALSE(line.path.empty());
  Rig rig(line.path);
  // A long gap between bytes: a read that missed the hang-up would sit out
  // this whole second, so the elapsed time tells the two apart.
  rig.port.interByteMs = 1000;
  ASSERT_EQ(rig.link.Configure(), 0) << rig.link.LastOpenError();

  Bytes block(16);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
  Bytes reply = {0x01, 68, static_cast<std::uint8_t>(block.size())};
  for (std::uint8_t b : block) reply.push_back(b);
  reply = Frame(reply);
  const std::size_t sent = GetParam().sentBeforeUnplug;

  std::thread instrument([&] {
    if (line.Receive(4) != Frame({0x01, 68})) return;
    if (::write(line.master, reply.data(), sent) != static_cast<ssize_t>(sent)) return;
    // Let the port take the bytes before the line goes.
    std::this_thread::sleep_for(50ms);
    line.HangUp();
  });

  const auto start = Clock::now();
  EXPECT_THROW(rig.Request(68), pmlink::SerialPortError);
  const long took = Ms(Clock::now() - start);
  instrument.join();

  EXPECT_LT(took, 1000) << "the read waited for its time-out instead of seeing the hang-up";
  // The failure came from the first attempt's read: nothing was sent again.
  EXPECT_EQ(rig.traffic.requests, 1);
  EXPECT_FALSE(rig.link.IsOpen());
  // Read failures are the caller's to show; the link shows nothing itself.
  EXPECT_TRUE(rig.messages.shown.empty());
  EXPECT_EQ(rig.windowCloses, 0);
  // Once the port is gone the next request is refused without touching it.
  EXPECT_EQ(rig.Request(17), rc::PortClosed);
}

INSTANTIATE_TEST_SUITE_P(Phases, UnplugMidReply,
                         testing::Values(MidReplyCase{"Header", 1}, MidReplyCase{"Rest", 3 + 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UnplugIdle, PurgeFailureReportsThenTheWriteFails) {
  sim::Line line;
  line.AddDefaultSet();
  sim::PtyServer server(line);
  Rig rig(server.SlavePath());
  ASSERT_EQ(rig.link.Configure(), 0) << rig.link.LastOpenError();
  ASSERT_EQ(rig.Request(17), rc::Ok);

  server.Unplug();
  const auto start = Clock::now();
  EXPECT_THROW(rig.Request(17), pmlink::SerialPortError);
  const long took = Ms(Clock::now() - start);

  // The purge found the line gone: the program's message, once, with no
  // cause line (that belongs to a port that did not open), and the window
  // is asked to close.
  ASSERT_EQ(rig.messages.shown.size(), 1u);
  EXPECT_EQ(rig.messages.Last().text, kDisconnected);
  EXPECT_EQ(rig.messages.Last().caption, "Ошибка");
  EXPECT_EQ(rig.messages.Last().icon, ui::Icon::Error);
  EXPECT_EQ(rig.windowCloses, 1);
  // Nothing reached the line after the unplug, and no time-out was waited.
  EXPECT_EQ(line.Frames(sim::Dir::In).size(), 1u);
  EXPECT_LT(took, 1300) << "a header time-out was waited on a vanished port";
  EXPECT_FALSE(rig.link.IsOpen());
}

}  // namespace
