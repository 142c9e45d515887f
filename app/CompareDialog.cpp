#include "CompareDialog.h"

#include <QDialog>
#include <QFont>
#include <QHeaderView>
#include <QTableWidget>

#include "ModalRunner.h"
#include "ui_CompareView.h"

void ShowCompare(QWidget* parent, const QString& title, const std::string& caption,
                 const std::vector<pmset::Row>& rows, const QString& mineHeader, const QString& theirsHeader) {
  QDialog dialog(parent);
  Ui::TFormCompare view;
  view.setupUi(&dialog);
  dialog.setWindowTitle(title);
  view.LabFile->setText(QString::fromStdString(caption));
  QTableWidget* table = view.TableCompare;
  table->setHorizontalHeaderLabels({table->horizontalHeaderItem(0)->text(), mineHeader, theirsHeader});
  table->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < table->rowCount(); ++r) {
    const pmset::Row& row = rows[static_cast<std::size_t>(r)];
    const bool differs = row.differs;
    const std::string cells[3] = {(differs ? "* " : "  ") + row.label, row.mine, row.theirs};
    for (int c = 0; c < 3; ++c) {
      auto* item = new QTableWidgetItem(QString::fromStdString(cells[c]));
      if (differs) {
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
        item->setForeground(Qt::red);
      }
      table->setItem(r, c, item);
    }
  }
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  ui::ExecModal(dialog);
}
