#pragma once
// An instrument's parameter block as named fields, in the main window's
// captions, texts and number formats. Two kinds: the settings an operator
// chooses (a file carries them from one instrument to another) and the
// instrument's own data (calibration codes, output-current corrections,
// address, access mode), which stay with the instrument.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pmset {

enum class Kind { Setting, Own };

struct Field {
  std::string key;    // stable English key of the settings file
  std::string label;  // the window's caption
  std::string text;   // the value as the window shows it
  Kind kind = Kind::Setting;
  friend bool operator==(const Field&, const Field&) = default;
};

// The fields a model and firmware version have, decoded from block bytes
// 1..L (`block` holds L bytes).
std::vector<Field> Describe(int model, int version, std::span<const std::uint8_t> block);

// The measurement block (9 bytes) as the window shows it.
std::vector<Field> DescribeMeasurement(int model, int version, std::span<const std::uint8_t> block,
                                       std::span<const std::uint8_t> measurement);

// The item texts of the window's lists the fields use.
const std::vector<std::string>& AlarmTypeItems();     // CBoxTipSign
const std::vector<std::string>& ContactTypeItems();   // CBoxTipK
const std::vector<std::string>& BreakStateItems();    // CBoxBreak
const std::vector<std::string>& ConnectionItems();    // CBoxConnect
const std::vector<std::string>& CurrentStartItems();  // CBoxCurrent
const std::vector<std::string>& CurrentEndItems();    // CBoxCurrentEnd

}  // namespace pmset
