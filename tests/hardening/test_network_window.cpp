// The main window on a line behind ser2net, raw and RFC 2217: a read (F9),
// a write of an edit (F10) and a calibration as on a local port; then the gateway dies and
// the next read ends as an unplugged adapter does, with the close sequence
// still offering the edited data. A gateway that dies while the line
// overview polls stops the polling with one message, as an unplugged
// adapter does, and the program goes on.

#include <QComboBox>
#include <QTest>
#include <string>

#include "LineOverview.h"
#include "Ser2net.h"
#include "SimWindow.h"

namespace {

constexpr const char* kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

}  // namespace

class TestNetworkWindow : public QObject {
  Q_OBJECT

 private slots:
  void readWriteThenGatewayDies_data() {
    QTest::addColumn<bool>("rfc2217");
    QTest::addRow("tcp") << false;
    QTest::addRow("rfc2217") << true;
  }

  void readWriteThenGatewayDies() {
    QFETCH(bool, rfc2217);
    if (!testsupport::Ser2net::Installed()) QSKIP("ser2net is not installed (Debian package ser2net)");
    testsupport::SimWindow w;
    TForm1& f = *w.form;
    sim::Instrument& in = w.Add(1, 100, 5);
    testsupport::Ser2net gateway(w.server->SlavePath(), rfc2217);
    const std::string name = std::string(rfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" +
                             std::to_string(gateway.Port());
    QVERIFY(w.OpenPort(2, 2, name));

    f.ui.AInPort->trigger();
    QCOMPARE(f.Pm.DataRead, 1);
    const sim::Bytes read = in.Block();
    f.ui.CBoxTipSign->setCurrentIndex(2);
    emit f.ui.CBoxTipSign->activated(2);
    f.ui.AOutPort->trigger();
    QVERIFY(w.messages.shown.empty());
    QCOMPARE(f.Pm.Changed, 0);
    QVERIFY(in.Block() != read);

    // Calibration of the scale start: the code on the input is stored.
    in.SetCalibrationReference(3210, 3210);
    w.messages.answers = {ui::Answer::Yes};
    f.ui.Button1->click();
    QCOMPARE(w.messages.shown.size(), size_t(1));  // the question only
    const sim::Bytes written = in.Block();
    QCOMPARE(written.at(0) | (written.at(1) << 8), 3210);
    w.messages.shown.clear();

    f.ui.CBoxTipSign->setCurrentIndex(1);
    emit f.ui.CBoxTipSign->activated(1);
    gateway.Kill();
    w.messages.answers = {ui::Answer::Ok, ui::Answer::Ok, ui::Answer::No};
    f.ui.AInPort->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!f.isVisible() || w.messages.shown.size() >= 4, 5000);
    QCoreApplication::processEvents();
    QVERIFY(w.messages.shown.size() >= 3);
    QCOMPARE(w.messages.shown[0].text, std::string(kDisconnected));
    QVERIFY2(w.messages.shown[1].text.find(name) != std::string::npos,
             w.messages.shown[1].text.c_str());
    QCOMPARE(w.messages.shown[2].text, std::string("Данные были изменены. Передать?"));
    QVERIFY2(in.Block() == written, "nothing sent that was not confirmed");
    QVERIFY(!f.Link.IsOpen());
  }

  void gatewayDiesWhileTheOverviewPolls() {
    if (!testsupport::Ser2net::Installed()) QSKIP("ser2net is not installed (Debian package ser2net)");
    testsupport::SimWindow w;
    w.Add(1, 100, 5);
    testsupport::Ser2net gateway(w.server->SlavePath(), false);
    QVERIFY(w.OpenPort(2, 2, "tcp://127.0.0.1:" + std::to_string(gateway.Port())));
    LineOverview& o = w.form->Overview();
    w.form->ui.AOverview->trigger();
    o.ui.EditAddr->setText("1");
    o.ButStartClick();
    QTRY_VERIFY_WITH_TIMEOUT(o.Poller()->PollsDone() >= 2, 10000);
    gateway.Kill();
    QTRY_VERIFY_WITH_TIMEOUT(!o.Polling(), 10000);
    QTest::qWait(200);
    QCOMPARE(w.messages.shown.size(), std::size_t{1});
    QVERIFY2(w.messages.Last().text.ends_with("\nОпрос линии остановлен."), w.messages.Last().text.c_str());
    QCOMPARE(o.Poller()->Instruments()[0].failures, 0L);
  }
};

QTEST_MAIN(TestNetworkWindow)
#include "test_network_window.moc"
