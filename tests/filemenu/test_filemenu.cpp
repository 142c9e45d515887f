// The Файл menu of the main window: a saved file loaded back as edits (shown,
// Changed, nothing sent until F10), restoring everything behind a question
// that defaults to No, refusals that leave image and Changed alone, and the
// comparison table.

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QTableWidget>
#include <QTest>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "Fields.h"
#include "SettingsFile.h"
#include "FileDialogs.h"
#include "ModalRunner.h"
#include "SimWindow.h"

namespace {

constexpr int kZetTp = 102;
constexpr int kUst1 = 5, kKBegSk = 0, kTipSign = 4;

QStringList Items(const QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}
QStringList ToList(const std::vector<std::string>& v) {
  QStringList out;
  for (const auto& s : v) out << QString::fromStdString(s);
  return out;
}

// A file saved from another instrument.
std::string OtherFile(int model, int version) {
  pmset::Snapshot s;
  s.model = model;
  s.version = version;
  s.block = sim::Instrument::DefaultBlock(model, version, 1);
  s.address = 1;
  s.correction = s.block[4] >> 4;
  return pmset::Encode(s);
}

struct Rig : testsupport::SimWindow {
  std::string path = QDir::tempPath().toStdString() + "/pm_filemenu.json";
  Rig() {
    ui::SetFileDialogRunner([this](ui::FileDialogKind, const std::string&) { return path; });
  }
  ~Rig() { ui::SetFileDialogRunner({}); }
  std::string Text() const {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  void Put(const std::string& text) const { std::ofstream(path) << text; }
};

class TestFileMenu : public QObject {
  Q_OBJECT

 private slots:
  void menuAndTexts() {
    Rig r;
    const auto menus = r.form->ui.MainMenu1->actions();
    QCOMPARE(menus.at(0)->text(), QString("Файл"));
    QCOMPARE(menus.at(1), r.form->ui.N1Port->menuAction());
    // The settings file speaks the window's texts.
    QCOMPARE(Items(r.form->ui.CBoxTipSign), ToList(pmset::AlarmTypeItems()));
    QCOMPARE(Items(r.form->ui.CBoxTipK), ToList(pmset::ContactTypeItems()));
    QCOMPARE(Items(r.form->ui.CBoxBreak), ToList(pmset::BreakStateItems()));
    QCOMPARE(Items(r.form->ui.CBoxConnect), ToList(pmset::ConnectionItems()));
    QCOMPARE(Items(r.form->ui.CBoxCurrent), ToList(pmset::CurrentStartItems()));
    QCOMPARE(Items(r.form->ui.CBoxCurrentEnd), ToList(pmset::CurrentEndItems()));
  }

  void loadIsAnEditAndRefusalsChangeNothing() {
    Rig r;
    sim::Instrument& in = r.Add(1, kZetTp, 6);
    QVERIFY(r.OpenPort());
    TForm1& f = *r.form;
    f.InPortClick();
    f.SaveFileClick();
    const std::string saved = r.Text();
    QVERIFY(saved.find("\"model_name\": \"ЗЕТ-ТП\"") != std::string::npos);

    // The instrument's settings and calibration change; loading the file
    // into the window shows the settings as edits and sends nothing.
    sim::Bytes b = in.Block();
    b[kTipSign] ^= 0x02;
    b[kUst1] ^= 0x40;
    b[kKBegSk] ^= 0x33;
    in.SetBlock(b);
    f.InPortClick();
    const QString ust1 = f.ui.UstProc1->text();
    r.line.ClearLog();
    f.ui.ALoadFile->trigger();
    QVERIFY(r.messages.Texts().empty());
    QVERIFY(r.line.Frames(sim::Dir::In).empty());
    QCOMPARE(f.Pm.Changed, 1);
    QVERIFY(f.ui.UstProc1->text() != ust1);
    QCOMPARE(f.ui.CBoxTipSign->currentText(), QString("LH"));
    QCOMPARE(f.ui.StKBegSk->text(), QString::number(static_cast<std::int16_t>(b[0] | b[1] << 8)));
    f.OutPortClick();
    QCOMPARE(in.Block()[kUst1], static_cast<std::uint8_t>(b[kUst1] ^ 0x40));
    QCOMPARE(in.Block()[kKBegSk], b[kKBegSk]);

    // Compare: the calibration code differs, and is marked.
    f.InPortClick();
    int marked = 0;
    ui::SetDialogRunner([&marked](QDialog& d) {
      auto* t = d.findChild<QTableWidget*>("TableCompare");
      for (int row = 0; row < t->rowCount(); ++row)
        if (t->item(row, 0)->text().startsWith("* ")) {
          ++marked;
          if (t->item(row, 0)->text() != "* Код АЦП начала шкалы") marked += 100;
        }
      return 0;
    });
    f.CompareFileClick();
    ui::SetDialogRunner({});
    QCOMPARE(marked, 1);

    // Restore everything: No (the default) changes nothing; Yes brings the
    // calibration code back too.
    const auto image = f.Pm.Image;
    r.messages.answers.push_back(ui::Answer::No);
    f.RestoreFileClick();
    QCOMPARE(r.messages.shown.back().defaultAnswer, ui::Answer::No);
    QCOMPARE(f.Pm.Image, image);
    QCOMPARE(f.Pm.Changed, 0);
    r.messages.answers.push_back(ui::Answer::Yes);
    f.RestoreFileClick();
    QCOMPARE(f.Pm.Changed, 1);
    QCOMPARE(f.Pm.GetKBegSk(), static_cast<std::int16_t>((b[0] ^ 0x33) | b[1] << 8));

    // Refusals: a message each, image and Changed untouched.
    f.InPortClick();
    const auto read = f.Pm.Image;
    auto edited = [&](const std::string& from, const std::string& to) {
      std::string t = saved;
      t.replace(t.find(from), from.size(), to);
      return t;
    };
    const std::pair<std::string, std::string> cases[] = {
        {"[1,2]", "Файл не является файлом настроек прибора"},
        {edited("\"format_version\": 2", "\"format_version\": 3"), "более новой версией программы"},
        {edited("\"block\": \"", "\"block\": \"0"), "шестнадцатеричными цифрами"},
        {OtherFile(101, 6), "Не совпадает тип прибора:\nфайл снят с прибора ЗЕТ-ТС, а прибор — ЗЕТ-ТП."},
        {OtherFile(kZetTp, 5), "Не совпадает версия прибора:\nфайл снят с версии 5, а у прибора версия 6."},
        {edited("\"sensor\": \"", "\"sensor\": \"X"), "Файл изменён вручную."},
    };
    for (const auto& [text, message] : cases) {
      r.Put(text);
      r.messages.Clear();
      f.LoadFileClick();
      QCOMPARE(r.messages.Texts().size(), std::size_t{1});
      QVERIFY2(r.messages.Texts()[0].find(message) != std::string::npos, r.messages.Texts()[0].c_str());
      QVERIFY(r.messages.Texts()[0].ends_with("\nЗагрузка отменена"));
      QCOMPARE(f.Pm.Image, read);
      QCOMPARE(f.Pm.Changed, 0);
    }
  }

  // A non-privileged instrument restored from a privileged one's backup:
  // the alarm settings are taken, the rest is named as not restored, and F10
  // writes the alarm settings and nothing else.
  void nonPrivilegedRestoreTakesTheAlarmsOnly() {
    Rig r;
    sim::Instrument& mine = r.Add(1, kZetTp, 6);
    sim::Instrument& other = r.Add(2, kZetTp, 6);
    sim::Bytes b = mine.Block();
    b[kTipSign] ^= 0x01;
    b[kKBegSk] ^= 0x33;
    mine.SetBlock(b);
    other.SetPrivileged(false);
    const sim::Bytes before = other.Block();
    QVERIFY(r.OpenPort());
    TForm1& f = *r.form;
    f.InPortClick();
    f.SaveFileClick();
    f.ui.CBoxUstr->setCurrentIndex(1);
    emit f.ui.CBoxUstr->activated(1);
    f.InPortClick();
    r.messages.Clear();
    r.messages.answers.push_back(ui::Answer::Yes);
    f.RestoreFileClick();
    QCOMPARE(r.messages.Texts().back(),
             std::string("устройство 2 в непривилегированном режиме,\nне восстановлено:\nКод АЦП начала шкалы"));
    r.messages.Clear();
    f.OutPortClick();
    QVERIFY(r.messages.Texts().empty());
    QCOMPARE(other.Block()[kTipSign] & 0x03, b[kTipSign] & 0x03);
    QCOMPARE(other.Block()[kKBegSk], before[kKBegSk]);
    QVERIFY(!other.Privileged());
  }

  // A save that fails half-way (here: a 1 KiB file-size limit, smaller than
  // the file) leaves the good file as it was, no temporary beside it, and
  // says why.
  void failedSaveKeepsTheOldFile() {
    Rig r;
    r.Add(1, kZetTp, 6);
    QVERIFY(r.OpenPort());
    r.form->InPortClick();
    r.form->SaveFileClick();
    const std::string good = r.Text();
    QVERIFY(good.size() > 1024);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    r.messages.Clear();
    r.form->SaveFileClick();
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &old), 0);
    QCOMPARE(r.Text(), good);
    QCOMPARE(r.messages.Texts().size(), std::size_t{1});
    const std::string text = r.messages.Texts()[0];
    QVERIFY2(text.find(r.path + ": превышен допустимый размер файла\nСохранение отменено") != std::string::npos,
             text.c_str());
    QCOMPARE(QDir(QDir::tempPath()).entryList({".pm_filemenu.json.*"}, QDir::Hidden | QDir::Files).size(), 0);
  }
};

}  // namespace

QTEST_MAIN(TestFileMenu)
#include "test_filemenu.moc"
