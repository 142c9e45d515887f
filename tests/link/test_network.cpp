// The link over the network against real ser2net in front of the
// simulator's pseudo-terminal, raw and with RFC 2217, and against the
// simulator's own TCP server: a read, a block write, a scan, and every way
// a connection can fail, with the cause the operator sees.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Comportclass.h"
#include "HostileGateway.h"
#include "Line.h"
#include "NamedPort.h"
#include "NetworkName.h"
#include "PtyServer.h"
#include "ScriptedMessageService.h"
#include "Ser2net.h"
#include "SilentResolver.h"
#include "TelnetReceiver.h"
#include "TcpServer.h"

using namespace std::chrono_literals;
using sim::Bytes;

namespace {

constexpr const char* kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

struct Rig {
  pmlink::NamedPort port;
  ui::ScriptedMessageService messages;
  int windowCloses = 0;
  TComPortClass link{port, messages, [this] { ++windowCloses; }};
  std::array<std::uint8_t, 100> reply{};

  explicit Rig(const std::string& name) {
    link.Port = name;
    link.SetDelayFunction([](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 10)); });
  }
  int Request(int index, int function, const Bytes& data = {}) {
    return link.Request(index, function, static_cast<int>(data.size()), data.data(), reply.data(),
                        reply.size());
  }
};

// ------------------------------------------------------ through ser2net

class ThroughSer2net : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!testsupport::Ser2net::Installed())
      GTEST_SKIP() << "ser2net is not installed (Debian package ser2net)";
    line.AddDefaultSet();
    gateway = std::make_unique<testsupport::Ser2net>(server.SlavePath(), GetParam());
    ASSERT_TRUE(gateway->Running());
    name = std::string(GetParam() ? "rfc2217" : "tcp") + "://127.0.0.1:" +
           std::to_string(gateway->Port());
  }

  sim::Line line;
  sim::PtyServer server{line};
  std::unique_ptr<testsupport::Ser2net> gateway;
  std::string name;
};

speed_t PtySpeed(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  ::tcgetattr(fd, &t);
  ::close(fd);
  return ::cfgetospeed(&t);
}

TEST_P(ThroughSer2net, ReadsAnInstrumentWithTheSpeedOfTheDialog) {
  Rig rig(name);
  rig.link.Baud = "19200";
  ASSERT_EQ(rig.link.Configure(), 0) << rig.link.LastOpenError();
  ASSERT_EQ(rig.Request(1, 17), rc::Ok);
  EXPECT_EQ(rig.reply[5], sim::model::ZetTs);
  ASSERT_EQ(rig.Request(1, 68), rc::Ok);
  EXPECT_EQ(rig.reply[2], 40);
  ASSERT_EQ(rig.Request(1, 71, {0x00, 0x01}), rc::Ok);
  // Only RFC 2217 carries the speed to the far port.
  EXPECT_EQ(PtySpeed(server.SlavePath()), GetParam() ? B19200 : B9600);
  EXPECT_EQ(line.Frames(sim::Dir::In).size(), 3u) << "each request once";
  EXPECT_TRUE(rig.messages.shown.empty());
}

TEST_P(ThroughSer2net, WritesABlockWithBytesThatTelnetEscapes) {
  line.Find(1)->SetWriteTime(50ms);
  Rig rig(name);
  ASSERT_EQ(rig.link.Configure(), 0) << rig.link.LastOpenError();
  ASSERT_EQ(rig.Request(0, 68), rc::Ok);
  Bytes block(rig.reply.begin() + 3, rig.reply.begin() + 3 + rig.reply[2]);
  block[2] = 0xFF;  // doubled on a Telnet connection, single on the line
  block[3] = 0xFF;
  ASSERT_EQ(rig.Request(0, 69, block), rc::Ok);
  std::this_thread::sleep_for(200ms);  // the program's pause after a block write
  ASSERT_EQ(rig.Request(0, 14), rc::Ok);
  EXPECT_EQ(line.Find(1)->Block(), block);
  ASSERT_EQ(rig.Request(0, 68), rc::Ok);
  EXPECT_EQ(Bytes(rig.reply.begin() + 3, rig.reply.begin() + 3 + rig.reply[2]), block);
}

TEST_P(ThroughSer2net, ScansTheLine) {
  Rig rig(name);
  rig.link.Retries1 = 1;
  ASSERT_EQ(rig.link.Configure(), 0) << rig.link.LastOpenError();
  std::vector<int> found;
  for (int index = 0; index < 6; ++index)
    if (rig.Request(index, 17) == rc::Ok) found.push_back(rig.reply[0]);
  EXPECT_EQ(found, (std::vector<int>{1, 2, 3, 4}));
}

TEST_P(ThroughSer2net, DroppedConnectionMidRequestIsAPortError) {
  Rig rig(name);
  ASSERT_EQ(rig.link.Configure(), 0) << rig.link.LastOpenError();
  // Address 9 is silent: the link is waiting for the reply when the gateway dies.
  std::thread killer([this] {
    std::this_thread::sleep_for(300ms);
    gateway->Kill();
  });
  const auto t0 = std::chrono::steady_clock::now();
  std::string what;
  try {
    rig.Request(8, 17);
  } catch (const pmlink::SerialPortError& e) {
    what = e.what();
  }
  killer.join();
  EXPECT_EQ(what, "Порт " + name + ": соединение разорвано");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1300ms) << "not left to the time-out";
  EXPECT_FALSE(rig.link.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Link, ThroughSer2net, testing::Bool(),
                         [](const auto& info) { return info.param ? "Rfc2217" : "RawTcp"; });

// ------------------------------------------------ failures to connect

// A loopback port whose accept queue is full: a new connection is never
// answered.
struct Unanswering {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  std::vector<int> queued;
  int port = 0;
  Unanswering() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    for (int i = 0; i < 3; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      queued.push_back(fd);
    }
    std::this_thread::sleep_for(50ms);
  }
  ~Unanswering() {
    for (int fd : queued) ::close(fd);
    ::close(listener);
  }
};

// An RFC 2217 server that runs its port at 4800 bit/s whatever it is asked,
// and says so in its answer; the other settings it confirms.
struct StubbornServer {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port = 0;
  std::thread thread;
  StubbornServer() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    thread = std::thread([this] {
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      std::uint8_t buf[256];
      ssize_t n;
      while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
        Bytes out;
        for (ssize_t i = 0; i + 2 < n; ++i) {
          if (buf[i] == 0xFF && buf[i + 1] == 0xFB && buf[i + 2] == 44) out.insert(out.end(), {0xFF, 0xFD, 44});
          if (buf[i] != 0xFF || buf[i + 1] != 0xFA || buf[i + 2] != 44 || i + 3 >= n) continue;
          out.insert(out.end(), {0xFF, 0xFA, 44, static_cast<std::uint8_t>(buf[i + 3] + 100)});
          if (buf[i + 3] == 1)
            out.insert(out.end(), {0x00, 0x00, 0x12, 0xC0});
          else
            out.push_back(buf[i + 4]);
          out.insert(out.end(), {0xFF, 0xF0});
        }
        ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
      }
      ::close(fd);
    });
  }
  ~StubbornServer() {
    ::shutdown(listener, SHUT_RDWR);
    ::close(listener);
    thread.join();
  }
};

struct FailureCase {
  const char* name;
  std::string port;  // "%d" stands for the case's loopback port
  std::string cause;
};

constexpr const char* kBadAddress = "неверный адрес (нужно tcp://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ)";

class ConnectFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ConnectFailure, GivesTheCause) {
  const auto& c = GetParam();
  sim::Line line;
  line.AddDefaultSet();
  sim::TcpServer raw(line, "127.0.0.1:0");  // a gateway without RFC 2217
  Unanswering silent;
  StubbornServer stubborn;
  const int free = testsupport::FreeLoopbackPort();
  auto fill = [&](std::string s) {
    for (const auto& [mark, port] : {std::pair<std::string, int>{"%raw", raw.Port()},
                                     {"%silent", silent.port}, {"%free", free},
                                     {"%stubborn", stubborn.port}})
      for (auto at = s.find(mark); at != std::string::npos; at = s.find(mark))
        s.replace(at, mark.size(), std::to_string(port));
    return s;
  };
  const std::string name = fill(c.port);

  Rig rig(name);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(rig.link.Configure(), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3500ms);
  EXPECT_FALSE(rig.link.IsOpen());
  ASSERT_EQ(rig.messages.shown.size(), 1u);
  EXPECT_EQ(rig.messages.Last().text, std::string(kDisconnected) + "\nПорт " + name + ": " + fill(c.cause));
  EXPECT_EQ(rig.windowCloses, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Link, ConnectFailure,
    testing::Values(
        FailureCase{"Refused", "tcp://127.0.0.1:%free", "узел 127.0.0.1 отклонил соединение на порту %free"},
        FailureCase{"Unresolvable", "rfc2217://pmservice.invalid:2217", "узел pmservice.invalid не найден"},
        FailureCase{"NoAnswer", "tcp://127.0.0.1:%silent", "узел 127.0.0.1 не ответил за 3 с"},
        FailureCase{"NotRfc2217", "rfc2217://127.0.0.1:%raw",
                    "сервер не ответил на запрос управления портом (RFC 2217)"},
        FailureCase{"SettingRefused", "rfc2217://127.0.0.1:%stubborn",
                    "сервер не принял скорость 9600 (ответ 4800)"},
        FailureCase{"NoPort", "tcp://127.0.0.1", kBadAddress},
        FailureCase{"PortZero", "tcp://host:0", kBadAddress},
        FailureCase{"PortTooLarge", "rfc2217://127.0.0.1:65536", kBadAddress},
        FailureCase{"LettersInPort", "tcp://127.0.0.1:40o1", kBadAddress},
        FailureCase{"NoHost", "tcp://:4001", kBadAddress},
        FailureCase{"BlankInHost", "tcp://gate way:4000", kBadAddress}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------ hostile gateways

struct HostileCase {
  const char* name;
  testsupport::Misbehaviour how;
  const char* scheme;
  std::chrono::milliseconds deadline;  // the one that must end it
  std::string outcome;  // the cause or the exchange's message ("" : read); "%n" is the port
  int optionCommands = 4;  // at most this many sent: each option answered once
};

class Hostile : public testing::TestWithParam<HostileCase> {};

// Connects, reads instrument 1 once, and ends with its message in time,
// without a loop of Telnet answers.
TEST_P(Hostile, EndsWithItsMessageInTime) {
  const auto& c = GetParam();
  testsupport::HostileGateway gateway(c.how);
  const std::string name = std::string(c.scheme) + "://127.0.0.1:" + std::to_string(gateway.Port());
  Rig rig(name);
  rig.link.Retries1 = 1;
  const auto t0 = std::chrono::steady_clock::now();
  std::string outcome;
  if (rig.link.Configure() != 0) {
    outcome = rig.link.LastOpenError();
  } else {
    try {
      outcome = rig.link.ErrorText(0, rig.Request(0, 17));
    } catch (const pmlink::SerialPortError& e) {
      outcome = e.what();
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, c.deadline + 1500ms);
  std::string expected = c.outcome;
  if (const auto at = expected.find("%n"); at != std::string::npos) expected.replace(at, 2, name);
  EXPECT_EQ(outcome, expected);
  EXPECT_LE(gateway.OptionCommands(), c.optionCommands);
}

using testsupport::Misbehaviour;
constexpr auto kConnect = 3000ms, kRead = 1300ms;
const std::string kNoTelnet = "Порт %n: сервер не ответил на запрос управления портом (RFC 2217)";
const std::string kNoReply = "устройство 1 %n не отвечает на запрос";

INSTANTIATE_TEST_SUITE_P(
    Link, Hostile,
    testing::Values(
        HostileCase{"SilentAfterConnect", Misbehaviour::Silent, "rfc2217", kConnect, kNoTelnet},
        HostileCase{"SilentRaw", Misbehaviour::Silent, "tcp", kRead, kNoReply},
        HostileCase{"ZeroFlood", Misbehaviour::ZeroFlood, "rfc2217", kConnect, kNoTelnet},
        HostileCase{"EndlessSubnegotiation", Misbehaviour::EndlessSubnegotiation, "rfc2217", kConnect, kNoTelnet},
        HostileCase{"NopFlood", Misbehaviour::NopFlood, "rfc2217", kRead, kNoReply},
        HostileCase{"UnterminatedSubnegotiation", Misbehaviour::UnterminatedSubnegotiation, "rfc2217", kRead, ""},
        HostileCase{"CommandInSubnegotiation", Misbehaviour::CommandInSubnegotiation, "rfc2217", kRead, ""},
        HostileCase{"OptionLoop", Misbehaviour::OptionLoop, "rfc2217", kRead, ""},
        // Our three requests, and then SGA answered a bounded number of times.
        HostileCase{"OptionFlipFlop", Misbehaviour::OptionFlipFlop, "rfc2217", kRead, "",
                    3 + pmlink::TelnetReceiver::kAnswersMax},
        HostileCase{"CloseMidReply", Misbehaviour::CloseMidReply, "tcp", kRead, "Порт %n: соединение разорвано"}),
    [](const auto& info) { return std::string(info.param.name); });

// The simulator's own TCP server, as the demo uses it: the same exchanges.
TEST(SimulatorOverTcp, AnswersLikeThePseudoTerminal) {
  sim::Line line;
  line.AddDefaultSet();
  sim::TcpServer server(line, "127.0.0.1:0");
  Rig rig("tcp://127.0.0.1:" + std::to_string(server.Port()));
  ASSERT_EQ(rig.link.Configure(), 0) << rig.link.LastOpenError();
  ASSERT_EQ(rig.Request(3, 17), rc::Ok);
  EXPECT_EQ(rig.reply[5], sim::model::Lunt);
  // Another client is served once the first has gone.
  rig.link.ClosePort();
  ASSERT_EQ(rig.link.Configure(), 0);
  EXPECT_EQ(rig.Request(0, 17), rc::Ok);
}

// ------------------------------------- a host of its own, in a child process

// What run returns in a child behind a name server that never answers, on a
// network with only the loopback and an IPv4 address; nothing when the system
// allows no user namespaces.
std::optional<std::string> OnSilentNetwork(const std::function<std::string()>& run) {
  int out[2];
  if (::pipe(out) != 0) return std::nullopt;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    const std::string report = testsupport::EnterSilentResolver() ? "+" + run() : "";
    [[maybe_unused]] const auto n = ::write(out[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string report;
  char buf[256];
  for (ssize_t k; (k = ::read(out[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<std::size_t>(k));
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  if (report.empty()) return std::nullopt;
  return report.substr(1);
}

// The outcome of opening a network port, and whether it came in time.
std::string Open(const std::string& name) {
  pmlink::NamedPort port;
  port.SetName(name);
  const auto t0 = std::chrono::steady_clock::now();
  std::string outcome = "open";
  try {
    port.Open();
  } catch (const pmlink::SerialPortError& e) {
    outcome = e.what();
  }
  return std::chrono::steady_clock::now() - t0 < 4500ms ? outcome : "late: " + outcome;
}

TEST(OnSilentNetwork, NameLookupEndsWithTheConnectTime) {
  const auto outcome = OnSilentNetwork([] { return Open("tcp://gateway.pmservice.test:4001"); });
  if (!outcome) GTEST_SKIP() << "no unprivileged user namespaces";
  EXPECT_EQ(*outcome, "Порт tcp://gateway.pmservice.test:4001: узел gateway.pmservice.test "
                      "не найден за 3 с (сервер имён не ответил)");
}

TEST(OnSilentNetwork, Ipv6LoopbackWorksWithoutAnIpv6Address) {
  const auto outcome = OnSilentNetwork([] {
    sim::Line line;
    line.AddDefaultSet();
    sim::TcpServer server(line, "[::1]:0");
    return Open("tcp://[::1]:" + std::to_string(server.Port()));
  });
  if (!outcome) GTEST_SKIP() << "no unprivileged user namespaces";
  EXPECT_EQ(*outcome, "open");
}

}  // namespace
