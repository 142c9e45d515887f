#pragma once
// The compare table of the "Файл" menu: every field of two blocks side by
// side, the ones that differ marked. Shown for a settings file against the
// instrument and for a journal entry's before and after.

#include <QString>
#include <string>
#include <vector>

#include "Fields.h"

class QWidget;

// Runs the dialog modally (ui::ExecModal).
void ShowCompare(QWidget* parent, const QString& title, const std::string& caption,
                 const std::vector<pmset::Row>& rows, const QString& mineHeader, const QString& theirsHeader);
