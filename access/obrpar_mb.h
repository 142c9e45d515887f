#pragma once
// Password entry window. It is created at start-up with the other windows;
// no command shows it, because the access level that would allow changing
// the password is never granted.

#include <QDialog>

#include "ui_obrpar_mb.h"

class TFPSW : public QDialog {
  Q_OBJECT

 public:
  explicit TFPSW(QWidget* parent = nullptr);

  Ui::TFPSW ui;

  void FormCreate();
};
