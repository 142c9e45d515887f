#pragma once
// Port settings dialog: port name, speed, parity and stop bits. Showing it
// closes the port; the main window's port command applies a confirmed
// choice and opens the port with it. Closing it by the close box reopens a
// port that was open before.

#include <QDialog>
#include <vector>

#include "ui_obrport.h"

class TComPortClass;
class TFormNastr;
namespace ui {
class MessageService;
}

class TFormPort : public QDialog {
  Q_OBJECT

 public:
  // Results of the dialog besides Accepted (OK) and Rejected (close box).
  static constexpr int Refused = 6;  // even parity with two stop bits

  // Runs FormCreate.
  TFormPort(TComPortClass& link, TFormNastr& nastr, ui::MessageService& messages,
            QWidget* parent = nullptr);

  Ui::TFormPort ui;

  void FormCreate();
  // Empties and refills the port list, puts back the kept choice, remembers
  // whether the port was open and closes it.
  void FormShow();
  // Refuses even parity with two stop bits; otherwise keeps the choice and
  // ends with Accepted.
  void OKClick();
  // After the dialog ended: a cancelled dialog reopens a port that was open.
  void FormClose(int result);
  // Exchange settings; applied to the link only when confirmed.
  void Button1Click();

  // FormShow, the modal run (ui::ExecModal), FormClose; returns the result.
  int Execute();

  // The link texts the current choice stands for.
  QString ChosenPort() const;
  QString ChosenBaud() const;
  QString ChosenParity() const;    // "N", "O", "E"
  QString ChosenStopBits() const;  // "1", "2"

  bool WasOpen() const { return m_wasOpen; }

 private:
  void FillPortList();
  // The note under the settings shows while a tcp:// name is chosen: the
  // speed, parity and stop bits do not reach a raw gateway's port.
  void ShowNetworkNote();

  TComPortClass& m_link;
  TFormNastr& m_nastr;
  ui::MessageService& m_messages;
  int m_keptSpeed = 0;
  int m_keptParity = 0;
  int m_keptStopBits = 1;
  bool m_wasOpen = false;
  int m_baseHeight = 0;  // the height the dialog has without the network note
  std::vector<QString> m_recentNetwork;  // confirmed network names of this run, latest first
};
