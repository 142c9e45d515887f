#pragma once
// Screenshots of the user's guide: the dialogs, questions and messages of
// each task, taken through the handlers the operator's actions run, against
// the simulator line the main window is connected to.

#include <QString>

class TForm1;
namespace sim {
class Line;
}
namespace ui {
class ScriptedMessageService;
}

// Writes OUTDIR/guide-*.png; returns the number of shots that failed.
// The reference tables are read from the source tree's data folder.
int GuideShots(TForm1& form, sim::Line& line, ui::ScriptedMessageService& messages, const QString& outDir);
