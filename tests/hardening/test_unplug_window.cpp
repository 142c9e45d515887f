// The main window when the line vanishes after a good read: the read (F9)
// or write (F10) shows the port-disconnected message and the error box, the
// window closes, and the close sequence still finds the edited parameter
// image and the change flag, so it offers to write them. The device list's
// scan losing its port inside the dialog's own event loop, and the close
// sequence finishing after a failed write and never under another box.

#include <QComboBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <array>
#include <string>

#include "FrameObserver.h"
#include "QtMessageService.h"
#include "SimWindow.h"
#include "obrListDevice.h"

namespace {

constexpr const char* kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";
constexpr const char* kSavePrompt = "Данные были изменены. Передать?";

// Pulls the line at the n-th request sent (the request itself is lost).
struct UnplugAtRequest : pmlink::FrameObserver {
  sim::PtyServer* server = nullptr;
  int at = 0;
  int sent = 0;
  void OnBytes(std::chrono::steady_clock::time_point, pmlink::Direction d,
               std::span<const std::uint8_t>) override {
    if (d == pmlink::Direction::Tx && ++sent == at) server->Unplug();
  }
  void OnResult(std::chrono::steady_clock::time_point, int, int, int) override {}
};

}  // namespace

class TestUnplugWindow : public QObject {
  Q_OBJECT

 private slots:
  void commandAfterUnplug_data() {
    QTest::addColumn<bool>("write");
    QTest::addRow("F9 read") << false;
    QTest::addRow("F10 write") << true;
  }

  void commandAfterUnplug() {
    QFETCH(bool, write);
    testsupport::SimWindow w;
    TForm1& f = *w.form;
    w.Add(1, 100, 5);
    QVERIFY(w.OpenPort());
    f.ui.AInPort->trigger();
    QCOMPARE(f.Pm.DataRead, 1);
    // An edit: another alarm type.
    f.ui.CBoxTipSign->setCurrentIndex(2);
    emit f.ui.CBoxTipSign->activated(2);
    QCOMPARE(f.Pm.Changed, 1);
    const auto edited = f.Pm.Image;

    // What the close sequence finds when it asks.
    int changedAtPrompt = -1;
    bool imageAtPrompt = false;
    w.messages.onShow = [&](const ui::Message& m) {
      if (m.text != kSavePrompt) return;
      changedAtPrompt = f.Pm.Changed;
      imageAtPrompt = f.Pm.Image == edited;
    };
    w.messages.answers = {ui::Answer::Ok, ui::Answer::Ok, ui::Answer::No};

    w.server->Unplug();
    QElapsedTimer timer;
    timer.start();
    if (write)
      f.ui.AOutPort->trigger();
    else
      f.ui.AInPort->trigger();
    // The window's close was queued by the link; let it run.
    QTRY_VERIFY_WITH_TIMEOUT(!f.isVisible() || w.messages.shown.size() >= 4, 5000);
    QCoreApplication::processEvents();
    QVERIFY2(timer.elapsed() < 5000, "the command waited out time-outs on a vanished line");

    QVERIFY(w.messages.shown.size() >= 3);
    // The purge found the line gone: the program's message, then the error
    // box with the port layer's text for the write that could not be made.
    QCOMPARE(w.messages.shown[0].text, std::string(kDisconnected));
    QCOMPARE(w.messages.shown[0].caption, std::string("Ошибка"));
    QVERIFY(w.messages.shown[1].icon == ui::Icon::Error);
    QVERIFY2(w.messages.shown[1].text.find(w.server->SlavePath()) != std::string::npos,
             w.messages.shown[1].text.c_str());
    // The close sequence offers to write the edited data.
    QCOMPARE(w.messages.shown[2].text, std::string(kSavePrompt));
    QCOMPARE(changedAtPrompt, 1);
    if (write) QVERIFY2(imageAtPrompt, "the write changed the image it could not send");
    QCOMPARE(w.messages.Last().text, std::string("Работа закончена"));
    QVERIFY(!f.Link.IsOpen());
  }

  void scanSurvivesPortLostInsideTheDialog() {
    testsupport::SimWindow w;
    TForm1& f = *w.form;
    w.Add(1, 100, 5);
    w.Add(2, 101, 6);
    QVERIFY(w.OpenPort(5));
    dynamic_cast<pmlink::TermiosPort&>(w.port.Active()).totalBaseMs = 100;  // a silent address costs little
    UnplugAtRequest unplug;
    unplug.server = w.server.get();
    unplug.at = 3;  // the first request to address 3
    f.Link.SetFrameObserver(&unplug);
    sim::Line spare;
    spare.Add({.address = 3, .model = 103});
    sim::PtyServer spareServer(spare);

    TFormDevice& d = f.FormDevice();
    bool ran = false;
    QTimer::singleShot(0, &d, [&] {
      d.CBoxUstr->setCurrentIndex(3);  // addresses 1 .. 4
      QTest::mouseClick(d.Button1, Qt::LeftButton);
      // The port layer's error in the application's error box; the rows
      // found stay, the bar is hidden, the attempt count is back.
      QCOMPARE(w.messages.shown.size(), std::size_t{1});
      QVERIFY(w.messages.Last().icon == ui::Icon::Error);
      QVERIFY(d.isVisible());
      QVERIFY(d.ProgressBar1->isHidden());
      QCOMPARE(d.Cell(1, 2), QStringLiteral("ЗЕТ-ТС"));
      QCOMPARE(f.Link.GetRetries1(), 5);
      // Another port, and the same dialog scans again.
      f.Link.SetFrameObserver(nullptr);
      f.Link.Port = spareServer.SlavePath();
      QCOMPARE(f.Link.Configure(), 0);
      QTest::mouseClick(d.Button1, Qt::LeftButton);
      QCOMPARE(d.Cell(0, 1), QStringLiteral("3"));
      QCOMPARE(d.Cell(1, 1), QStringLiteral("ЛУНТ"));
      QCOMPARE(w.messages.shown.size(), std::size_t{1});
      ran = true;
      d.reject();
    });
    f.ui.AListDevice->trigger();  // the dialog's own exec()
    QVERIFY(ran);
    QCOMPARE(f.Link.GetRetries1(), 5);
    f.close();
    QCOMPARE(w.messages.Last().text, std::string("Работа закончена"));
    spareServer.Stop();
  }

  void closeFinishesWhenItsWriteThrows() {
    testsupport::SimWindow w;
    TForm1& f = *w.form;
    w.Add(1, 100, 5);
    QVERIFY(w.OpenPort());
    f.ui.AInPort->trigger();
    f.ui.CBoxTipSign->setCurrentIndex(2);
    emit f.ui.CBoxTipSign->activated(2);
    w.server->Unplug();
    w.messages.answers = {ui::Answer::Yes};
    f.close();
    QCoreApplication::processEvents();
    const auto& shown = w.messages.shown;
    QCOMPARE(shown.size(), std::size_t{4});
    QCOMPARE(shown[0].text, std::string(kSavePrompt));
    QVERIFY(shown[0].defaultAnswer == ui::Answer::No);
    QCOMPARE(shown[1].text, std::string(kDisconnected));
    QVERIFY(shown[2].icon == ui::Icon::Error);  // the write's failure
    QCOMPARE(shown[3].text, std::string("Работа закончена"));
    QCOMPARE(shown[3].caption, std::string("Подтверждение"));
    QVERIFY(!f.Link.IsOpen());
  }

  // With real boxes: the close the link asks for when the port is lost
  // runs after the command's boxes are answered, never over one of them.
  void portLostCloseWaitsForTheOpenBox() {
    sim::Line line;
    line.Add({.address = 1, .model = 100, .version = 5});
    sim::PtyServer server(line);
    ui::QtMessageService messages;
    pmlink::TermiosPort port;
    TForm1 f(messages, port);
    f.Link.Port = server.SlavePath();
    f.Link.TxDelay = 1;
    QCOMPARE(f.Link.Configure(), 0);
    f.show();
    f.ui.AInPort->trigger();
    QCOMPARE(f.Pm.DataRead, 1);

    struct Seen {
      QString text;
      int boxesOpen;
      bool windowOpen;
    };
    std::vector<Seen> seen;
    QTimer answerer;
    answerer.setInterval(10);
    connect(&answerer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      int open = 0;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(w) && w->isVisible()) ++open;
      seen.push_back({box->text(), open, f.isVisible()});
      box->defaultButton()->click();
    });
    answerer.start();
    server.Unplug();
    f.ui.AInPort->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!f.isVisible(), 5000);
    answerer.stop();

    QCOMPARE(seen.size(), std::size_t{3});
    QCOMPARE(seen[0].text, QString::fromUtf8(kDisconnected));
    QCOMPARE(seen[2].text, QStringLiteral("Работа закончена"));
    for (const Seen& s : seen) {
      QCOMPARE(s.boxesOpen, 1);
      QVERIFY(s.windowOpen);
    }
    QVERIFY(!f.Link.IsOpen());
  }
};

QTEST_MAIN(TestUnplugWindow)
#include "test_unplug_window.moc"
