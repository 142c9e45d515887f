#pragma once
// The read of one instrument into the device record:
//   17  identity (a new model or version asks the window to arrange anew),
//   68  the parameter block into the image,
//   71  the measurement block,
//   then, once the model is known to be served, two optional requests:
//   5   ЛУНТ: output control off, while the window is not arranged yet,
//   4   ЗЕТ at version 6: the sensor resistance / e.m.f. float.
// A failure of 17, 68 or 71 ends the read with the record not read
// (DataRead 0); the image is replaced only once a good block has arrived,
// so a failed read leaves an edited image and Changed as they were. The
// optional requests report their result without ending the read: block and
// measurement are in, so the instrument counts as read.

#include <optional>
#include <string>

#include "Comportclass.h"
#include "Identification.h"
#include "ProgPM.h"
#include "Servclass.h"

namespace pmops {

enum class ReadStop {
  Identify,      // function 17 failed (result)
  Block,         // function 68 failed (result)
  BlockTooLong,  // the function 68 count is above 40 (blockCount)
  Measure,       // function 71 failed (result)
  Undetermined,  // model code 255
  Foreign,       // a model code that is not served
  Complete,
};

struct ReadOutcome {
  ReadStop stop = ReadStop::Identify;
  int result = rc::Ok;
  pmdev::Identity identity;
  bool identityChanged = false;  // model or version differ from the record's
  int blockCount = 0;
  bool outputControlSent = false;
  int outputControlResult = rc::Ok;
  bool sensorSent = false;
  int sensorResult = rc::Ok;
  std::optional<float> sensorValue;

  bool Complete() const { return stop == ReadStop::Complete; }
};

// The operator's text for a block count above 40 (device number 1..32).
std::string BlockTooLongText(int deviceNumber, int count);

// Functions 17, 68 and 71 of the read to the instrument at deviceIndex,
// with the model check; the optional requests are not sent. A block whose
// Nu is below 32 moves deviceIndex to Nu before function 71. Stops at
// Complete without touching DataRead, Changed and TipDChanged.
ReadOutcome ReadIdentityBlockMeasurement(TComPortClass& link, TProgPMClass& pm, int& deviceIndex);

// Reads the instrument serv.DeviceIndex into pm. A block whose Nu is below
// 32 makes Nu the device index and the new-number index. On completion
// DataRead = 1, Changed = TipDChanged = 0.
ReadOutcome Read(TComPortClass& link, TProgPMClass& pm, TServClass& serv);

}  // namespace pmops
