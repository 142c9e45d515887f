// Alarm, sensor and range editors of the main window, and the change
// tracking of the edited parameter image.

#include "Obr_pm.h"

void TForm1::CBoxTipSignClick() {}
void TForm1::CBoxTipKClick() {}
void TForm1::CBoxBreakClick() {}
void TForm1::CBoxConnectClick() {}
void TForm1::CBoxTipDClick() {}
void TForm1::CBoxMinClick() {}
void TForm1::CBoxMaxClick() {}
void TForm1::CBoxUstrZClick() {}
void TForm1::UstKod1Change() {}
void TForm1::CBoxTipDChange() {}
void TForm1::UstProc1Exit(QLineEdit* /*sender*/) {}
bool TForm1::UstProc1KeyDown(QLineEdit* /*sender*/, int /*key*/, bool /*shift*/) { return false; }
bool TForm1::KTxcKeyDown(int /*key*/, bool /*shift*/) { return false; }
