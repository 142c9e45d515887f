#pragma once
// Putting a settings file into the image of the instrument shown. Settings
// only (cloning: the instrument keeps its calibration codes, output-current
// corrections, address, access mode and every byte no setting occupies), or
// everything (putting back the instrument's own backup; the address stays
// the instrument's). The block's last byte is always the instrument's. A
// non-privileged instrument takes only what its operator may change: alarm
// type, contact type and the setpoints. What may be written comes from the
// fields of the block (Fields.h), the same ones a comparison shows.

#include <string>
#include <vector>

#include "Fields.h"
#include "ProgPM.h"
#include "SettingsFile.h"

namespace pmset {

enum class Scope { Settings, Everything };

// The bits a load of that scope may write into a block of that model,
// version and length.
ByteMask WritableBits(int model, int version, int length, Scope scope, bool nonPrivileged);

struct Applied {
  bool changed = false;                 // some byte of the image changed
  std::vector<std::string> notApplied;  // captions of the parts asked for and not taken
  ByteMask wrote{};                     // the bits the image took from the file
};

// The caller has checked RefusalFor; pm holds a completed read.
Applied Apply(const Snapshot& file, TProgPMClass& pm, Scope scope);

}  // namespace pmset
