#pragma once
// The write of the image's parameter block:
//   17  the instrument must still be the model and version that were read,
//   pause 50 ms, 69 the block (exactly L bytes),
//   the instrument now answers at the new number (serv.NewDeviceIndex),
//   pause 1000 ms while it stores the block, 14 to confirm.
// Only a block that a completed read filled is ever sent. Reading the
// instrument back afterwards is the caller's step.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Comportclass.h"
#include "ProgPM.h"
#include "Servclass.h"

namespace pmops {

enum class WriteStop {
  NoData,        // no completed read filled the block; nothing sent
  Identify,      // function 17 failed (result)
  OtherModel,    // the instrument is another model now
  OtherVersion,  // ... or another firmware version
  Block,         // function 69 failed (result)
  Confirm,       // function 14 failed (result)
  Written,
};

struct WriteOutcome {
  WriteStop stop = WriteStop::NoData;
  int result = rc::Ok;
  // The block sent with function 69 (also when its reply failed); empty
  // when the write stopped before it.
  std::vector<std::uint8_t> sent;
  bool Written() const { return stop == WriteStop::Written; }
};

// Points the caller may show progress at.
enum class WriteStep {
  BlockReady,  // identity checked, the block taken from the image
  BlockSent,   // the block went out; serv.DeviceIndex is the new number
};

// The operator's texts: no block to write, and a write refused because the
// instrument is now another model or version.
inline constexpr const char* kNoDataText = "Нет данных о приборе,\nпроизведите ввод информации с СОМ порта";
std::string RefusalText(WriteStop stop);

// True when a completed read filled the image's block.
bool HasBlock(const TProgPMClass& pm);

// On success Changed = TipDChanged = 0.
WriteOutcome Write(TComPortClass& link, TProgPMClass& pm, TServClass& serv,
                   const std::function<void(WriteStep)>& step = {});

}  // namespace pmops
