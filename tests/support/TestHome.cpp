// Every test program of the plain parts runs with data and config folders
// of its own, so that no test writes the user's own change journal or reads
// the window's remembered choices. Set before main, for the test and for
// every program it starts.

#include <cstdlib>

namespace {

const bool kHomesSet = [] {
  ::setenv("XDG_DATA_HOME", PM_TEST_DATA_HOME, 1);
  ::setenv("XDG_CONFIG_HOME", PM_TEST_CONFIG_HOME, 1);
  return true;
}();

}  // namespace
