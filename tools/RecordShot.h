#pragma once
// The first page of «Протокол калибровки» for the user's guide: a check as
// found of the simulated ЗЕТ-ТП, run through the accuracy-check window with
// the simulator's bench as the calibrator, printed by the program's own PDF
// writer and turned into a picture by pdftoppm.

#include <QString>

class TForm1;
namespace sim {
class Line;
}

// Writes OUTDIR/guide-record.png; returns the number of failures. The check
// goes into the journal the form writes at that moment.
int RecordShot(TForm1& form, sim::Line& line, const QString& outDir);
