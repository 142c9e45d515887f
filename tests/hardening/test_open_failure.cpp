// Why a port did not open: the program's message, then a line naming the
// cause the system reported. Permission and busy need a user without root's
// privileges (root opens any file and passes the exclusive flag), so those
// opens run in a child that first drops to an unprivileged user.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "Comportclass.h"
#include "ScriptedMessageService.h"
#include "TermiosPort.h"

namespace {

constexpr const char* kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";
constexpr uid_t kNobody = 65534;

// What one Configure showed the operator.
struct Outcome {
  int result = 0;
  int windowCloses = 0;
  std::vector<ui::Message> shown;
};

Outcome Configure(const std::string& port) {
  pmlink::TermiosPort serial;
  ui::ScriptedMessageService messages;
  Outcome o;
  TComPortClass link(serial, messages, [&] { ++o.windowCloses; });
  link.Port = port;
  o.result = link.Configure();
  o.shown = messages.shown;
  return o;
}

// Runs Configure in a child as the unprivileged user and brings back the
// result, the close requests and the texts shown (through a pipe, so that the
// assertions stay in this process).
Outcome ConfigureAsNobody(const std::string& port) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(2);
    const Outcome o = Configure(port);
    std::string out = std::to_string(o.result) + '\0' + std::to_string(o.windowCloses) + '\0';
    for (const auto& m : o.shown) out += m.text + '\0' + m.caption + '\0';
    const bool written = ::write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size());
    ::_exit(written ? 0 : 3);
  }
  ::close(fds[1]);
  std::string in;
  char buf[512];
  for (ssize_t k; (k = ::read(fds[0], buf, sizeof buf)) > 0;) in.append(buf, static_cast<std::size_t>(k));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

  std::vector<std::string> parts;
  for (std::size_t at = 0, end; (end = in.find('\0', at)) != std::string::npos; at = end + 1)
    parts.push_back(in.substr(at, end - at));
  Outcome o;
  if (parts.size() < 2) return o;
  o.result = std::stoi(parts[0]);
  o.windowCloses = std::stoi(parts[1]);
  for (std::size_t i = 2; i + 1 < parts.size(); i += 2)
    o.shown.push_back({parts[i], parts[i + 1], ui::Icon::Error});
  return o;
}

// A terminal device nobody else holds: the slave of a fresh pty pair, raw.
struct Terminal {
  int master = -1;
  std::string path;
  Terminal() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    path = name;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::close(slave);
  }
  ~Terminal() {
    if (master >= 0) ::close(master);
  }
};

void ExpectRefused(const Outcome& o, const std::string& causeLine) {
  EXPECT_EQ(o.result, -1);
  ASSERT_EQ(o.shown.size(), 1u);
  EXPECT_EQ(o.shown[0].text, std::string(kDisconnected) + "\n" + causeLine);
  EXPECT_EQ(o.shown[0].caption, "Ошибка");
  EXPECT_EQ(o.windowCloses, 1);
}

TEST(OpenFailure, NoSuchDevice) {
  const Outcome o = Configure("/dev/ttyUSB-absent-7");
  ExpectRefused(o, "Порт /dev/ttyUSB-absent-7: такого порта нет");
  EXPECT_EQ(o.shown[0].icon, ui::Icon::Error);
}

TEST(OpenFailure, NoPermissionNamesTheDialoutGroup) {
  Terminal t;
  ASSERT_FALSE(t.path.empty());
  // As a serial adapter's node: owner root, group dialout, no access for
  // others.
  ASSERT_EQ(::chown(t.path.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(t.path.c_str(), 0660), 0);
  ExpectRefused(ConfigureAsNobody(t.path),
                "Порт " + t.path +
                    ": нет прав на доступ к порту (добавьте пользователя в группу dialout и "
                    "войдите в систему заново)");
}

TEST(OpenFailure, HeldByAnotherProgram) {
  Terminal t;
  ASSERT_FALSE(t.path.empty());
  // The user may open the device; another program holds it exclusively.
  ASSERT_EQ(::chown(t.path.c_str(), kNobody, kNobody), 0);
  pmlink::TermiosPort holder;
  holder.SetName(t.path);
  ASSERT_NO_THROW(holder.Open());
  ExpectRefused(ConfigureAsNobody(t.path), "Порт " + t.path + ": порт занят другой программой");
}

TEST(OpenFailure, OtherCausesKeepThePortLayersText) {
  // Not a terminal: the port layer names the port and what went wrong.
  const Outcome o = Configure("/dev/null");
  EXPECT_EQ(o.result, -1);
  ASSERT_EQ(o.shown.size(), 1u);
  const std::string text = o.shown[0].text;
  EXPECT_EQ(text.rfind(std::string(kDisconnected) + "\nПорт /dev/null", 0), 0u) << text;
  EXPECT_EQ(text.find('\n'), text.rfind('\n')) << "one cause line: " << text;
}

}  // namespace
