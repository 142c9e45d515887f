// Port enumeration over a fake /sys, /dev and simulator folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PortEnumeration.h"

namespace fs = std::filesystem;

namespace {

class Enumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("pm_enum_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    for (const char* d : {"sys/class/tty", "sys/devices/pnp0/drivers/serial8250",
                          "sys/devices/usb1/1-1/drivers/ftdi_sio", "sys/devices/virtual/tty",
                          "dev/serial/by-id", "sim"})
      fs::create_directories(root / d);
    std::ofstream(root / "sys/devices/usb1/1-1/idVendor") << "0403\n";
    std::ofstream(root / "sys/devices/usb1/1-1/idProduct") << "6001\n";
    std::ofstream(root / "sys/devices/usb1/1-1/product") << "FT232R USB UART\n";
  }
  void TearDown() override { fs::remove_all(root); }

  // A tty with a device behind it, bound to the given driver; an 8250 port
  // reports its chip type in sysfs (0: none found).
  void Tty(const std::string& name, const std::string& bus, const std::string& driver,
           const char* uartType = nullptr) {
    const fs::path dev = root / "sys/devices" / bus / (name + "_dev");
    fs::create_directories(dev);
    fs::create_directory_symlink(root / "sys/devices" / bus / "drivers" / driver, dev / "driver");
    fs::create_directories(root / "sys/class/tty" / name);
    fs::create_directory_symlink(dev, root / "sys/class/tty" / name / "device");
    std::ofstream(root / "dev" / name);
    if (uartType) std::ofstream(root / "sys/class/tty" / name / "type") << uartType << "\n";
  }

  std::vector<pmlink::PortInfo> Enumerate(const char* simulatorFolder = "sim") {
    pmlink::EnumerationRoots r;
    r.sysClassTty = (root / "sys/class/tty").string();
    r.devDir = (root / "dev").string();
    r.serialById = (root / "dev/serial/by-id").string();
    r.simulatorFolder = (root / simulatorFolder).string();
    return pmlink::EnumeratePorts(r);
  }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& p : Enumerate()) names.push_back(p.name);
    return names;
  }

  fs::path root;
};

TEST_F(Enumeration, RealPortsByIdAndSimulatorLines) {
  Tty("ttyS0", "pnp0", "serial8250", "4");
  Tty("ttyS1", "pnp0", "serial8250", "0");  // registered, but no chip behind it
  Tty("ttyS2", "pnp0", "serial8250");       // no type reported
  Tty("ttyUSB10", "usb1/1-1", "ftdi_sio");
  Tty("ttyUSB9", "usb1/1-1", "ftdi_sio");
  // A virtual terminal: no device link.
  fs::create_directories(root / "sys/devices/virtual/tty/tty0");
  fs::create_directory_symlink(root / "sys/devices/virtual/tty/tty0", root / "sys/class/tty/tty0");
  fs::create_symlink(root / "dev/ttyUSB9", root / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
  fs::create_symlink(root / "dev/ttyUSB3", root / "dev/serial/by-id/usb-gone-if00-port0");
  std::ofstream(root / "pts5");
  std::ofstream(root / "pts6");
  fs::create_symlink(root / "pts5", root / "sim/line1");
  fs::create_symlink(root / "pts6", root / "sim/line10");
  fs::create_symlink(root / "pts7", root / "sim/line2");  // the simulator has quit
  std::ofstream(root / "sim/notes.txt");                  // not a link

  const std::string r = root.string();
  EXPECT_EQ(Names(),
            (std::vector<std::string>{r + "/dev/ttyS0", r + "/dev/ttyUSB9", r + "/dev/ttyUSB10",
                                      r + "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0",
                                      r + "/sim/line1", r + "/sim/line10"}));

  const auto ports = Enumerate();
  EXPECT_NE(ports[1].description.find("ftdi_sio"), std::string::npos) << ports[1].description;
  EXPECT_NE(ports[1].description.find("0403:6001"), std::string::npos) << ports[1].description;
  EXPECT_NE(ports[3].description.find(r + "/dev/ttyUSB9"), std::string::npos)
      << ports[3].description;
  EXPECT_NE(ports[4].description.find(r + "/pts5"), std::string::npos) << ports[4].description;
}

TEST_F(Enumeration, EmptyOrMissingFoldersGiveNothing) {
  EXPECT_TRUE(Names().empty());
  fs::remove_all(root);
  EXPECT_TRUE(Names().empty());
}

// Links are listed only from a folder of ours that nobody else can write to.
TEST_F(Enumeration, SimulatorLinesOnlyFromAPrivateFolder) {
  std::ofstream(root / "pts5");
  fs::create_symlink(root / "pts5", root / "sim/line1");
  fs::create_directory_symlink(root / "sim", root / "simlink");
  struct Case {
    const char* folder;
    fs::perms perms;
    bool listed;
  };
  for (const Case& c : {Case{"sim", fs::perms::owner_all, true},
                        Case{"sim", fs::perms(0755), true},
                        Case{"sim", fs::perms(0775), false},
                        Case{"sim", fs::perms(0777), false},
                        Case{"simlink", fs::perms::owner_all, false}}) {
    fs::permissions(root / "sim", c.perms);
    EXPECT_EQ(Enumerate(c.folder).size(), c.listed ? 1u : 0u)
        << c.folder << " " << static_cast<int>(c.perms);
  }
  if (::getuid() == 0) {
    fs::permissions(root / "sim", fs::perms::owner_all);
    ASSERT_EQ(::lchown((root / "sim").c_str(), 65534, 65534), 0);
    EXPECT_TRUE(Enumerate().empty()) << "another user's folder";
  }
}

TEST(SimulatorLineFolder, RuntimeDirOrTmp) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
  EXPECT_EQ(pmlink::SimulatorLineFolder(), "/run/user/1000/pmsim");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(pmlink::SimulatorLineFolder(), "/tmp/pmsim-" + std::to_string(::getuid()));
  if (saved) ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

struct OrderCase {
  const char* a;
  const char* b;
};

class NaturalOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(NaturalOrder, FirstBeforeSecond) {
  EXPECT_TRUE(pmlink::NaturalLess(GetParam().a, GetParam().b));
  EXPECT_FALSE(pmlink::NaturalLess(GetParam().b, GetParam().a));
}

INSTANTIATE_TEST_SUITE_P(Link, NaturalOrder,
                         ::testing::Values(OrderCase{"ttyUSB9", "ttyUSB10"},
                                           OrderCase{"ttyS2", "ttyS10"},
                                           OrderCase{"ttyACM0", "ttyS0"},
                                           OrderCase{"ttyS", "ttyS0"}, OrderCase{"line1", "line02"},
                                           OrderCase{"a1b2", "a1b10"},
                                           OrderCase{"ttyS01", "ttyS1"}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
