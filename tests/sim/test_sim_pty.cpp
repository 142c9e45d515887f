// The simulator served on a pseudo-terminal, read and written through a raw
// file descriptor on the slave end as a serial program would.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "Line.h"
#include "PtyServer.h"
#include "Publish.h"

using namespace std::chrono_literals;
using sim::Bytes;
using sim::Clock;

namespace {

class RawPort {
 public:
  explicit RawPort(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) return;
    termios t{};
    ::tcgetattr(m_fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m_fd, TCSANOW, &t);
  }
  ~RawPort() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool ok() const { return m_fd >= 0; }
  void Write(const Bytes& b) { ASSERT_EQ(::write(m_fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  // Reads until n bytes arrived or gap passes without a byte; errno-style
  // failures end the read too (hungUp tells).
  Bytes Read(std::size_t n, std::chrono::milliseconds gap = 500ms) {
    Bytes out;
    while (out.size() < n) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(gap.count())) <= 0) break;
      if (p.revents & (POLLHUP | POLLERR)) {
        hungUp = true;
        break;
      }
      std::uint8_t buf[256];
      const ssize_t r = ::read(m_fd, buf, std::min(sizeof buf, n - out.size()));
      if (r <= 0) {
        hungUp = true;
        break;
      }
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  bool hungUp = false;

 private:
  int m_fd = -1;
};

}  // namespace

TEST(SimPty, AnswersEveryModelThroughTheTerminal) {
  sim::Line line;
  line.AddDefaultSet();
  sim::PtyServer server(line);
  RawPort port(server.SlavePath());
  ASSERT_TRUE(port.ok());
  for (std::uint8_t addr = 1; addr <= 4; ++addr) {
    // 0x11 and 0x13 are XON/XOFF and 0x0D a carriage return: a terminal
    // left in canonical mode would eat or turn them.
    port.Write(sim::MakeFrame(addr, 17));
    const Bytes reply = port.Read(8);
    ASSERT_EQ(reply.size(), 8u) << int(addr);
    EXPECT_EQ(reply[0], addr);
    EXPECT_EQ(reply[5], 99 + addr);
    EXPECT_TRUE(sim::CrcOk(reply));
  }
  const Bytes cr = sim::MakeFrame(0x0D, 17);
  line.Add({.address = 0x0D, .model = sim::model::Kard, .version = 1});
  port.Write(cr);
  EXPECT_EQ(port.Read(8).size(), 8u);
  EXPECT_EQ(line.Frames(sim::Dir::In).size(), 5u);
  EXPECT_EQ(line.Frames(sim::Dir::Out).size(), 5u);
}

TEST(SimPty, RequestInPiecesAndSlowReply) {
  sim::Line line;
  auto& inst = line.Add({.address = 1, .model = sim::model::ZetTs, .version = 6});
  sim::PtyServer server(line);
  RawPort port(server.SlavePath());
  ASSERT_TRUE(port.ok());
  const Bytes req = sim::MakeFrame(1, 71, Bytes{0, 1});
  port.Write(Bytes(req.begin(), req.begin() + 3));
  std::this_thread::sleep_for(2ms);
  port.Write(Bytes(req.begin() + 3, req.end()));
  EXPECT_EQ(port.Read(14).size(), 14u);

  inst.InjectFault({.kind = sim::FaultKind::Slow, .delay = 150ms, .byteGap = 20ms});
  const auto t0 = Clock::now();
  port.Write(sim::MakeFrame(1, 17));
  const Bytes reply = port.Read(8);
  const auto took = Clock::now() - t0;
  EXPECT_EQ(reply.size(), 8u);
  EXPECT_GE(took, 150ms + 7 * 20ms);
}

TEST(SimPty, DamagedRequestGetsSilenceAndTheNextOneAnAnswer) {
  sim::Line line;
  line.AddDefaultSet();
  sim::PtyServer server(line);
  RawPort port(server.SlavePath());
  ASSERT_TRUE(port.ok());
  Bytes bad = sim::MakeFrame(1, 68);
  bad[2] ^= 0xFF;
  port.Write(bad);
  EXPECT_TRUE(port.Read(1, 100ms).empty());
  port.Write(sim::MakeFrame(1, 68));
  EXPECT_EQ(port.Read(21).size(), 21u);
}

TEST(SimPty, UnplugHangsUpTheSlave) {
  sim::Line line;
  line.AddDefaultSet();
  sim::PtyServer server(line);
  RawPort port(server.SlavePath());
  ASSERT_TRUE(port.ok());
  server.Unplug();
  EXPECT_FALSE(server.Running());
  EXPECT_TRUE(port.Read(1, 200ms).empty());
  EXPECT_TRUE(port.hungUp);
}

class SimPublish : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/simpubXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    m_saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
  }
  void TearDown() override {
    if (m_saved) ::setenv("XDG_RUNTIME_DIR", m_saved->c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(m_dir);
  }
  std::string m_dir;
  std::optional<std::string> m_saved;
};

TEST_F(SimPublish, LinkLivesAsLongAsTheServer) {
  EXPECT_EQ(sim::LineFolder(), m_dir + "/pmsim");
  sim::Line line;
  line.AddDefaultSet();
  sim::PtyServer server(line);
  const std::string link = server.Publish("line1");
  EXPECT_EQ(link, m_dir + "/pmsim/line1");
  EXPECT_EQ(std::filesystem::read_symlink(link), server.SlavePath());
  struct stat st {};
  ASSERT_EQ(::stat(sim::LineFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // The link opens like the device itself.
  RawPort port(link);
  ASSERT_TRUE(port.ok());
  port.Write(sim::MakeFrame(2, 17));
  EXPECT_EQ(port.Read(8).size(), 8u);

  EXPECT_THROW(sim::Publish("/dev/null", "line1"), std::runtime_error) << "a live line is kept";
  EXPECT_THROW(server.Publish("a/b"), std::runtime_error);
  server.Stop();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(SimPublish, FolderOpenToOthersIsClosedAndAForeignOneRefused) {
  const std::string folder = m_dir + "/pmsim";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  sim::Publish("/dev/null", "line1");
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  if (::getuid() != 0) GTEST_SKIP() << "another user's folder needs root to make";
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
  EXPECT_THROW(sim::Publish("/dev/null", "line2"), std::runtime_error);
}

TEST_F(SimPublish, StaleLinkIsReplaced) {
  ::mkdir((m_dir + "/pmsim").c_str(), 0700);
  const std::string link = m_dir + "/pmsim/line2";
  ASSERT_EQ(::symlink("/dev/pts/no-such-terminal", link.c_str()), 0);
  EXPECT_EQ(sim::Publish("/dev/null", "line2"), link);
  EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/null");
  sim::Unpublish(link, "/dev/zero");
  EXPECT_TRUE(std::filesystem::is_symlink(link)) << "someone else's link stays";
  sim::Unpublish(link, "/dev/null");
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(SimPublishFolder, FallsBackToTmpPerUser) {
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(sim::LineFolder(), "/tmp/pmsim-" + std::to_string(::getuid()));
  if (saved) ::setenv("XDG_RUNTIME_DIR", saved->c_str(), 1);
}
