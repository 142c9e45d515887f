#pragma once
// Instrument identity (function 17 reply), model classification, the
// identification text, the access-mode display and the features a model and
// firmware version offer on the main window.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "DisplayFormat.h"

namespace pmdev {

inline constexpr int kModelKard = 100;
inline constexpr int kModelZetTS = 101;
inline constexpr int kModelZetTP = 102;
inline constexpr int kModelLunt = 103;
inline constexpr int kModelUndetermined = 255;

inline constexpr int kFuncIdentify = 17;

struct Identity {
  int version = 0;     // reply byte 3
  int correction = 0;  // reply byte 4, bits 4-7: correction code at scale start
  int model = 0;       // reply byte 5
  friend bool operator==(const Identity&, const Identity&) = default;
};

// Parses the whole function 17 reply frame (from its address byte). The
// frame's byte count is not checked; a frame shorter than 6 bytes gives
// nullopt.
std::optional<Identity> ParseIdentity(std::span<const std::uint8_t> frame);

enum class ModelClass { Kard, ZetTS, ZetTP, Lunt, Undetermined, Foreign };

ModelClass ClassifyModel(int modelCode);

// "КАРД", "ЗЕТ-ТС", "ЗЕТ-ТП", "ЛУНТ"; empty for any other code.
std::string ModelName(int modelCode);

struct IdentificationLine {
  std::string text;
  int left = 0;
  int width = 0;
  friend bool operator==(const IdentificationLine&, const IdentificationLine&) = default;
};

// From the model's threshold version (5 for KARD and the ZET models, 2 for
// LUNT) the fixed full line at left 170, width 300; below it the short form
// "<model>-v<version>" at left 272, width 73. Other model codes: empty text
// at the short-form place.
IdentificationLine IdentificationText(int modelCode, int version);

// The warnings that end a read after the model check; N = device number 1..32.
std::string UndeterminedTypeWarning(int deviceNumber);
std::string ForeignDeviceWarning(int deviceNumber);

// Label27: "привилегированный" in red for NonPriv 0, "непривилегированный"
// in navy for NonPriv 1 (any non-zero value counts as 1).
std::string AccessModeText(int nonPriv);
Rgb AccessModeColour(int nonPriv);

// The controls switched together with the access mode (enabled only in the
// privileged mode). The alarm settings are not among them.
const std::vector<std::string>& PrivilegedControls();

// What the main window offers for a model and firmware version. Version 0
// offers what version 1 offers; versions above 6 offer what version 6 offers
// except the sensor resistance / e.m.f. display (function 4 is only known for
// version 6) and, for the ZET-TS, the sensor list (see SensorList).
struct Features {
  bool codes = false;           // StKBegSk, StKEndSk, StKodACP, StRez, StRezProc, StSost
  bool resultMA = false;        // StRezGrMA captioned "в мА"
  bool resultDegC = false;      // StRezGrMA captioned "в °С"
  bool alarms = false;          // CBoxTipSign, StUstKod1/2, UstProc1/2, StNar
  bool setpointsInDegC = false; // setpoint unit: degC (ZET) or % of scale (KARD)
  bool breakState = false;      // LabBreak, CBoxBreak
  bool currentStart = false;    // LabCurrent, CBoxCurrent
  bool contactType = false;     // LabTipKont, CBoxTipK
  bool currentEnd = false;      // LabCurrentEnd, CBoxCurrentEnd
  bool sensorType = false;      // Label4, CBoxTipD
  bool range = false;           // Label5, CBoxMin, CBoxMax, GBoxNonStand
  bool nonStandardFromVersion = false;  // version >= 3: ChBoxNonStand may be enabled
  bool connection = false;      // Label26, CBoxConnect
  bool coldJunction = false;    // GBoxZETTP
  bool sensorResistance = false;  // Label28 "Rt, Ом", StRt
  bool thermocoupleEmf = false;   // Label28 "Et, mV", StRt
  bool outputControl = false;   // Label24, ButSwitch, Label25, Edit1
  friend bool operator==(const Features&, const Features&) = default;
};

// All false for a model code that is not served.
Features FeaturesFor(int modelCode, int version);

// The names of the controls the features make visible, in a fixed order
// (a control belonging to two features is listed once).
std::vector<std::string> VisibleControls(const Features& f);

}  // namespace pmdev
