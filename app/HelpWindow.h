#pragma once
// "Руководство пользователя": the guide, and the pages installed beside it,
// in a window of the program's own, so that help shows on a computer with
// no browser at all. Its contents pane lists the chapters and sections of
// the page shown; the find field looks for a text in it (Enter: the next
// occurrence, Shift+Enter: the one before, both going round the page).
// Links to other local pages open here, with Back and Forward; web and mail
// links, and "Открыть в браузере", go to the desktop's opener of `places`.

#include <QDialog>
#include <QString>
#include <QUrl>

#include "Help.h"
#include "MessageService.h"
#include "ui_HelpWindow.h"

class QTreeWidgetItem;

class HelpWindow : public QDialog {
  Q_OBJECT

 public:
  // The openers are used as `places` holds them at the time of a click.
  HelpWindow(const pmhelp::Places& places, ui::MessageService& messages, QWidget* parent = nullptr);

  Ui::HelpWindow ui;

  // Shows the page in the file at path from its top, with a new history.
  void ShowPage(const QString& path);
  // The file of the page shown; "" before the first.
  QString PageShown() const;

  // A link of the page shown was clicked (as written in the page).
  void LinkClick(const QUrl& link);
  // A chapter or section of the contents pane was clicked.
  void ContentsClick(QTreeWidgetItem* item);
  // Enter (backward: Shift+Enter) in the find field.
  void FindClick(bool backward);
  // "Открыть в браузере": the page shown in the desktop's browser.
  void BrowserClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The contents pane for the page now shown at source (the browser tells
  // it before source() does), when that is another page.
  void FillContents(const QUrl& source);

  const pmhelp::Places& m_places;
  ui::MessageService& m_messages;
  QUrl m_contentsOf;  // the page the contents pane lists
};
