// The main window when the line vanishes after a good read: the read (F9)
// or write (F10) shows the port-disconnected message and the error box, the
// window closes, and the close sequence still finds the edited parameter
// image and the change flag, so it offers to write them.

#include <QComboBox>
#include <QtTest>
#include <array>
#include <string>

#include "SimWindow.h"

namespace {

constexpr const char* kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";
constexpr const char* kSavePrompt = "Данные были изменены. Передать?";

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
};

QTEST_MAIN(TestUnplugWindow)
#include "test_unplug_window.moc"
