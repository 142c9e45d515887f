#pragma once
// What the journal is told about a write to an instrument, for the window
// and pmctl alike: the entry begun before the write goes out (the block as
// read before it, the instrument, the operation) and how the write ended.
// The caller begins the entry, writes (ops/Write.h), finishes the entry with
// the write's outcome and, after a completed write, with the block it read
// back. The names of the operations are the ones the journal shows.

#include <cstdint>
#include <string>
#include <vector>

#include "Journal.h"
#include "ProgPM.h"
#include "SettingsFile.h"
#include "Write.h"

namespace pmops {

namespace operation {
inline constexpr const char* kWrite = "Запись (F10)";
inline constexpr const char* kDeviceNumber = "Смена номера устройства";
inline constexpr const char* kCalibrationStart = "Калибровка начала шкалы";
inline constexpr const char* kCalibrationEnd = "Калибровка конца шкалы";
inline constexpr const char* kColdJunctionStart = "Калибровка начала шкалы Тхс";
inline constexpr const char* kColdJunctionEnd = "Калибровка конца шкалы Тхс";
inline constexpr const char* kCurrentStart = "Коррекция тока начала шкалы";
inline constexpr const char* kCurrentEnd = "Коррекция тока конца шкалы";
inline constexpr const char* kNonStandardRange = "Нестандартный диапазон";
inline constexpr const char* kLoadSettings = "Загрузка настроек из файла";
inline constexpr const char* kRestoreAll = "Восстановление всего из файла";
inline constexpr const char* kOutputControl = "Управление выходом";
inline constexpr const char* kRevertSettings = "Возврат прежних настроек";
inline constexpr const char* kRevertAll = "Возврат всех прежних данных";
}  // namespace operation

// The entry for a write of `pm`'s image to the instrument at `address` on
// `port`; `before` is the block as last read from it, at `beforeReadMs`
// (0: read right before this write). The program's name and version, the
// user, host and time are filled in.
pmjournal::Entry EntryBefore(const TProgPMClass& pm, const std::vector<std::uint8_t>& before,
                             const std::string& port, int address, const std::string& operation,
                             std::int64_t beforeReadMs = 0);

// Where a settings file came from: "Файл: pmservice 0.1.0, 2026-12-08T16:55:00+03:00, /dev/ttyUSB0, устройство 3".
std::string FileDetail(const pmset::Snapshot& file);

// The outcome, step and result code a write ended with: a refusal for
// another model or version, a failure at the step that failed.
struct WriteEnd {
  pmjournal::Outcome outcome = pmjournal::Outcome::Done;
  std::string step;
  int result = 0;
};
WriteEnd EndOf(const WriteOutcome& w);
// Output control: sent, or failed with the exchange's result.
WriteEnd EndOfCommand(int result);

}  // namespace pmops
