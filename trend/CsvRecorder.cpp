#include "CsvRecorder.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CsvField.h"
#include "FileAccess.h"
#include "Identification.h"

namespace pmtrend {

namespace {

constexpr const char* kEol = "\r\n";

// The model as a text field.
std::string ModelText(int model) {
  std::string name = pmdev::ModelName(model);
  return name.empty() ? std::to_string(model) : pmset::CsvTextField(name);
}

std::string ErrorText(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT: return "нет места на диске";
    case EACCES:
    case EPERM: return "нет прав на запись";
    case ENOENT: return "папка не найдена";
    default: return pmset::FileErrorCause(err);
  }
}

}  // namespace

std::string CsvTime(Millis time) {
  const std::time_t secs = static_cast<std::time_t>(time / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d,%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(time % 1000));
  return buf;
}

std::string CsvHeader(PortColumn port) {
  return std::string(port == PortColumn::Yes ? "Время;Порт;" : "Время;") + "Адрес;Модель;Результат;Единицы;Результат, %;Код результата;Код АЦП;Состояние;"
         "Нарушение;Переполнение;Т хол. спая, °C";
}

std::string CsvRow(const Reading& r, PortColumn port) {
  std::string line = CsvTime(r.time) + ';' + (port == PortColumn::Yes ? pmset::CsvTextField(r.source.port) + ';' : "") +
                     std::to_string(r.source.address) + ';' + ModelText(r.source.model);
  // The measured values stay numbers a spreadsheet can compute with, the
  // negative ones included.
  line += ';' + pmset::CsvNumberField(r.valueText) + ';' + pmset::CsvTextField(r.unit) + ';' +
          pmset::CsvNumberField(r.percentText);
  for (const int code : {r.rez, r.adc, r.status, int{r.alarm}, int{r.overflow}}) line += ';' + std::to_string(code);
  return line + ';' + pmset::CsvNumberField(r.coldJunctionText.value_or(""));
}

std::string CsvFailureRow(const Source& s, Millis time, PortColumn port) {
  return CsvTime(time) + ';' + (port == PortColumn::Yes ? pmset::CsvTextField(s.port) + ';' : "") + std::to_string(s.address) +
         ';' + ModelText(s.model) + ";;;;;;;;;";
}

CsvRecorder::~CsvRecorder() { Stop(); }

std::optional<std::string> CsvRecorder::Start(const std::string& path, PortColumn port) {
  Stop();
  const std::string refused = "Не удалось открыть файл " + path + ": ";
  // Only a regular file is recorded to, created when missing; a link is
  // followed to its file. Anything else is refused before it is opened (an
  // open may hold on a FIFO or toggle a serial line's control lines) and
  // again once open, without waiting, in case it was swapped meanwhile.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return refused + pmset::NotRegularFileCause(st.st_mode);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int err = errno;
    // A FIFO without a reader or a socket put in its place.
    if (err == ENXIO && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      return refused + pmset::NotRegularFileCause(st.st_mode);
    return refused + ErrorText(err);
  }
  std::string why;
  int flags = 0;
  if (::fstat(fd, &st) != 0)
    why = ErrorText(errno);
  else if (!S_ISREG(st.st_mode))
    why = pmset::NotRegularFileCause(st.st_mode);
  else if ((flags = ::fcntl(fd, F_GETFL)) < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
           ::ftruncate(fd, 0) != 0)
    why = ErrorText(errno);
  if (!why.empty()) {
    ::close(fd);
    return refused + why;
  }
  m_fd = fd;
  m_path = path;
  m_lines = 0;
  m_size = 0;
  if (auto err = WriteAll("\xEF\xBB\xBF" + CsvHeader(port) + kEol)) {
    Stop();
    return err;
  }
  return std::nullopt;
}

std::optional<std::string> CsvRecorder::Append(const std::string& line) {
  if (m_fd < 0) return "Запись в файл не ведется";
  if (auto err = WriteAll(line + kEol)) {
    Stop();
    return err;
  }
  ++m_lines;
  return std::nullopt;
}

std::optional<std::string> CsvRecorder::WriteAll(const std::string& text) {
  // Writing on into a file that was removed would lose every line from now
  // on without a word.
  struct stat st {};
  if (::fstat(m_fd, &st) == 0 && st.st_nlink == 0)
    return "Запись в файл " + m_path + " остановлена: файл удален";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : ENOSPC;
      // Cut a part of a line off again.
      if (done > 0 && ::ftruncate(m_fd, static_cast<off_t>(m_size)) == 0)
        ::lseek(m_fd, static_cast<off_t>(m_size), SEEK_SET);
      return "Запись в файл " + m_path + " остановлена: " + ErrorText(err);
    }
    done += static_cast<std::size_t>(n);
  }
  m_size += static_cast<long long>(text.size());
  return std::nullopt;
}

void CsvRecorder::Stop() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

}  // namespace pmtrend
