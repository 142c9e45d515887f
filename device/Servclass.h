#pragma once
// Holder of the selected device number (index 0..31, bus address - 1).
// DeviceIndex is the instrument shown and talked to; NewDeviceIndex is the
// number picked for the instrument in the "new number" selector of a write.

struct TServClass {
  int NewDeviceIndex = 0;
  int DeviceIndex = 0;
};
