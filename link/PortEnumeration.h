#pragma once
// The serial ports present on this machine, for the port list: real UARTs
// and USB adapters from sysfs, their stable /dev/serial/by-id names, and the
// lines the instrument simulator publishes.

#include <string>
#include <vector>

#include "LineFolder.h"

namespace pmlink {

struct PortInfo {
  std::string name;         // what the operator picks: a device or link path
  std::string description;  // tooltip: driver, link target, USB VID:PID
};

struct EnumerationRoots {
  std::string sysClassTty = "/sys/class/tty";
  std::string devDir = "/dev";
  std::string serialById = "/dev/serial/by-id";
  std::string simulatorFolder;  // empty: SimulatorLineFolder()
};

std::vector<PortInfo> EnumeratePorts();
std::vector<PortInfo> EnumeratePorts(const EnumerationRoots& roots);

// "ttyUSB9" < "ttyUSB10": digit runs compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace pmlink
