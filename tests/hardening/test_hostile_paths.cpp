// What the program writes to a path it was given (settings files, CSV and
// PDF exports through the atomic writer; the recording's CSV, streamed)
// lands in a regular file or nowhere: a link is written through and stays
// a link, and anything else is refused untouched, at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "CsvRecorder.h"
#include "FileAccess.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool CanCreateIn(const fs::path& folder) {
  const fs::path probe = folder / ".pm_probe";
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

// A folder nobody may create a file in: a read-only one, or for root (who
// may write anyway) one of sysfs.
fs::path ReadOnlyFolder(const fs::path& base) {
  const fs::path ro = base / "readonly";
  fs::create_directories(ro);
  WriteText(ro / "old.json", "old");
  ::chmod(ro.c_str(), 0555);
  if (!CanCreateIn(ro)) return ro;
  return CanCreateIn("/sys") ? fs::path() : fs::path("/sys");
}

}  // namespace

struct HostilePath : testing::Test {
  void SetUp() override {
    // Short: a socket's path has a limit of about 100 bytes.
    base = fs::temp_directory_path() / ("pm_hostile_" + std::to_string(::getpid()));
    fs::remove_all(base);
    fs::create_directories(base);
  }
  void TearDown() override {
    for (int fd : open) ::close(fd);
    for (const auto& e : fs::recursive_directory_iterator(base))
      if (e.is_directory(ignored) && !e.is_symlink(ignored)) ::chmod(e.path().c_str(), 0755);
    fs::remove_all(base, ignored);
  }
  fs::path base;
  std::vector<int> open;  // readers of FIFOs, bound sockets
  std::error_code ignored;
};

namespace {

// The system's type bits of what is at a path, not following a link.
unsigned TypeAt(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// A call that would wait (an open of a FIFO without a reader) is
// interrupted after a few seconds and fails instead of hanging the test.
class Deadline {
 public:
  Deadline() {
    struct sigaction wake {};
    wake.sa_handler = [](int) {};
    ::sigaction(SIGALRM, &wake, &m_was);  // no SA_RESTART: the call ends with EINTR
    ::alarm(3);
  }
  ~Deadline() {
    ::alarm(0);
    ::sigaction(SIGALRM, &m_was, nullptr);
  }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  struct sigaction m_was {};
};

// Temporary files of a write left in a folder (and below it, if `deep`).
std::vector<fs::path> Leftovers(const fs::path& folder, bool deep = true) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!deep) it.disable_recursion_pending();
    if (it->path().extension() == ".tmp") found.push_back(it->path());
  }
  return found;
}

}  // namespace

// One table for both writers. Each case makes its thing in a fresh folder
// per writer; a write either lands in a regular file (the link, if any,
// still a link; permissions and owner kept) or is refused with the kind of
// file named, the thing left as it was and no temporary file behind.
TEST_F(HostilePath, OnlyRegularFilesAreWrittenAndLinksAreFollowed) {
  const bool root = ::geteuid() == 0;
  const fs::path readOnly = ReadOnlyFolder(base);
  struct Case {
    std::string name;
    // Makes the thing at `at` in `dir`; the file the write must land in
    // (empty when it must be refused).
    std::function<fs::path(const fs::path& dir, const fs::path& at)> make;
    std::string refusal;  // what either writer's refusal says; "" when it writes
  };
  const auto fifo = [&](bool reader) {
    return [this, reader](const fs::path&, const fs::path& at) {
      EXPECT_EQ(::mkfifo(at.c_str(), 0600), 0);
      // With a reader an open for writing succeeds at once: only a check of
      // the type keeps the text out of the FIFO.
      if (reader) open.push_back(::open(at.c_str(), O_RDONLY | O_NONBLOCK));
      return fs::path();
    };
  };
  // A character device of our own (the one /dev/full is), where we may make
  // one: never a write near the system's own nodes as root. Otherwise a
  // link to /dev/null, which a user cannot replace anyway.
  const auto device = [](const fs::path&, const fs::path& at) {
    if (::mknod(at.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) fs::create_symlink("/dev/null", at);
    return fs::path();
  };
  const Case cases[] = {
      {"regular",
       [root](const fs::path&, const fs::path& at) {
         WriteText(at, "old");
         ::chmod(at.c_str(), 0640);
         if (root) {
           EXPECT_EQ(::chown(at.c_str(), 65534, 65534), 0);
         }
         return at;
       },
       ""},
      {"new", [](const fs::path&, const fs::path& at) { return at; }, ""},
      {"link",
       [](const fs::path& dir, const fs::path& at) {
         WriteText(dir / "real", "old");
         ::chmod((dir / "real").c_str(), 0600);
         fs::create_symlink("real", at);
         return dir / "real";
       },
       ""},
      // Relative targets are taken from each link's own folder.
      {"chain",
       [](const fs::path& dir, const fs::path& at) {
         fs::create_directories(dir / "sub");
         WriteText(dir / "end", "old");
         fs::create_symlink("sub/middle", at);
         fs::create_symlink("../end", dir / "sub" / "middle");
         return dir / "end";
       },
       ""},
      {"dangling",
       [](const fs::path& dir, const fs::path& at) {
         fs::create_symlink("made", at);
         return dir / "made";
       },
       ""},
      // The new file is made beside the target, not beside the link.
      {"link-from-readonly",
       [](const fs::path& dir, const fs::path& at) {
         fs::create_directories(dir / "ro");
         WriteText(dir / "target", "old");
         fs::create_symlink(dir / "target", dir / "ro" / "link");
         fs::create_symlink(dir / "ro" / "link", at);
         ::chmod((dir / "ro").c_str(), 0555);
         return dir / "target";
       },
       ""},
      {"loop",
       [](const fs::path& dir, const fs::path& at) {
         fs::create_symlink("loop2", at);
         fs::create_symlink("loop", dir / "loop2");
         return fs::path();
       },
       "слишком много символических ссылок"},
      {"fifo", fifo(false), "это не обычный файл (канал)"},
      {"fifo-read", fifo(true), "это не обычный файл (канал)"},
      {"device", device, "это не обычный файл (устройство)"},
      {"socket",
       [this](const fs::path&, const fs::path& at) {
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         EXPECT_LT(at.string().size(), sizeof addr.sun_path);
         at.string().copy(addr.sun_path, sizeof addr.sun_path - 1);
         EXPECT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0) << at;
         open.push_back(s);
         return fs::path();
       },
       "это не обычный файл (сокет)"},
      {"folder",
       [](const fs::path&, const fs::path& at) {
         fs::create_directories(at);
         return fs::path();
       },
       "это не обычный файл (папка)"},
      {"link-to-folder",
       [](const fs::path& dir, const fs::path& at) {
         fs::create_directories(dir / "folder");
         fs::create_symlink("folder", at);
         return fs::path();
       },
       "это не обычный файл (папка)"},
  };
  const std::string text = "new text\n";
  for (const char* writer : {"atomic", "recorder"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(writer) + " " + c.name);
      const fs::path dir = base / writer / c.name;
      fs::create_directories(dir);
      const fs::path at = dir / c.name;
      const fs::path lands = c.make(dir, at);
      const unsigned typeBefore = TypeAt(at);
      struct stat before {};
      const bool existed = !lands.empty() && ::stat(lands.c_str(), &before) == 0;

      const auto start = std::chrono::steady_clock::now();
      std::string failure;
      const std::string& expected = c.refusal;
      const Deadline deadline;
      if (std::string(writer) == "atomic") {
        failure = pmset::WriteFileAtomically(at.string(), text);
      } else {
        pmtrend::CsvRecorder rec;
        failure = rec.Start(at.string()).value_or("");
        if (failure.empty()) {
          EXPECT_EQ(rec.Append("1;2"), std::nullopt);
        }
      }
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
      if (expected.empty()) {
        EXPECT_EQ(failure, "");
        const std::string written = std::string(writer) == "atomic"
                                        ? text
                                        : "\xEF\xBB\xBF" + pmtrend::CsvHeader() + "\r\n1;2\r\n";
        EXPECT_EQ(ReadText(lands), written);
        EXPECT_EQ(TypeAt(lands), unsigned{S_IFREG});
        struct stat after {};
        EXPECT_EQ(::stat(lands.c_str(), &after), 0);
        if (existed) {
          EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
          EXPECT_EQ(after.st_uid, before.st_uid);
          EXPECT_EQ(after.st_gid, before.st_gid);
        }
      } else {
        const std::string named = std::string(writer) == "atomic" ? "Файл " + at.string()
                                                                   : "Не удалось открыть файл " + at.string();
        EXPECT_EQ(failure.rfind(named, 0), 0u) << failure;
        EXPECT_NE(failure.find(expected), std::string::npos) << failure;
      }
      // Whatever was at the path is still that.
      EXPECT_EQ(TypeAt(at), typeBefore == 0 ? unsigned{S_IFREG} : typeBefore);
      EXPECT_EQ(Leftovers(dir), std::vector<fs::path>());
    }
  }
  // An atomic write refused by a folder leaves its old file as it was.
  if (!readOnly.empty()) {
    const fs::path old = readOnly / "old.json";
    const std::string failure = pmset::WriteFileAtomically(old.string(), text);
    EXPECT_EQ(failure.rfind("Файл " + old.string() + ": ", 0), 0u) << failure;
    EXPECT_TRUE(failure.find("нет прав доступа") != std::string::npos ||
                failure.find("только для чтения") != std::string::npos)
        << failure;
    if (fs::exists(old)) {
      EXPECT_EQ(ReadText(old), "old");
    }
    EXPECT_EQ(Leftovers(readOnly, false), std::vector<fs::path>());
    // Through a link the message names both.
    const fs::path link = base / "to-readonly";
    fs::create_symlink(old, link);
    EXPECT_EQ(pmset::WriteFileAtomically(link.string(), text).rfind("Файл " + link.string() + " (ссылка на " +
                                                                     old.string() + "): ",
                                                                 0),
              0u);
  }
}

// Every errno reads in Russian, the ones a user meets in words of their own.
TEST(FileErrorCause, RussianForEveryErrno) {
  const std::pair<int, const char*> words[] = {
      {ENOSPC, "нет места на диске"},
      {EACCES, "нет прав доступа"},
      {ENOENT, "нет такого файла или папки"},
      {ESPIPE, "в файле нельзя переходить к нужному месту (это канал или устройство)"},
      {ENXIO, "устройство недоступно или у канала нет читающей стороны"},
      {ETXTBSY, "файл занят: это запущенная программа"},
      {EBUSY, "файл или устройство заняты"},
      {EEXIST, "файл уже существует"},
      {ENODEV, "нет такого устройства"},
      {EINVAL, "недопустимое имя файла или операция для этой файловой системы"},
      {EMFILE, "программа открыла слишком много файлов"},
      {ENFILE, "в системе открыто слишком много файлов"},
      {ENOMEM, "недостаточно памяти"},
      {EAGAIN, "ресурс временно недоступен, повторите попытку"},
      {EPIPE, "читающая сторона канала закрыта"},
      {ENOTCONN, "нет соединения с файловой системой (сетевой диск отключен)"},
      {9999, "системная ошибка 9999"},
  };
  for (const auto& [err, text] : words) EXPECT_EQ(pmset::FileErrorCause(err), text) << err;
  for (int err = 0; err < 200; ++err) {
    const std::string cause = pmset::FileErrorCause(err);
    EXPECT_FALSE(cause.empty()) << err;
    EXPECT_EQ(cause.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"), std::string::npos)
        << err << ": " << cause;
  }
}
