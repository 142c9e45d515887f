// The write of the parameter block to the selected instrument (F10, the save
// prompts, calibration and output-current correction).

#include "Obr_pm.h"

void TForm1::OutPortClick() {
  // The write sequence goes here.
}
