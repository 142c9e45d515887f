#include "JournalFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "FileAccess.h"
#include "Journal.h"

namespace pmjournal {

namespace {

std::uint32_t BigEndian32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

[[noreturn]] void Fail(const std::string& path, const std::string& cause) {
  throw JournalError("Журнал изменений " + path + ": " + cause);
}

const char* NotRegular(mode_t mode) {
  if (S_ISDIR(mode)) return "папка";
  if (S_ISFIFO(mode)) return "канал";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "устройство";
  if (S_ISSOCK(mode)) return "сокет";
  return "не файл";
}

void RefuseNetwork(const std::string& path, long magic) {
  const std::string kind = NetworkFileSystem(magic);
  if (kind.empty()) return;
  Fail(path, "файл находится на сетевой файловой системе (" + kind +
                 "), где SQLite не может надёжно вести журнал: блокировки и общая память журнала работают только "
                 "на одном компьютере.\nВыберите файл на локальном диске; общую историю группы ведёт сервер базы "
                 "данных.");
}

// Closing any descriptor of a file drops every record lock the process
// holds on it, SQLite's included, and SQLite takes the last connection's
// lock as leave to delete the write-ahead log. So our descriptors of a
// journal file stay open until no journal of this process uses that file.
class OpenFiles {
 public:
  static OpenFiles& Instance() {
    static OpenFiles files;
    return files;
  }
  void Add(const struct stat& st, int fd) {
    const std::lock_guard lock(m_mutex);
    Use& use = m_uses[{st.st_dev, st.st_ino}];
    ++use.holders;
    use.fds.push_back(fd);
  }
  void Release(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    const std::lock_guard lock(m_mutex);
    const auto it = m_uses.find({st.st_dev, st.st_ino});
    if (it == m_uses.end() || --it->second.holders > 0) return;
    for (int each : it->second.fds) ::close(each);
    m_uses.erase(it);
  }

 private:
  struct Use {
    int holders = 0;
    std::vector<int> fds;
  };
  std::mutex m_mutex;
  std::map<std::pair<dev_t, ino_t>, Use> m_uses;
};

}  // namespace

Header ReadHeader(const unsigned char* bytes, std::size_t n, std::uint64_t fileSize) {
  Header h;
  if (fileSize == 0) {
    h.kind = FileKind::Empty;
    return h;
  }
  static const char kMagic[] = "SQLite format 3";  // and its terminating zero
  if (n < 100 || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return h;
  h.userVersion = static_cast<std::int32_t>(BigEndian32(bytes + 60));
  h.applicationId = BigEndian32(bytes + 68);
  h.kind = h.applicationId == kApplicationId ? FileKind::Ours
           : h.applicationId == 0            ? FileKind::Unmarked
                                             : FileKind::OtherApp;
  return h;
}

std::string NetworkFileSystem(long magic) {
  switch (static_cast<unsigned long>(magic) & 0xFFFFFFFFul) {
    case 0x6969: return "NFS";
    case 0x517B: return "SMB";
    case 0xFF534D42: return "CIFS";
    case 0xFE534D42: return "SMB2";
    case 0x65735546: return "FUSE";
    case 0x01021997: return "9P";
    case 0x5346414F: return "AFS";
    case 0x00C36400: return "Ceph";
    case 0x73757245: return "Coda";
    default: return {};
  }
}

JournalFile::JournalFile(const std::string& path, bool create) {
  // The file system is known before anything is created on it.
  struct statfs fsInfo {};
  std::error_code ec;
  const bool exists = std::filesystem::exists(path, ec);
  const std::string probe = exists ? path : std::filesystem::path(path).parent_path().string();
  if (::statfs(probe.empty() ? "." : probe.c_str(), &fsInfo) == 0) RefuseNetwork(path, fsInfo.f_type);

  // What is not a regular file is refused before it is opened: opening a
  // serial port's device toggles its control lines.
  struct stat there {};
  if (::stat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode))
    Fail(path, std::string("это не обычный файл (") + NotRegular(there.st_mode) + ")");
  // Non-blocking, so that a FIFO put at the path meanwhile cannot hold the program.
  const int common = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  m_fd = ::open(path.c_str(), O_RDWR | common | (create ? O_CREAT : 0), 0644);
  m_writable = m_fd >= 0;
  if (m_fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) m_fd = ::open(path.c_str(), O_RDONLY | common);
  if (m_fd < 0) {
    const int err = errno;
    if (err == ENXIO) Fail(path, "это не обычный файл (сокет)");
    Fail(path, pmset::FileErrorCause(err));
  }
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) {
    const int err = errno;
    ::close(m_fd);
    Fail(path, pmset::FileErrorCause(err));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(m_fd);
    Fail(path, std::string("это не обычный файл (") + NotRegular(st.st_mode) + ")");
  }
  OpenFiles::Instance().Add(st, m_fd);
}

JournalFile::~JournalFile() {
  Unlock();
  OpenFiles::Instance().Release(m_fd);
}

bool JournalFile::Lock(int operation, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (::flock(m_fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool JournalFile::Shared(int waitMs) { return Lock(LOCK_SH, waitMs); }
bool JournalFile::Exclusive(int waitMs) { return Lock(LOCK_EX, waitMs); }
void JournalFile::Unlock() { ::flock(m_fd, LOCK_UN); }

bool JournalFile::StillAt(const std::string& path) const {
  struct stat mine {}, there {};
  return ::fstat(m_fd, &mine) == 0 && ::stat(path.c_str(), &there) == 0 && mine.st_dev == there.st_dev &&
         mine.st_ino == there.st_ino;
}

Header JournalFile::ReadHeader() const {
  unsigned char bytes[100] = {};
  ssize_t n;
  do n = ::pread(m_fd, bytes, sizeof bytes, 0);
  while (n < 0 && errno == EINTR);
  return pmjournal::ReadHeader(bytes, n > 0 ? static_cast<std::size_t>(n) : 0, Size());
}

std::uint64_t JournalFile::Size() const {
  struct stat st {};
  return ::fstat(m_fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

}  // namespace pmjournal
