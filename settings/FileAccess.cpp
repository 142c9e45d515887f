#include "FileAccess.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

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

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

// Where a write to a path lands: the path itself, or the file its symbolic
// link (or chain of links) ends at; a link's relative target is taken from
// the link's folder.
struct Target {
  std::string path;
  bool exists = false;  // st holds what is there
  struct stat st {};
  int err = 0;  // the path could not be followed
};

Target Resolve(const std::string& path) {
  Target t;
  t.path = path;
  for (int hops = 0;; ++hops) {
    if (::lstat(t.path.c_str(), &t.st) != 0) {
      if (errno != ENOENT) t.err = errno;  // missing: the write creates it
      return t;
    }
    if (!S_ISLNK(t.st.st_mode)) {
      t.exists = true;
      return t;
    }
    if (hops == kMaxLinks) {
      t.err = ELOOP;
      return t;
    }
    std::string next(PATH_MAX, '\0');
    const ssize_t n = ::readlink(t.path.c_str(), next.data(), next.size());
    if (n < 0) {
      t.err = errno;
      return t;
    }
    if (static_cast<std::size_t>(n) == next.size()) {
      t.err = ENAMETOOLONG;
      return t;
    }
    next.resize(static_cast<std::size_t>(n));
    t.path = next.front() == '/' ? next : FolderOf(t.path) + "/" + next;
  }
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

std::string NotRegularFileCause(unsigned mode) {
  return std::string("это не обычный файл (") +
         (S_ISDIR(mode)                    ? "папка"
          : S_ISFIFO(mode)                 ? "канал"
          : S_ISCHR(mode) || S_ISBLK(mode) ? "устройство"
          : S_ISSOCK(mode)                 ? "сокет"
          : S_ISLNK(mode)                  ? "символическая ссылка"
                                           : "не файл") +
         ")";
}

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
    case ESPIPE: return "в файле нельзя переходить к нужному месту (это канал или устройство)";
    case ENXIO: return "устройство недоступно или у канала нет читающей стороны";
    case ENODEV: return "нет такого устройства";
    case ETXTBSY: return "файл занят: это запущенная программа";
    case EBUSY: return "файл или устройство заняты";
    case EEXIST: return "файл уже существует";
    case ENOTEMPTY: return "папка не пуста";
    case EXDEV: return "нельзя переместить на другую файловую систему";
    case EINVAL: return "недопустимое имя файла или операция для этой файловой системы";
    case ENOTSUP: return "операция не поддерживается файловой системой";
    case EMFILE: return "программа открыла слишком много файлов";
    case ENFILE: return "в системе открыто слишком много файлов";
    case ENOMEM: return "недостаточно памяти";
    case EAGAIN: return "ресурс временно недоступен, повторите попытку";
    case EINTR: return "операция прервана";
    case EPIPE: return "читающая сторона канала закрыта";
    case ENOTCONN: return "нет соединения с файловой системой (сетевой диск отключен)";
    case ESTALE: return "файл на сетевом диске больше не доступен";
    case ETIMEDOUT: return "истекло время ожидания";
    case ENOLCK: return "нет свободных блокировок файлов";
    case EBADF: return "файл не открыт для этой операции";
    default: return "системная ошибка " + std::to_string(err);
  }
}

FileText ReadSettingsFile(const std::string& path) {
  FileText out;
  // What is not a regular file is refused before it is opened: opening a
  // serial device would toggle its control lines, opening a FIFO would
  // release a writer waiting on it.
  struct stat st {};
  // Why the file, as stat or fstat gave it, is not read; empty when it may be.
  const auto refusal = [&](int statResult) {
    if (statResult != 0) return Failed(path, errno);
    return S_ISREG(st.st_mode) ? std::string() : "Файл " + path + ": " + NotRegularFileCause(st.st_mode);
  };
  if (out.why = refusal(::stat(path.c_str(), &st)); !out.why.empty()) return out;
  // Non-blocking, so that a FIFO put there since cannot wait for a writer;
  // what is opened is checked again.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    out.why = Failed(path, errno);
    return out;
  }
  if (out.why = refusal(::fstat(fd.get(), &st)); !out.why.empty()) return out;
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
  return WriteFileAtomically(path, [&text](const FileWriter& write) {
    write(text);
    return std::string();
  });
}

std::string WriteFileAtomically(const std::string& path, const std::function<std::string(const FileWriter&)>& produce) {
  // Only a regular file is replaced. A link stays a link: the file it ends
  // at is replaced, by a new file in that file's folder (a rename does not
  // cross file systems).
  const Target target = Resolve(path);
  const std::string name = target.path == path ? path : path + " (ссылка на " + target.path + ")";
  if (target.err) return Failed(name, target.err);
  if (target.exists && !S_ISREG(target.st.st_mode))
    return "Файл " + name + ": " + NotRegularFileCause(target.st.st_mode);
  // The old file's permissions and, where the system lets us, its owner; the
  // usual ones for a new file.
  const mode_t mode = target.exists ? (target.st.st_mode & 07777) : 0666;
  const std::string folder = FolderOf(target.path);
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fdNumber = -1;
  for (int attempt = 0; attempt < 100 && fdNumber < 0; ++attempt) {
    temp = folder + "/." + target.path.substr(target.path.rfind('/') + 1) + "." + std::to_string(::getpid()) + "." +
           std::to_string(counter++) + ".tmp";
    fdNumber = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fdNumber < 0 && errno != EEXIST) return Failed(name, errno);
  }
  if (fdNumber < 0) return Failed(name, EEXIST);
  Fd fd(fdNumber);
  int err = 0;
  if (target.exists) {
    // Another user's file keeps its owner where the system lets us give it
    // away; otherwise the new copy is ours, as any save would make it.
    if (target.st.st_uid != ::geteuid() || target.st.st_gid != ::getegid()) {
      const int kept = ::fchown(fd.get(), target.st.st_uid, target.st.st_gid);
      static_cast<void>(kept);
    }
    if (::fchmod(fd.get(), mode) != 0) err = errno;  // the umask may have narrowed it
  }
  // The pieces go out in blocks of about 64 KiB.
  std::string pending;
  const auto flush = [&] {
    if (!err && !pending.empty() && !WriteAll(fd.get(), pending.data(), pending.size())) err = errno;
    pending.clear();
    return err == 0;
  };
  std::string unfinished;
  if (!err) {
    unfinished = produce([&](std::string_view piece) {
      if (err) return false;
      pending.append(piece);
      return pending.size() < 65536 || flush();
    });
    flush();
  }
  if (!unfinished.empty()) {
    fd.Close();
    ::unlink(temp.c_str());
    return unfinished;
  }
  if (!err && ::fsync(fd.get()) != 0) err = errno;
  if (fd.Close() != 0 && !err) err = errno;
  // Something else may have been put in the file's place meanwhile.
  struct stat now {};
  std::string refused;
  if (!err && ::lstat(target.path.c_str(), &now) == 0 && !S_ISREG(now.st_mode))
    refused = "Файл " + name + ": " + NotRegularFileCause(now.st_mode);
  if (!err && refused.empty() && ::rename(temp.c_str(), target.path.c_str()) != 0) err = errno;
  if (err || !refused.empty()) {
    ::unlink(temp.c_str());
    return err ? Failed(name, err) : refused;
  }
  // The rename itself is durable once the folder is flushed; a folder that
  // cannot be opened or flushed does not undo the save.
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return {};
}

}  // namespace pmset
