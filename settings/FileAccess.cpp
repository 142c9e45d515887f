#include "FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace pmset {

namespace {

// Closes a descriptor on every path out.
class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }
  // Closes now and reports the error a delayed write may surface here.
  int Close() {
    const int r = ::close(m_fd);
    m_fd = -1;
    return r;
  }

 private:
  int m_fd;
};

std::string Failed(const std::string& path, int err) { return "Файл " + path + ": " + FileErrorCause(err); }

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t k = ::write(fd, data, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      if (k == 0) errno = EIO;
      return false;
    }
    data += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

}  // namespace

std::string FileErrorCause(int err) {
  switch (err) {
    case ENOSPC: return "нет места на диске";
    case EDQUOT: return "исчерпана дисковая квота";
    case EROFS: return "файловая система только для чтения";
    case EACCES:
    case EPERM: return "нет прав доступа";
    case ENOENT: return "нет такого файла или папки";
    case ENOTDIR: return "путь проходит не через папку";
    case EISDIR: return "это папка";
    case EFBIG: return "превышен допустимый размер файла";
    case EIO: return "ошибка ввода-вывода";
    case ELOOP: return "слишком много символических ссылок";
    case ENAMETOOLONG: return "слишком длинное имя";
    default: return std::strerror(err);
  }
}

FileText ReadSettingsFile(const std::string& path) {
  FileText out;
  // Non-blocking, so that opening a FIFO cannot wait for a writer; nothing
  // but a regular file is read anyway.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    out.why = Failed(path, errno);
    return out;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    out.why = Failed(path, errno);
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.why = "Файл " + path + ": это не обычный файл (" +
              (S_ISDIR(st.st_mode)    ? "папка"
               : S_ISFIFO(st.st_mode) ? "канал"
               : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "устройство"
               : S_ISSOCK(st.st_mode) ? "сокет"
                                      : "не файл") +
              ")";
    return out;
  }
  const std::string tooLarge = "Файл " + path + ": больше " + std::to_string(kMaxFileSize / 1024) +
                               " КиБ, файл настроек прибора много меньше";
  if (st.st_size > static_cast<off_t>(kMaxFileSize)) {
    out.why = tooLarge;
    return out;
  }
  // The size may change under us: never read more than the limit and one byte.
  std::string text(kMaxFileSize + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t k = ::read(fd.get(), text.data() + got, text.size() - got);
    if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (k < 0) {
      out.why = Failed(path, errno);
      return out;
    }
    if (k == 0) break;
    got += static_cast<std::size_t>(k);
  }
  if (got > kMaxFileSize) {
    out.why = tooLarge;
    return out;
  }
  text.resize(got);
  out.ok = true;
  out.text = std::move(text);
  return out;
}

std::string WriteFileAtomically(const std::string& path, const std::string& text) {
  // A new file next to the old one (a rename does not cross file systems),
  // with the old one's permissions, or the usual ones for a new file.
  static std::atomic<unsigned> counter{0};
  struct stat old {};
  const bool existed = ::stat(path.c_str(), &old) == 0;
  if (existed && S_ISDIR(old.st_mode)) return Failed(path, EISDIR);
  const mode_t mode = existed ? (old.st_mode & 07777) : 0666;
  std::string temp;
  int fdNumber = -1;
  for (int attempt = 0; attempt < 100 && fdNumber < 0; ++attempt) {
    temp = FolderOf(path) + "/." + path.substr(path.rfind('/') + 1) + "." + std::to_string(::getpid()) + "." +
           std::to_string(counter++) + ".tmp";
    fdNumber = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fdNumber < 0 && errno != EEXIST) return Failed(path, errno);
  }
  if (fdNumber < 0) return Failed(path, EEXIST);
  Fd fd(fdNumber);
  int err = 0;
  if (existed && ::fchmod(fd.get(), mode) != 0) err = errno;  // the umask may have narrowed it
  if (!err && !WriteAll(fd.get(), text.data(), text.size())) err = errno;
  if (!err && ::fsync(fd.get()) != 0) err = errno;
  if (fd.Close() != 0 && !err) err = errno;
  if (!err && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err) {
    ::unlink(temp.c_str());
    return Failed(path, err);
  }
  // The rename itself is durable once the folder is flushed; a folder that
  // cannot be opened or flushed does not undo the save.
  Fd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
  return {};
}

}  // namespace pmset
