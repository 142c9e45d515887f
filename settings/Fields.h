#pragma once
// An instrument's parameter block as named fields, in the main window's
// captions, texts and number formats, with the bytes and bits each field
// occupies. Two kinds: the settings an operator chooses (a file carries them
// from one instrument to another) and the instrument's own data (calibration
// codes, output-current corrections, address, access mode), which stay with
// the instrument.
//
// One table per model and firmware version describes the block; decoding,
// comparing, what a load may write and what a restore keeps all read it.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "ProgPM.h"

namespace pmset {

enum class Kind { Setting, Own };

// The access mode is the instrument's state at a read, not a block field:
// a read puts the output-current correction into the bits of byte 5 that
// carried it. Files of the first format did not record it.
enum class Access { Unknown, Privileged, NonPrivileged };
Access AccessOf(const TProgPMClass& pm);  // from NonPriv of a completed read

// Bits used, per image byte 1..40 (index 0 unused).
using ByteMask = std::array<std::uint8_t, TProgPMClass::MaxBlockLen + 1>;

// A decoded number for scripts: a code or index, a quantity in the unit its
// key names (_degC, _percent, _mA, _uA), a yes/no, or a list of codes.
using Number = std::variant<long, double, bool, std::vector<long>>;
struct Value {
  std::string key;
  Number number;
  friend bool operator==(const Value&, const Value&) = default;
};

struct Field {
  std::string key;    // stable English key of the settings file
  std::string label;  // the window's caption
  std::string text;   // the value as the window shows it
  Kind kind = Kind::Setting;
  ByteMask bits{};              // where it lives in the block; none for a derived field
  bool operatorMay = false;     // a non-privileged instrument takes it
  std::vector<Value> values;    // the same as numbers
  friend bool operator==(const Field&, const Field&) = default;
};

// A parameter block (bytes 1..L, at most 40) with what decoding it needs.
struct BlockView {
  int model = 0;
  int version = 0;
  std::span<const std::uint8_t> block;
  Access access = Access::Unknown;
};

// The fields the model and firmware version have, in the window's order. A
// field is present when all its bytes lie before the block's last byte; the
// last byte is a field of its own.
std::vector<Field> Describe(const BlockView& b);

// The measurement block (9 bytes) as the window shows it.
std::vector<Field> DescribeMeasurement(const BlockView& b, std::span<const std::uint8_t> measurement);

// The union of the fields' bits.
ByteMask BitsOf(const std::vector<Field>& fields);

// Every field of two blocks of one model and version, side by side, and
// every byte of the block that differs in bits no field shows ("Байт N").
struct Row {
  std::string key;  // the field's key; "byte_N" for a byte no field shows
  std::string label;
  std::string mine;
  std::string theirs;
  Kind kind = Kind::Own;
  bool differs = false;
};
enum class Part { Whole, Settings };  // Settings: only what a load may write
std::vector<Row> Compare(const BlockView& mine, const BlockView& theirs, Part part);

// A write checked against the block read back after it: the fields whose
// bits `wrote` covers, compared by those bits only, and every byte of
// `wrote` no field shows. What the write left as it was, and the access
// mode, which no write sets, are the instrument's own and never differ here.
std::vector<Row> ReadBackDifferences(const BlockView& sent, const BlockView& back, const ByteMask& wrote);

// The item texts of the window's lists the fields use.
const std::vector<std::string>& AlarmTypeItems();     // CBoxTipSign
const std::vector<std::string>& ContactTypeItems();   // CBoxTipK
const std::vector<std::string>& BreakStateItems();    // CBoxBreak
const std::vector<std::string>& ConnectionItems();    // CBoxConnect
const std::vector<std::string>& CurrentStartItems();  // CBoxCurrent
const std::vector<std::string>& CurrentEndItems();    // CBoxCurrentEnd

}  // namespace pmset
