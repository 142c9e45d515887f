#include "CsvRecorder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Identification.h"

namespace pmtrend {

namespace {

constexpr const char* kEol = "\r\n";

std::string ModelText(int model) {
  std::string name = pmdev::ModelName(model);
  return name.empty() ? std::to_string(model) : name;
}

std::string ErrorText(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT: return "нет места на диске";
    case EACCES:
    case EPERM: return "нет прав на запись";
    case ENOENT: return "папка не найдена";
    case EIO: return "ошибка ввода-вывода";
    default: return std::strerror(err);
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

namespace {

// A port name as one field: quoted when it holds the separator or a quote.
std::string PortField(const std::string& port) {
  if (port.find_first_of(";\"\r\n") == std::string::npos) return port;
  std::string quoted = "\"";
  for (const char c : port) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + '"';
}

}  // namespace

std::string CsvHeader(PortColumn port) {
  return std::string(port == PortColumn::Yes ? "Время;Порт;" : "Время;") + "Адрес;Модель;Результат;Единицы;Результат, %;Код результата;Код АЦП;Состояние;"
         "Нарушение;Переполнение;Т хол. спая, °C";
}

std::string CsvRow(const Reading& r, PortColumn port) {
  std::string line = CsvTime(r.time) + ';' + (port == PortColumn::Yes ? PortField(r.source.port) + ';' : "") +
                     std::to_string(r.source.address) + ';' + ModelText(r.source.model);
  for (const std::string& f :
       {r.valueText, r.unit, r.percentText, std::to_string(r.rez), std::to_string(r.adc), std::to_string(r.status),
        std::string(r.alarm ? "1" : "0"), std::string(r.overflow ? "1" : "0"), r.coldJunctionText.value_or("")})
    line += ';' + f;
  return line;
}

std::string CsvFailureRow(const Source& s, Millis time, PortColumn port) {
  return CsvTime(time) + ';' + (port == PortColumn::Yes ? PortField(s.port) + ';' : "") + std::to_string(s.address) +
         ';' + ModelText(s.model) + ";;;;;;;;;";
}

CsvRecorder::~CsvRecorder() { Stop(); }

std::optional<std::string> CsvRecorder::Start(const std::string& path, PortColumn port) {
  Stop();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return "Не удалось открыть файл " + path + ": " + ErrorText(errno);
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
