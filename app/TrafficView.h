#pragma once
// "Обмен по линии": a non-modal window listing every frame the link sends
// and receives, with its time, direction, bytes and the exchange's result.
//
// The link reports to the view's collector only while the window is shown:
// showing attaches it, closing detaches it. A closed view therefore costs
// the link nothing but its null check of the observer, and frames sent
// while it is closed are not collected. What was collected stays (up to the
// collector's capacity) until the operator clears it.

#include <QDialog>
#include <QString>
#include <functional>

#include "Comportclass.h"
#include "MessageService.h"
#include "TrafficLog.h"
#include "ui_TrafficView.h"

class TrafficView : public QDialog {
  Q_OBJECT

 public:
  enum Column { ColTime, ColDirection, ColBytes, ColResult };

  TrafficView(TComPortClass& link, ui::MessageService& messages, QWidget* parent = nullptr);
  ~TrafficView() override;

  Ui::TrafficView ui;

  const pmlink::TrafficLog& Log() const { return m_log; }
  // True while the link reports to this view.
  bool Attached() const { return m_attached; }

  // "Очистить": empties the list and restarts the time count.
  void ClearClick();
  // "Сохранить...": asks for a file name, then SaveTo.
  void SaveClick();
  // Writes the list as text, one line per frame; a failure is reported to
  // the operator and gives false.
  bool SaveTo(const QString& path);
  // Asks for the file to save to ("" when the operator cancels); a file
  // dialog unless a test replaces it.
  std::function<QString()> AskSavePath;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Attach(bool on);
  void Append(const pmlink::TrafficFrame& frame);
  void ShowCount();

  TComPortClass& m_link;
  ui::MessageService& m_messages;
  pmlink::TrafficLog m_log;
  bool m_attached = false;
};
