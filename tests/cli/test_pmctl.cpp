// pmctl, the program itself, against simulated instruments on a
// pseudo-terminal served from this process: each command once, the settings
// round trip and cloning, refusals that leave the instrument alone, and a
// write whose read-back differs.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "Journal.h"
#include "Line.h"
#include "PtyServer.h"
#include "Ser2net.h"
#include "SettingsFile.h"

namespace {

constexpr int kZetTp = 102;

// Calibration codes and a setting at block offsets (block byte i = image byte i + 1).
constexpr int kKBegSk = 0, kBegSkTxc = 12, kTipSign = 4, kUst1 = 5, kNu = 11;

struct Outcome {
  int code = -1;
  std::string output;  // standard output and error
};

class Pmctl : public testing::Test {
 protected:
  void SetUp() override {
    for (int address : {1, 2}) {
      sim::Instrument& in = line.Add({address, kZetTp, 6, true});
      in.SetWriteTime(std::chrono::milliseconds(5));
    }
    // The second instrument has its own calibration.
    sim::Bytes b = line.Find(2)->Block();
    b[kKBegSk] = 0x11;
    b[kBegSkTxc] = 0x22;
    line.Find(2)->SetBlock(b);
  }

  // Standard output and error together; `args` may redirect standard output
  // alone, `before` is a shell command run first (a limit).
  Outcome Pm(const std::string& args, const std::string& before = "") {
    const bool line = args.rfind("ports", 0) != 0 && args.rfind("journal", 0) != 0;
    const std::string cmd = "{ " + before + (before.empty() ? "" : "; ") + "exec " + PMCTL + " " + args +
                            (line ? " --tx-delay 1" : "") + "; } 2>&1";
    Outcome r;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  std::string At(int address) { return server.SlavePath() + " " + std::to_string(address); }
  static std::string File(const std::string& name) { return testing::TempDir() + name; }
  static std::string ReadText(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  static void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

  sim::Line line;
  sim::PtyServer server{line};
};

TEST_F(Pmctl, SaveChangeLoadCloneDiffAndRestore) {
  EXPECT_EQ(Pm("scan " + server.SlavePath() + " --to 3").output, "1\tЗЕТ-ТП\n2\tЗЕТ-ТП\n");
  const Outcome read = Pm("read " + At(1));
  EXPECT_EQ(read.code, 0);
  EXPECT_NE(read.output.find("Тип сигнализации: LH"), std::string::npos) << read.output;
  EXPECT_EQ(Pm("read " + At(1) + " --json").output.rfind("{", 0), 0u);
  EXPECT_EQ(Pm("ports").code, 0);

  const std::string saved = File("one.json");
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  const sim::Bytes original = line.Find(1)->Block();

  // Settings and calibration change; loading brings the settings back only.
  sim::Bytes changed = original;
  changed[kTipSign] ^= 0x02;
  changed[kUst1] ^= 0x40;
  changed[kKBegSk] ^= 0x33;
  line.Find(1)->SetBlock(changed);
  EXPECT_EQ(Pm("diff " + At(1) + " " + saved).code, 4);
  EXPECT_EQ(Pm("load " + At(1) + " " + saved).code, 0);
  sim::Bytes expected = original;
  expected[kKBegSk] = changed[kKBegSk];
  EXPECT_EQ(line.Find(1)->Block(), expected);

  // Cloning into the second instrument keeps its address and calibration.
  const sim::Bytes target = line.Find(2)->Block();
  EXPECT_EQ(Pm("load " + At(2) + " " + saved).code, 0);
  EXPECT_EQ(line.Find(2)->Block()[kNu], target[kNu]);
  EXPECT_EQ(line.Find(2)->Block()[kKBegSk], target[kKBegSk]);
  EXPECT_EQ(line.Find(2)->Block()[kBegSkTxc], target[kBegSkTxc]);
  EXPECT_EQ(line.Find(2)->Block()[kUst1], original[kUst1]);

  // Everything back only with the option; then the calibration is the file's too.
  EXPECT_EQ(Pm("restore " + At(1) + " " + saved).code, 1);
  EXPECT_EQ(Pm("restore " + At(1) + " " + saved + " --include-calibration").code, 0);
  EXPECT_EQ(line.Find(1)->Block(), original);
  EXPECT_EQ(Pm("diff " + At(1) + " " + saved).code, 0);
}

TEST_F(Pmctl, RefusalsAndFailuresLeaveTheInstrument) {
  const std::string saved = File("two.json");
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  const std::string good = ReadText(saved);
  auto edited = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  line.Find(1)->SetModel(101);  // a ЗЕТ-ТС now answers: the file is another model's
  const std::string other = File("other.json");
  WriteText(other, good);
  const sim::Bytes before = line.Find(2)->Block();
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"{ not json", "не является файлом JSON"},
      {"{\"format\": \"x\"}", "не является файлом настроек"},
      {edited("\"format_version\": 2", "\"format_version\": 9"), "более новой версией"},
      {edited("\"block\": \"", "\"block\": \"ZZ"), "шестнадцатеричными"},
      {edited("\"setpoint1_code\": \"", "\"setpoint1_code\": \"1"), "изменён вручную"},
      {edited("\"version\": 6", "\"version\": 5"), "версия прибора"},
  };
  for (const Case& c : cases) {
    WriteText(saved, c.text);
    const Outcome r = Pm("load " + At(2) + " " + saved);
    EXPECT_EQ(r.code, 3) << c.message;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
  const Outcome model = Pm("load " + At(1) + " " + other);
  EXPECT_EQ(model.code, 3);
  EXPECT_NE(model.output.find("Не совпадает тип прибора"), std::string::npos) << model.output;
  EXPECT_EQ(line.Find(2)->Block(), before);

  // A silent address is a link failure; a write the instrument does not keep
  // is found by the read-back.
  EXPECT_EQ(Pm("read " + At(9)).code, 2);
  WriteText(saved, good);
  sim::Instrument& second = *line.Find(2);
  sim::Bytes drifted = before;
  drifted[kUst1] ^= 0x40;
  second.SetBlock(drifted);
  line.SetLogSink([&second, drifted](const sim::LogEntry& e) {
    if (e.dir == sim::Dir::In && e.bytes.size() > 1 && e.bytes[1] == 69) second.SetBlock(drifted);
  });
  const Outcome verify = Pm("load " + At(2) + " " + saved);
  EXPECT_EQ(verify.code, 4);
  EXPECT_NE(verify.output.find("Уставка 2"), std::string::npos) << verify.output;  // the first setpoint's caption
}

// The same line behind ser2net, raw and RFC 2217: a scan, and settings
// cloned from one instrument to the other (a write and its read-back).
TEST_F(Pmctl, OverTheNetwork) {
  if (!testsupport::Ser2net::Installed()) GTEST_SKIP() << "ser2net is not installed (Debian package ser2net)";
  const std::string saved = File("net.json");
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  for (const bool rfc2217 : {false, true}) {
    testsupport::Ser2net gateway(server.SlavePath(), rfc2217);
    const std::string name = std::string(rfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" +
                             std::to_string(gateway.Port());
    EXPECT_EQ(Pm("scan " + name + " --to 3").output, "1\tЗЕТ-ТП\n2\tЗЕТ-ТП\n") << name;
    const Outcome load = Pm("load " + name + " 2 " + saved);
    EXPECT_EQ(load.code, 0) << name << "\n" << load.output;
  }
  const Outcome refused =
      Pm("read tcp://127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort()) + " 1");
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.output.find("отклонил соединение"), std::string::npos) << refused.output;
}

}  // namespace

namespace {

// A non-privileged instrument takes alarm type, contact type and setpoints
// only, from a load and from a restore of a privileged one's file; the other
// parts that differ are named as not taken, and the read-back after the write
// finds nothing it did not write (the access mode least of all).
TEST_F(Pmctl, NonPrivilegedTakesOnlyTheAlarmSettings) {
  const std::string saved = File("three.json");
  sim::Bytes b = line.Find(1)->Block();
  b[9] ^= 1;  // sensor
  b[kUst1] ^= 0x40;
  line.Find(1)->SetBlock(b);
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  line.Find(2)->SetPrivileged(false);
  const sim::Bytes before = line.Find(2)->Block();
  for (const std::string command : {"load", "restore"}) {
    line.Find(2)->SetBlock(before);
    const bool restore = command == "restore";
    const Outcome r = Pm(command + " " + At(2) + " " + saved + (restore ? " --include-calibration" : ""));
    EXPECT_EQ(r.code, 5) << r.output;  // not everything asked for was taken
    EXPECT_NE(r.output.find(restore ? "pmctl: Не восстановлено (непривилегированный режим): Тип датчика"
                                    : "pmctl: Не загружено (непривилегированный режим): Тип датчика"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("после записи"), std::string::npos) << r.output;
    EXPECT_EQ(line.Find(2)->Block()[9], before[9]);
    EXPECT_EQ(line.Find(2)->Block()[kUst1], b[kUst1]);
  }
}

}  // namespace

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// Hostile and broken files: each refused at once with its reason, exit 3,
// nothing sent (the file is refused before the port is opened). A file of
// the first format is still read.
TEST_F(Pmctl, HostileFilesAreRefusedFastWithNothingSent) {
  const std::string saved = File("good.json");
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  const Json good = Json::parse(ReadText(saved));
  const auto with = [&good](const std::function<void(Json&)>& edit) {
    Json j = good;
    edit(j);
    return j.dump(2);
  };
  const auto raw = [&](const std::string& key, const std::string& literal) {  // a number JSON cannot hold exactly
    std::string t = good.dump(2);
    const std::string from = "\"" + key + "\": ";
    const auto at = t.find(from) + from.size();
    return t.replace(at, t.find_first_of(",\n", at) - at, literal);
  };
  const std::string zero = File("zero.json"), fifo = File("fifo.json"), big = File("big.json");
  std::remove(zero.c_str());
  std::remove(fifo.c_str());
  ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream{big}.close();
  ASSERT_EQ(truncate(big.c_str(), 100L << 20), 0);  // sparse: nothing is written
  struct Case {
    std::string path;  // a file as it is, or
    std::string text;  // the text of one
    std::string message;
  };
  const Case cases[] = {
      {zero, "", "это не обычный файл (устройство)"},
      {fifo, "", "это не обычный файл (канал)"},
      {testing::TempDir(), "", "это не обычный файл (папка)"},
      {big, "", "больше 64 КиБ"},
      {File("missing.json"), "", "нет такого файла или папки"},
      {"", std::string(30000, '[') + std::string(30000, ']'), "слишком глубокая вложенность"},
      {"", "{\"format\": \"pmservice-settings\", \"format_version\": 2, \"x\": \"\xff\"}", "не является файлом JSON"},
      {"", raw("format_version", "1e300"), "«format_version» в файле должно быть целым числом"},
      {"", raw("address", "-7"), "«address» в файле должно быть целым числом от 1 до 32"},
      {"", raw("model", "102.9"), "«model» в файле должно быть целым числом от 100 до 103"},
      {"", raw("version", "18446744073709551616"), "«version» в файле должно быть целым числом"},
      {"", with([](Json& j) { j.erase("decoded"); }), "нет раздела «decoded»"},
      {"", with([](Json& j) { j["decoded"] = Json::array(); }), "нет раздела «decoded»"},
      {"", with([](Json& j) { j["decoded"].erase("sensor"); }), "нет поля «Тип датчика»"},
      {"", with([](Json& j) { j["block"] = "00" + j["block"].get<std::string>().substr(2); }), "изменён вручную"},
      {"", with([](Json& j) { j["values"]["setpoint1_code"] = 1; }), "(«values») не совпадают"},
      {"", with([](Json& j) { j.erase("values"); }), "нет раздела «values»"},
      {"", with([](Json& j) { j["instrument"]["current_correction"] = 16; }), "от 0 до 15"},
      {"", with([](Json& j) { j["port"] = 5; }), "«port» в файле должно быть строкой"},
  };
  // A writer waiting on the FIFO: opening it to read would let the writer go.
  std::atomic<bool> writerReleased = false;
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    writerReleased = true;
    if (fd >= 0) ::close(fd);
  });
  line.ClearLog();
  for (const Case& c : cases) {
    const std::string path = c.path.empty() ? File("hostile.json") : c.path;
    if (!c.text.empty()) WriteText(path, c.text);
    const auto start = Clock::now();
    const Outcome r = Pm("load " + At(2) + " " + path);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << c.message;
    EXPECT_EQ(r.code, 3) << c.message << "\n" << r.output;
    EXPECT_EQ(r.output.rfind("pmctl: ", 0), 0u) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Загрузка отменена"), std::string::npos) << r.output;
  }
  EXPECT_TRUE(line.Frames(sim::Dir::In).empty());
  EXPECT_FALSE(writerReleased);  // nothing opened what is not a regular file
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  writer.join();
  if (reader >= 0) ::close(reader);

  // The first format (no numbers, no recorded access mode) is read as it was.
  const std::string first = File("first.json");
  WriteText(first, with([](Json& j) {
              j["format_version"] = 1;
              j.erase("values");
              j["instrument"].erase("privileged");
              j["decoded"]["access_mode"] = "непривилегированный";
            }));
  const Outcome old = Pm("diff " + At(1) + " " + first);
  EXPECT_EQ(old.code, 0) << old.output;
  std::remove(big.c_str());
}

// pmctl as a command-line tool: exit codes and messages, each message
// starting "pmctl: " and naming its cause.
TEST_F(Pmctl, ExitCodesAndMessages) {
  line.Add({3, 103, 4, true});                   // a ЛУНТ
  line.Add({4, 100, 5, true}).SetModel(255);     // a type the program does not serve
  const std::string zet = File("zet.json"), lunt = File("lunt.json"), kept = File("kept.json");
  ASSERT_EQ(Pm("save " + At(1) + " " + zet).code, 0);
  ASSERT_EQ(Pm("save " + At(3) + " " + lunt).code, 0);
  WriteText(kept, ReadText(zet));
  const std::string fast = " --tries 1 --timeout 100";
  struct Case {
    std::string args;
    int code;
    std::string message;  // in standard output or error
    std::function<void()> setup = {};
    std::string before = {};
  };
  const Case cases[] = {
      {"read " + At(1) + " >/dev/full", 3, "pmctl: Не удалось вывести результат: нет места на диске"},
      {"diff " + At(1) + " " + zet + " >/dev/full", 3, "pmctl: Не удалось вывести результат"},
      {"read " + At(1) + " --baud 12345", 1, "pmctl: --baud: скорость 12345 бит/с не поддерживается"},
      {"load " + At(2) + " " + zet + " --include-calibration", 1, "pmctl: Ключ --include-calibration не относится к команде load"},
      {"read " + At(1) + " --to 3", 1, "Ключ --to не относится к команде read"},
      {"read " + At(1) + " --bogus", 1, "pmctl: Неизвестный ключ «bogus»."},
      {"--help", 0, "Использование: "},
      {"read /dev/pm-no-such-port 1", 2, "pmctl: Порт /dev/pm-no-such-port: такого порта нет"},
      {"scan " + server.SlavePath() + " --to 6" + fast, 0,
       "1\tЗЕТ-ТП\n2\tЗЕТ-ТП\n3\tЛУНТ\n4\tтип не обслуживается (код 255)\n"},
      {"read " + At(2) + " --json", 0, "\"access_mode\": \"непривилегированный\"",
       [&] { line.Find(2)->SetPrivileged(false); }},
      {"read " + At(1) + " --json", 0, "\"setpoint1_degC\": 36.626,\n    \"setpoint1_code\": 1500"},
      {"restore " + At(2) + " " + zet + " --include-calibration", 5,
       "pmctl: Не восстановлено (непривилегированный режим): Код АЦП начала шкалы"},
      {"diff " + At(3) + " " + lunt, 4, "* Байт 14", [&] {
         sim::Bytes b = line.Find(3)->Block();
         b[13] ^= 0x5A;
         line.Find(3)->SetBlock(b);
       }},
      {"load " + At(2) + " " + zet, 0, "", [&] { line.Find(2)->SetPrivileged(true); }},
      {"diff " + At(2) + " " + zet + " --settings", 0, "  Уставка 2 в кодах\t1500\t1500"},
      {"diff " + At(2) + " " + zet, 4, "* Номер прибора\t2\t1"},
      {"save " + At(1) + " " + kept, 3, "pmctl: Не удалось записать файл настроек: Файл " + kept +
       ": превышен допустимый размер файла", {}, "ulimit -f 1"},
  };
  for (const Case& c : cases) {
    if (c.setup) c.setup();
    const Outcome r = Pm(c.args, c.before);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
    EXPECT_EQ(r.output.find("Usage:"), std::string::npos) << r.output;
  }
  EXPECT_EQ(ReadText(kept), ReadText(zet));  // the failed save left the old file

  // The line drops in the middle of a scan: exit 2 with the cause, nothing
  // escapes, no advice to restart a window.
  line.ClearLog();
  std::thread unplug([&] {
    line.WaitForLog(4, std::chrono::seconds(5));
    server.Unplug();
  });
  const Outcome dropped = Pm("scan " + server.SlavePath() + fast);
  unplug.join();
  EXPECT_EQ(dropped.code, 2) << dropped.output;
  EXPECT_NE(dropped.output.find("pmctl: "), std::string::npos) << dropped.output;
  EXPECT_NE(dropped.output.find("отключен"), std::string::npos) << dropped.output;
  EXPECT_EQ(dropped.output.find("перезапустите"), std::string::npos) << dropped.output;
}


// Every load and restore goes on record with the block as read before and as
// read back after; the journal commands list, filter, show and export them;
// a journal that cannot be written refuses the write unless --no-journal; a
// pmctl killed after the block went out leaves the old block on record as
// not completed.
TEST_F(Pmctl, JournalRecordsEveryWriteAndRefusesWithoutIt) {
  const std::string journal = File("journal-" + std::to_string(getpid()) + ".sqlite");
  const std::string j = " --journal " + journal;
  const std::string saved = File("journalled.json");
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  const sim::Bytes original = line.Find(1)->Block(), second = line.Find(2)->Block();
  sim::Bytes changed = original;
  changed[kUst1] ^= 0x40;
  line.Find(1)->SetBlock(changed);

  ASSERT_EQ(Pm("load " + At(1) + " " + saved + j).code, 0);
  ASSERT_EQ(Pm("restore " + At(2) + " " + saved + " --include-calibration" + j).code, 0);
  const auto hex = [](const sim::Bytes& b) {
    std::string s;
    char byte[4];
    for (auto v : b) {
      std::snprintf(byte, sizeof byte, "%02X", v);
      s += (s.empty() ? "" : " ") + std::string(byte);
    }
    return s;
  };
  const Outcome list = Pm("journal --json" + j);
  ASSERT_EQ(list.code, 0) << list.output;
  const auto entries = nlohmann::json::parse(list.output);
  ASSERT_EQ(entries.size(), 2u);
  struct Expected {
    int address;
    std::string operation;
    sim::Bytes before, after;
  };
  const Expected expected[] = {{2, "Восстановление всего из файла", second, line.Find(2)->Block()},
                               {1, "Загрузка настроек из файла", changed, line.Find(1)->Block()}};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(entries[i]["address"], expected[i].address);
    EXPECT_EQ(entries[i]["operation"], expected[i].operation);
    EXPECT_EQ(entries[i]["outcome"], "выполнено");
    EXPECT_EQ(entries[i]["before"], hex(expected[i].before));
    EXPECT_EQ(entries[i]["after"], hex(expected[i].after));
    EXPECT_EQ(entries[i]["program"].get<std::string>().rfind("pmctl ", 0), 0u);
  }
  EXPECT_NE(Pm("journal show " + entries[1]["id"].dump() + j).output.find("* Уставка 2"), std::string::npos);
  EXPECT_EQ(Pm("journal --address 2" + j).output.find("\t1\t"), std::string::npos);
  EXPECT_EQ(Pm("journal --since 2999-01-01" + j).output, "");
  const std::string csv = File("journal.csv");
  ASSERT_EQ(Pm("journal export " + csv + " --port " + server.SlavePath() + j).code, 0);
  const std::string text = ReadText(csv);
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  EXPECT_EQ(Pm("journal show 999" + j).code, 3);
  EXPECT_EQ(Pm("journal --since вчера" + j).code, 1);

  // A journal that cannot be written: nothing goes out, unless asked for.
  line.Find(1)->SetBlock(changed);
  const Outcome refused = Pm("load " + At(1) + " " + saved + " --journal /dev/null/journal.sqlite");
  EXPECT_EQ(refused.code, 6) << refused.output;
  EXPECT_NE(refused.output.find("--no-journal"), std::string::npos) << refused.output;
  EXPECT_EQ(line.Find(1)->Block(), changed);
  EXPECT_EQ(Pm("load " + At(1) + " " + saved + " --no-journal").code, 0);
  EXPECT_EQ(line.Find(1)->Block(), original);
  EXPECT_EQ(Pm("load " + At(1) + " " + saved + " --no-journal" + j).code, 1);

  // Killed once the block has gone out: the entry keeps the old block.
  line.Find(1)->SetBlock(changed);
  const std::string pidFile = File("pmctl.pid");
  line.SetLogSink([&pidFile](const sim::LogEntry& e) {
    if (e.dir != sim::Dir::In || e.bytes.size() < 2 || e.bytes[1] != 69) return;
    const int pid = std::atoi(ReadText(pidFile).c_str());
    if (pid > 0) kill(pid, SIGKILL);
  });
  const Outcome killed = Pm("load " + At(1) + " " + saved + j, "echo $$ >" + pidFile);
  line.SetLogSink({});
  EXPECT_EQ(killed.code, -1) << killed.output;
  const auto after = nlohmann::json::parse(Pm("journal --json --address 1" + j).output);
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after[0]["outcome"], "не завершено");
  EXPECT_EQ(after[0]["before"], hex(changed));
  EXPECT_EQ(after[0]["after"], "");
}

// watch: a line per poll, the recording's CSV, the silent address backed off
// and named in the exit code; Ctrl+C ends it with the file whole; bad sets
// and files are refused before the line is touched.
TEST_F(Pmctl, WatchPollsTheLineAndStopsOnCtrlC) {
  const std::string csv = File("watch.csv"), fast = " --tries 1 --timeout 100";
  Outcome r = Pm("watch " + server.SlavePath() + " 1-3 --count 3 --csv " + csv + fast);
  EXPECT_EQ(r.code, 2);
  std::vector<std::string> lines;
  for (std::istringstream in(r.output); std::getline(in, lines.emplace_back());) {}
  lines.pop_back();
  // Cycle 1 polls 1, 2, 3; address 3 is then left out until cycle 5.
  ASSERT_EQ(lines.size(), 8u) << r.output;
  for (int i : {0, 1, 3, 4, 5, 6}) EXPECT_NE(lines[i].find("\tЗЕТ-ТП\t"), std::string::npos) << lines[i];
  EXPECT_EQ(lines[2].substr(23), "\t3\t\tнет ответа");
  EXPECT_EQ(lines[7], "pmctl: Не ответили на последний запрос: 3");
  const std::string rows = ReadText(csv);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 8);  // the header and 7 rows
  EXPECT_NE(rows.find(";3;0;;;;;;;;;\r\n"), std::string::npos);

  // Ctrl+C: the poll under way ends, the file ends with a whole row.
  const std::string cmd = std::string(PMCTL) + " watch " + server.SlavePath() + " 1,2 --tx-delay 1 --csv " + csv +
                          " >/dev/null & p=$!; sleep 1; kill -INT $p; wait $p";
  const int status = std::system(cmd.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
  const std::string file = ReadText(csv);
  EXPECT_GT(std::count(file.begin(), file.end(), '\n'), 3);
  EXPECT_EQ(file.substr(file.size() - 2), "\r\n");

  EXPECT_EQ(Pm("watch " + server.SlavePath() + " 0-3").output, "pmctl: Неверный диапазон 0-3: адреса от 1 до 32\n"
                                                                 "pmctl: Справка: pmctl --help\n");
  r = Pm("watch " + server.SlavePath() + " 1 --csv /nonexistent-folder/w.csv");
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.output, "pmctl: Не удалось открыть файл /nonexistent-folder/w.csv: папка не найдена\n");
  EXPECT_EQ(Pm("watch " + server.SlavePath() + " 1 --interval x").code, 1);
}

// The journal's trouble has its exit code and its words: an entry that
// cannot be finished once the instrument was written (the disk full at that
// moment), a file that is not a journal or a mistyped path (nothing made),
// and an entry whose text is not UTF-8 (listed escaped with the rest).
TEST_F(Pmctl, JournalTroubleIsReportedWithItsExitCode) {
  const std::string journal = File("trouble-" + std::to_string(getpid()) + ".sqlite");
  const std::string j = " --journal " + journal;
  const std::string saved = File("trouble.json");
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  sim::Bytes changed = line.Find(1)->Block();
  const sim::Bytes original = changed;
  changed[kUst1] ^= 0x40;
  line.Find(1)->SetBlock(changed);
  ASSERT_EQ(Pm("journal" + j + " --since 2026-01-01").code, 6);  // nothing there yet, nothing made
  EXPECT_FALSE(std::ifstream(journal).good());

  // The disk is full from the moment the block goes out.
  const std::string pidFile = File("trouble.pid");
  line.SetLogSink([&pidFile](const sim::LogEntry& e) {
    if (e.dir != sim::Dir::In || e.bytes.size() < 2 || e.bytes[1] != 69) return;
    const rlimit full{1, 1};
    prlimit(std::atoi(ReadText(pidFile).c_str()), RLIMIT_FSIZE, &full, nullptr);
  });
  const Outcome full = Pm("load " + At(1) + " " + saved + j, "echo $$ >" + pidFile);
  line.SetLogSink({});
  EXPECT_EQ(full.code, 7) << full.output;
  EXPECT_NE(full.output.find("запись не завершена"), std::string::npos) << full.output;
  EXPECT_NE(full.output.find("Запись в прибор выполнена; в журнале она осталась незавершённой."), std::string::npos)
      << full.output;
  EXPECT_EQ(line.Find(1)->Block(), original);
  auto entries = nlohmann::json::parse(Pm("journal --json" + j).output);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]["outcome"], "не завершено");

  // Text that is not UTF-8 is escaped; the other entries are listed as they are.
  {
    pmjournal::Entry odd;
    odd.port = "/dev/ttyUSB0";
    odd.address = 3;
    odd.host = "host\xFF\xC0name";
    odd.before = {1};
    pmjournal::Journal::Open(journal).journal->Record(odd);
  }
  const Outcome listed = Pm("journal --json" + j);
  ASSERT_EQ(listed.code, 0) << listed.output;
  entries = nlohmann::json::parse(listed.output);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]["host"], "host\\xFF\\xC0name");

  // Files that are not a journal, or not there: refused, nothing made or changed.
  const std::string folder = File("no-such-folder-" + std::to_string(getpid()));
  const std::string csvOut = File("trouble-" + std::to_string(getpid()) + ".csv");
  for (const std::string& path : {saved, folder + "/journal.sqlite"}) {
    const std::string before = ReadText(path);
    std::vector<std::string> commands = {"journal --journal " + path,
                                         "journal export " + csvOut + " --journal " + path};
    if (path == saved) commands.push_back("load " + At(1) + " " + saved + " --journal " + path);
    for (const std::string& command : commands) {
      const Outcome r = Pm(command);
      EXPECT_EQ(r.code, 6) << command << "\n" << r.output;
      EXPECT_NE(r.output.find(path), std::string::npos) << r.output;
    }
    EXPECT_TRUE(ReadText(path) == before) << path;
  }
  EXPECT_NE(Pm("journal --journal " + saved).output.find("не является журналом изменений"), std::string::npos);
  struct stat st {};
  EXPECT_NE(stat(folder.c_str(), &st), 0);
  EXPECT_NE(stat(csvOut.c_str(), &st), 0);
}

// pmctl writes to the journal the window chose, else to $PMSERVICE_JOURNAL;
// --journal overrides both for one command.
TEST_F(Pmctl, OneJournalForTheWindowAndPmctl) {
  const std::string home = File("home-" + std::to_string(getpid()));
  const std::string chosen = home + "/chosen.sqlite", env = home + "/env.sqlite", once = home + "/once.sqlite";
  std::filesystem::create_directories(home + "/config/pmservice");
  const std::string saved = File("shared.json");
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  const auto load = [&](const std::string& extra) {
    sim::Bytes b = line.Find(1)->Block();
    b[kUst1] ^= 0x40;
    line.Find(1)->SetBlock(b);
    return Pm("load " + At(1) + " " + saved + extra,
              "export XDG_CONFIG_HOME=" + home + "/config PMSERVICE_JOURNAL=" + env).code;
  };
  EXPECT_EQ(load(""), 0);
  std::ofstream(home + "/config/pmservice/pmservice.conf") << "[journal]\npath=" << chosen << "\n";
  EXPECT_EQ(load(""), 0);
  EXPECT_EQ(load(" --journal " + once), 0);
  for (const std::string& file : {env, chosen, once})
    EXPECT_EQ(nlohmann::json::parse(Pm("journal --json --journal " + file).output).size(), 1u) << file;
}

// watch ends at once on SIGINT and SIGTERM, however many attempts are left,
// right after its last cycle, and at the first failed write to a reader
// that went away even with SIGPIPE ignored. Bounds are generous; the
// figures are bench_stall's.
TEST_F(Pmctl, WatchStopsAtOnceAndEndsRightAfterItsCycles) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); };
  for (const char* signal : {"INT", "TERM"}) {
    // Address 20 is silent: 20 attempts of 1.6 s each would take 32 s.
    const std::string cmd = std::string(PMCTL) + " watch " + server.SlavePath() +
                            " 20 --tries 20 >/dev/null 2>&1 & p=$!; sleep 1; kill -" + signal + " $p; wait $p";
    const auto t0 = Clock::now();
    const int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status)) << signal;
    EXPECT_LT(seconds(t0), 4.0) << signal;
  }

  auto t0 = Clock::now();
  const Outcome once = Pm("watch " + server.SlavePath() + " 1 --count 1 --interval 5");
  EXPECT_EQ(once.code, 0) << once.output;
  EXPECT_LT(seconds(t0), 3.0);

  t0 = Clock::now();
  const std::string piped = "bash -c 'trap \"\" PIPE; " + std::string(PMCTL) + " watch " + server.SlavePath() +
                            " 1 --tx-delay 1 2>/dev/null | head -1 >/dev/null; exit ${PIPESTATUS[0]}'";
  const int status = std::system(piped.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 3);
  EXPECT_LT(seconds(t0), 10.0);

  EXPECT_EQ(Pm("watch " + server.SlavePath() + " -4").output,
            "pmctl: Неверный диапазон в \"-4\": не указан первый адрес; адреса от 1 до 32\n"
            "pmctl: Справка: pmctl --help\n");
}

}  // namespace
