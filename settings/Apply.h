#pragma once
// Putting a settings file into the image of the instrument shown. Settings
// only (cloning: the instrument keeps its calibration codes, output-current
// corrections, address, access mode and the block's last byte), or
// everything (putting back the instrument's own backup; the address stays
// the instrument's). A non-privileged instrument takes only what its
// operator may change: alarm type, contact type and the setpoints.

#include <string>
#include <vector>

#include "ProgPM.h"
#include "SettingsFile.h"

namespace pmset {

enum class Scope { Settings, Everything };

struct Applied {
  bool changed = false;                // some byte of the image changed
  std::vector<std::string> notLoaded;  // captions of differing fields left out
};

// The caller has checked RefusalFor; pm holds a completed read.
Applied Apply(const Snapshot& file, TProgPMClass& pm, Scope scope);

}  // namespace pmset
