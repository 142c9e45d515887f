#include "obrpar_mb.h"

#include <QPushButton>

TFPSW::TFPSW(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  connect(ui.OK, &QPushButton::clicked, this, &QDialog::accept);
  FormCreate();
}

void TFPSW::FormCreate() { ui.EditPsw->clear(); }
