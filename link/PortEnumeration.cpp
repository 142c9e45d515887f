#include "PortEnumeration.h"


#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace pmlink {

namespace {

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// An 8250 driver registers every ttyS it could have; only those where the
// probe found a chip report a port type other than 0 (PORT_UNKNOWN). Read
// from sysfs: opening the port to ask would pulse DTR and RTS on the line.
bool UartPresent(const fs::path& ttyEntry) {
  const std::string type = ReadLine(ttyEntry / "type");
  return !type.empty() && type.find_first_not_of("0 ") != std::string::npos;
}

// "USB 0403:6001 FTDI FT232R" from the nearest USB device above a tty.
std::string UsbDescription(const fs::path& device) {
  std::error_code ec;
  fs::path p = fs::canonical(device, ec);
  if (ec) return {};
  for (int up = 0; up < 6 && !p.empty() && p != p.root_path(); ++up, p = p.parent_path()) {
    if (fs::exists(p / "idVendor", ec)) {
      std::string text = "USB " + ReadLine(p / "idVendor") + ":" + ReadLine(p / "idProduct");
      const std::string maker = ReadLine(p / "manufacturer");
      const std::string product = ReadLine(p / "product");
      if (!maker.empty()) text += " " + maker;
      if (!product.empty()) text += " " + product;
      return text;
    }
  }
  return {};
}

void AddSysfsPorts(const EnumerationRoots& roots, std::vector<PortInfo>& out) {
  std::error_code ec;
  std::vector<PortInfo> found;
  for (const auto& entry : fs::directory_iterator(roots.sysClassTty, ec)) {
    const fs::path device = entry.path() / "device";
    // Consoles, ptys and other virtual terminals have no device behind them.
    if (!fs::exists(device, ec)) continue;
    const fs::path real = fs::canonical(entry.path(), ec);
    if (!ec && real.string().find("/virtual/") != std::string::npos) continue;

    const std::string name = entry.path().filename().string();
    const std::string devPath = (fs::path(roots.devDir) / name).string();
    const std::string driver = fs::read_symlink(device / "driver", ec).filename().string();
    if (driver == "serial8250" && !UartPresent(entry.path())) continue;
    std::string description = driver.empty() ? name : driver;
    const std::string usb = UsbDescription(device);
    if (!usb.empty()) description += ", " + usb;
    found.push_back({devPath, description});
  }
  std::sort(found.begin(), found.end(),
            [](const PortInfo& a, const PortInfo& b) { return NaturalLess(a.name, b.name); });
  out.insert(out.end(), found.begin(), found.end());
}

// Links in a folder whose target exists, each described by its target.
void AddLinks(const std::string& folder, const std::string& what, std::vector<PortInfo>& out) {
  std::error_code ec;
  std::vector<PortInfo> found;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!fs::is_symlink(entry.symlink_status(ec))) continue;
    const fs::path target = fs::canonical(entry.path(), ec);
    if (ec) continue;  // dangling: the line or the adapter is gone
    found.push_back(
        {entry.path().string(), (what.empty() ? "" : what + " ") + "→ " + target.string()});
  }
  std::sort(found.begin(), found.end(),
            [](const PortInfo& a, const PortInfo& b) { return NaturalLess(a.name, b.name); });
  out.insert(out.end(), found.begin(), found.end());
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && isDigit(a[ie])) ++ie;
      while (je < b.size() && isDigit(b[je])) ++je;
      std::size_t is = i, js = j;
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      const int c = a.compare(is, ie - is, b, js, je - js);
      if (c != 0) return c < 0;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;  // equal up to leading zeros: any fixed order
}

std::vector<PortInfo> EnumeratePorts(const EnumerationRoots& roots) {
  std::vector<PortInfo> ports;
  AddSysfsPorts(roots, ports);
  AddLinks(roots.serialById, "", ports);
  // Only from a folder nobody else can write to: another user must not be
  // able to plant a line in our list.
  const std::string simulator =
      roots.simulatorFolder.empty() ? SimulatorLineFolder() : roots.simulatorFolder;
  if (IsPrivateFolder(simulator)) AddLinks(simulator, "Симулятор приборов", ports);

  // One entry per name, first wins.
  std::set<std::string> seen;
  std::vector<PortInfo> unique;
  for (auto& p : ports)
    if (seen.insert(p.name).second) unique.push_back(std::move(p));
  return unique;
}

std::vector<PortInfo> EnumeratePorts() { return EnumeratePorts(EnumerationRoots{}); }

}  // namespace pmlink
