// The window and the team's journal server (a PostgreSQL 15 of the test's
// own): a write's entry goes to the server off the window's thread and the
// status bar says what waits and when the server answered; the address is
// refused with a password in it; the journal window shows the team's
// history from the server, and says why when it cannot.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include "JournalSetting.h"
#include "JournalView.h"
#include "ModalRunner.h"
#include "PgServer.h"
#include "SimWindow.h"

namespace {

constexpr int kZetTp = 102;

bool WaitFor(const std::function<bool()>& done, int ms = 15000) {
  for (int waited = 0; waited < ms && !done(); waited += 20) QTest::qWait(20);
  return done();
}

}  // namespace

class TestJournalServerWindow : public QObject {
  Q_OBJECT

 private slots:
  void writesGoToTheServerAndTheTeamsHistoryIsShown() {
    if (!testsupport::PgServer::Installed()) QSKIP("PostgreSQL 15 is not installed (Debian package postgresql)");
    testsupport::PgServer pg;
    QVERIFY2(pg.Ok(), pg.Root().c_str());
    const std::string db = pg.NewDatabase();
    // The window's remembered server is the test's alone, and forgotten after it.
    struct Forget {
      Forget() { pmjournal::RememberChosenServer(""); }
      ~Forget() { pmjournal::RememberChosenServer(""); }
    } forget;
    testsupport::SimWindow r;
    const std::string dir = QDir::tempPath().toStdString() + "/pm_server_window_" +
                            std::to_string(QCoreApplication::applicationPid());
    QDir(QString::fromStdString(dir)).removeRecursively();
    TForm1& f = *r.form;
    f.JournalPath = dir + "/journal.sqlite";

    // A password in the address is refused, and not remembered.
    f.AskJournalServer = [](const std::string&) { return std::string("postgresql://eng:s3cret@db/pm"); };
    f.JournalServerClick();
    QVERIFY(r.messages.Last().text.find("содержит пароль") != std::string::npos);
    QVERIFY(r.messages.Last().text.find("s3cret") == std::string::npos);
    QVERIFY(f.JournalServer.empty());
    QVERIFY(!f.JournalSyncLabel);

    f.AskJournalServer = [&](const std::string&) { return pg.Uri(db); };
    f.JournalServerClick();
    QVERIFY(f.JournalSyncLabel);
    sim::Instrument& in = r.Add(1, kZetTp, 6);
    Q_UNUSED(in);
    QVERIFY(r.OpenPort());
    f.InPortClick();
    f.ui.UstProc1->setText("55");
    f.UstProc1Exit(f.ui.UstProc1);
    f.OutPortClick();
    // Sent as begun, then as finished.
    QVERIFY(WaitFor([&] { return pg.Value("SELECT count(*) FROM pmservice.entries WHERE outcome = 1", db) == "1"; }));
    QVERIFY2(WaitFor([&] { return f.JournalSyncLabel->text().contains("все записи отправлены"); }),
             qPrintable(f.JournalSyncLabel->text() + " " + f.JournalSyncLabel->toolTip()));
    QVERIFY(f.JournalSyncLabel->text().contains("последняя связь: "));

    // The server stopped: the next write waits for nothing, and is counted.
    pg.Stop();
    f.ui.UstProc1->setText("56");
    f.UstProc1Exit(f.ui.UstProc1);
    QElapsedTimer write;
    write.start();
    f.OutPortClick();
    QVERIFY(write.elapsed() < 3000);
    QVERIFY2(WaitFor([&] { return f.JournalSyncLabel->text().contains("ждут отправки: 1"); }),
             qPrintable(f.JournalSyncLabel->text()));
    QVERIFY(f.JournalSyncLabel->toolTip().contains("соединение отвергнуто"));

    // The team's history: unreachable, then the server's entries.
    std::vector<std::size_t> listed;
    ui::SetDialogRunner([&](QDialog& d) {
      auto* v = qobject_cast<JournalView*>(&d);
      if (!v) return 0;
      v->ui.SpinJAddress->setValue(0);
      v->ui.ChBoxJServer->setChecked(true);
      v->ButJFilterClick();
      listed.push_back(v->ui.ChBoxJServer->isChecked() ? v->Entries().size() : 99);
      return 0;
    });
    f.JournalClick();
    const std::string shown = std::string(testsupport::PgServer::kWriter) + "@127.0.0.1:" +
                              std::to_string(pg.Port()) + "/" + db;
    QCOMPARE(r.messages.Last().text.rfind("Сервер журнала изменений " + shown + ": соединение отвергнуто", 0),
             std::size_t{0});
    QVERIFY(pg.Start());
    f.JournalClick();
    ui::SetDialogRunner({});
    QCOMPARE(listed, (std::vector<std::size_t>{99, 1}));
    f.StartJournalSync();  // a round at once instead of the interval's
    QVERIFY2(WaitFor([&] { return f.JournalSyncLabel->text().contains("все записи отправлены"); }),
             qPrintable(f.JournalSyncLabel->text()));
    QCOMPARE(pg.Value("SELECT count(*) FROM pmservice.entries", db), std::string("2"));
    QDir(QString::fromStdString(dir)).removeRecursively();
  }
};

QTEST_MAIN(TestJournalServerWindow)
#include "test_journal_server_window.moc"
