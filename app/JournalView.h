#pragma once
// "Журнал изменений…": the journal's entries, newest first, filtered by
// port, device number, model, operation and time; an entry's fields before
// and after in the compare table of the "Файл" menu; its "before" put back
// into the window as edits or saved as a settings file; the entries shown
// exported to CSV; the "Протокол изменений" of one instrument as a PDF.
//
// The handlers are public so that tests run what the buttons run.

#include <QDialog>
#include <vector>

#include "Journal.h"
#include "TeamServer.h"
#include "ui_JournalView.h"

class TForm1;

class JournalView : public QDialog {
  Q_OBJECT

 public:
  JournalView(TForm1& form, pmjournal::Journal& journal);

  Ui::TFormJournal ui;

  void ButJFilterClick();    // the newest entries again, as the filter says
  void ButJOlderClick();     // the page of entries before those shown
  void ButJNewerClick();     // the page after them
  void ButJOpenClick();      // the selected entry, before and after
  void ButJRevertClick();    // its "before" into the window
  void ButJSaveClick();      // its "before" as a settings file
  void ButJExportClick();    // every entry the filter chooses, as CSV
  void ButJProtocolClick();  // the printed record of one instrument

  // The entries in the table, newest first: one page of at most kPage.
  static constexpr std::size_t kPage = 1000;
  const std::vector<pmjournal::Entry>& Entries() const { return m_entries; }
  pmjournal::Filter FilterOf() const;
  // Where the entries shown come from: the local journal or the server.
  const pmjournal::History& Source() const;

 private:
  // The selected entry; a warning and nothing when none is.
  const pmjournal::Entry* Selected();
  // Shows the page that starts `offset` entries after the newest.
  void ShowPage(std::size_t offset);
  // Connects to the team server when "Журнал группы на сервере" is checked;
  // false (the box cleared, the operator told why) when it cannot.
  bool UseServer();

  TForm1& m_form;
  pmjournal::Journal& m_journal;
  std::unique_ptr<pmjournal::TeamServer> m_server;  // while the server's history is shown
  std::vector<pmjournal::Entry> m_entries;
  pmjournal::Filter m_shown;  // the filter of the page shown
  std::size_t m_total = 0;    // entries it chooses
};
