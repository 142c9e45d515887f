#pragma once
// Exchange settings dialog: the pause before each transmission, which the
// operator sets with the arrows, and the retry counts and receive delay,
// carried in hidden controls. Closing it by the close box forgets an edit.

#include <QDialog>

#include "ui_obrNastr.h"

class QLineEdit;
class TComPortClass;
namespace ui {
class MessageService;
}

class TFormNastr : public QDialog {
  Q_OBJECT

 public:
  // Runs FormCreate, which takes the initial delays from the link.
  TFormNastr(const TComPortClass& link, ui::MessageService& messages, QWidget* parent = nullptr);

  Ui::TFormNastr ui;
  // The number fields of the two delays (the text parts of UpDown1 and
  // UpDown2); read-only, changed only by the arrows.
  QLineEdit* Edit1 = nullptr;
  QLineEdit* Edit2 = nullptr;

  void FormCreate();
  // Keeps the current positions and ends the dialog with Accepted.
  void OKClick();
  // Called when the dialog has ended: a cancelled dialog gets the last
  // confirmed values back.
  void FormClose(int result);

  // Shows the dialog modally (ui::ExecModal) and runs FormClose with the
  // result; returns the result (Accepted for OK, Rejected for the close box).
  int Execute();

  // Stores the values of the controls in the link; the caller does this only
  // after OK.
  void ApplyTo(TComPortClass& link) const;

 private:
  void PutKept();

  const TComPortClass& m_link;
  ui::MessageService& m_messages;
  int m_keptPovt1 = 1;
  int m_keptPovt2 = 1;
  int m_keptUpDown1 = 0;
  int m_keptUpDown2 = 0;
};
