#pragma once
// The settings file: one instrument's parameter block as UTF-8 JSON, with
// where and when it was read, the instrument's identity and access mode and,
// for people, scripts and comparisons, every field decoded twice: as the
// window shows it and as numbers. The hex block is what counts; the decoded
// parts must agree with it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Fields.h"
#include "ProgPM.h"

namespace pmset {

// 2: the access mode recorded, numbers beside the texts, the time with its
// UTC offset. Files of format 1 are still read.
inline constexpr int kFormatVersion = 2;
inline constexpr const char* kFormatName = "pmservice-settings";

// The program version (the project version of the build).
std::string ProgramVersion();

struct Snapshot {
  int formatVersion = kFormatVersion;
  std::string program;  // "pmservice 0.1.0"
  std::string savedAt;  // local time with its UTC offset, "2026-12-08T16:55:00+03:00"
  std::string port;
  int address = 0;  // 1..32, where it was read
  int model = 0;
  int version = 0;
  int correction = 0;  // output-current correction code at scale start
  Access access = Access::Unknown;
  std::vector<std::uint8_t> block;        // bytes 1..L
  std::vector<std::uint8_t> measurement;  // the 9 measurement bytes

  BlockView View() const { return {model, version, block, access}; }
};

// Bytes 1..L of the record's image (at most 40).
std::vector<std::uint8_t> BlockOf(const TProgPMClass& pm);

// The instrument of a record that a completed read filled.
Snapshot TakeSnapshot(const TProgPMClass& pm, const std::string& port, int address);

std::string Encode(const Snapshot& s);

struct Parsed {
  std::optional<Snapshot> file;
  std::string refusal;  // the operator's message when file is empty
};

// Refuses (with its message) text that is not JSON or not a settings file,
// a newer format, numbers that are not integers in their range, a block
// that is not hex or not 1..40 bytes, and decoded parts that are missing a
// field or disagree with the block.
Parsed Decode(std::string_view text);

// The refusal for loading the file into an instrument of this model,
// version and block length; empty when it may be loaded.
std::string RefusalFor(const Snapshot& s, int model, int version, int length);

// The suffix of every refusal text.
inline constexpr const char* kNothingLoaded = "\nЗагрузка отменена";

}  // namespace pmset
