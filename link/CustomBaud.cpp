// Arbitrary baud rates (14400, 56000) through the Linux termios2 interface.
// Kept in its own file: <asm/termbits.h> clashes with glibc's <termios.h>.
#include "CustomBaud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pmlink {

bool SetCustomBaud(int fd, int baud) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = static_cast<speed_t>(baud);
  t.c_ospeed = static_cast<speed_t>(baud);
  return ::ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace pmlink
