#pragma once

namespace pmlink {

// Sets input and output speed to any rate the driver accepts; false when
// the driver refuses it.
bool SetCustomBaud(int fd, int baud);

}  // namespace pmlink
