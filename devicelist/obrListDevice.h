#pragma once
// The device list window: scans the addresses 1 .. N of the line with the
// identification request and lists every instrument that answers, with its
// address and model name. Created once; the list stays until the next scan.

#include <QDialog>
#include <QString>
#include <memory>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QTableWidget;
class TComPortClass;

namespace Ui {
class TFormDevice;
}
namespace ui {
class MessageService;
}

class TFormDevice : public QDialog {
  Q_OBJECT

 public:
  TFormDevice(TComPortClass& link, ui::MessageService& msg, QWidget* parent = nullptr);
  ~TFormDevice() override;

  // Text of a grid cell, row 0 being the header row and rows 1 .. 32 the list.
  QString Cell(int col, int row) const;

  // Model name listed for a model code of the identification reply; empty
  // for a code that is not one of the four models.
  static QString ModelName(int modelCode);

  // Handlers.
  void FormCreate();
  void Button1Click();

  // Controls (owned by the dialog).
  QLabel* LabelNu = nullptr;
  QComboBox* CBoxUstr = nullptr;
  QPushButton* Button1 = nullptr;
  QTableWidget* StringGrid1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetCell(int col, int row, const QString& text);
  void StepProgress();

  std::unique_ptr<Ui::TFormDevice> m_ui;
  TComPortClass& m_link;
  ui::MessageService& m_msg;
};
