// Calibration of the measuring and cold-junction channels, output-current
// correction and the output-control mode.

#include "Obr_pm.h"

void TForm1::Button1Click() {}
void TForm1::Button2Click() {}
void TForm1::KalibrBegSkClick() {}
void TForm1::KalibrEndSkClick() {}
void TForm1::CBoxCurrentClick() {}
void TForm1::CBoxCurrentEndClick() {}
void TForm1::ButSwitchClick() {}
