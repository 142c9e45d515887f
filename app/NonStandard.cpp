// The main window's side of non-standard range programming.

#include "Obr_pm.h"

void TForm1::ChBoxNonStandClick() {}
void TForm1::ButNonStandClick() {}
