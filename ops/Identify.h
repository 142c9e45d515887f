#pragma once
// Function 17: who answers at an address.

#include "Comportclass.h"
#include "Identification.h"

namespace pmops {

struct Identified {
  int result = rc::Ok;      // the exchange's result code
  pmdev::Identity identity; // valid when result is Ok
};

Identified Identify(TComPortClass& link, int deviceIndex);

}  // namespace pmops
