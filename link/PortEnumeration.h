#pragma once
// The serial ports present on this machine, for the port list: real UARTs
// and USB adapters from sysfs, their stable /dev/serial/by-id names, and the
// lines the instrument simulator publishes.

#include <functional>
#include <string>
#include <vector>

namespace pmlink {

struct PortInfo {
  std::string name;         // what the operator picks: a device or link path
  std::string description;  // tooltip: driver, link target, USB VID:PID
};

// Where the simulator publishes its lines: "$XDG_RUNTIME_DIR/pmsim" when
// XDG_RUNTIME_DIR is set, else "/tmp/pmsim-<uid>".
std::string SimulatorLineFolder();

struct EnumerationRoots {
  std::string sysClassTty = "/sys/class/tty";
  std::string devDir = "/dev";
  std::string serialById = "/dev/serial/by-id";
  std::string simulatorFolder;  // empty: SimulatorLineFolder()
  // Whether a serial8250 port (given its /dev path) is a real UART; empty:
  // ask the driver with TIOCGSERIAL. Tests answer without a device.
  std::function<bool(const std::string&)> uartPresent;
};

std::vector<PortInfo> EnumeratePorts();
std::vector<PortInfo> EnumeratePorts(const EnumerationRoots& roots);

// "ttyUSB9" < "ttyUSB10": digit runs compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace pmlink
