// pmctl, the program itself, against simulated instruments on a
// pseudo-terminal served from this process: each command once, the settings
// round trip and cloning, refusals that leave the instrument alone, and a
// write whose read-back differs.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

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

  Outcome Pm(const std::string& args) {
    const std::string cmd = std::string(PMCTL) + " " + args + " --tx-delay 1 2>&1";
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
      {edited("\"format_version\": 1", "\"format_version\": 9"), "более новой версией"},
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
// only; the other settings that differ are named as not loaded.
TEST_F(Pmctl, NonPrivilegedTakesOnlyTheAlarmSettings) {
  const std::string saved = File("three.json");
  sim::Bytes b = line.Find(1)->Block();
  b[9] ^= 1;  // sensor
  b[kUst1] ^= 0x40;
  line.Find(1)->SetBlock(b);
  ASSERT_EQ(Pm("save " + At(1) + " " + saved).code, 0);
  line.Find(2)->SetPrivileged(false);
  const sim::Bytes before = line.Find(2)->Block();
  const Outcome r = Pm("load " + At(2) + " " + saved);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("Не загружено (непривилегированный режим): Тип датчика"), std::string::npos) << r.output;
  EXPECT_EQ(line.Find(2)->Block()[9], before[9]);
  EXPECT_EQ(line.Find(2)->Block()[kUst1], b[kUst1]);
}

}  // namespace
