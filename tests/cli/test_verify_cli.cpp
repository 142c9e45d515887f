// pmctl verify driven as a calibrator's script drives it: pmctl is started
// with pipes, each prompt is read, the signal it names applied to the
// simulated instrument and a line given back. The visit: as found fails
// (exit 8), after the adjustment as left passes (exit 0) and names its
// as-found check; input that ends early cannot check (exit 9); the stored
// checks are listed, exported and printed.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Line.h"
#include "PtyServer.h"

namespace {

constexpr int kZetTs = 101;

class VerifyCli : public testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("pmctl-verify-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // ЗЕТ-ТС, Pt100 over 0…150 °C, its scale end 2 % of the span off.
    in = &line.Add({1, kZetTs, 6, true});
    in->SetWriteTime(std::chrono::milliseconds(5));
    sim::Bytes block = in->Block();
    block[9] = 2;
    block[10] = 31;
    in->SetBlock(block);
    in->Tune(2);
    in->SetNoise(1);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  struct Run {
    int code = -1;
    std::string out;
    int prompts = 0;
  };

  // pmctl with `args`; every prompt answered with `answer` after applying
  // its signal, until `lines` lines have been given (then standard input ends).
  Run Pm(const std::string& args, int lines = 1000, const std::vector<std::string>& answers = {}) {
    int toChild[2], fromChild[2];
    EXPECT_EQ(pipe(toChild), 0);
    EXPECT_EQ(pipe(fromChild), 0);
    const std::string cmd = std::string("cd ") + PM_TEST_TABLES + " && exec " + PMCTL + " " + args + " --journal " + Journal() + " 2>&1";
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(toChild[0], STDIN_FILENO);
      dup2(fromChild[1], STDOUT_FILENO);
      close(toChild[1]);
      close(fromChild[0]);
      execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    Run r;
    std::string pending;
    const std::regex prompt("Подайте (-?[0-9]+,[0-9]+) (Ом|мВ|мА)");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char buf[4096];
    for (;;) {
      pollfd p{fromChild[0], POLLIN, 0};
      if (std::chrono::steady_clock::now() > deadline || poll(&p, 1, 1000) < 0) break;
      if (!p.revents) continue;
      const ssize_t n = read(fromChild[0], buf, sizeof buf);
      if (n <= 0) break;
      pending.append(buf, static_cast<std::size_t>(n));
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        const std::string text = pending.substr(0, end + 1);
        pending.erase(0, end + 1);
        r.out += text;
        std::smatch m;
        if (!std::regex_search(text, m, prompt)) continue;
        std::string value = m[1];
        value[value.find(',')] = '.';
        in->SetInput(std::stod(value));
        if (++r.prompts > lines) {
          close(toChild[1]);
          toChild[1] = -1;
          continue;
        }
        const std::size_t n = static_cast<std::size_t>(r.prompts - 1);
        const std::string line = (n < answers.size() ? answers[n] : "") + "\n";
        EXPECT_EQ(write(toChild[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
      }
    }
    r.out += pending;
    if (toChild[1] >= 0) close(toChild[1]);
    close(fromChild[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  std::string Journal() const { return (dir / "journal.sqlite").string(); }
  std::string At() const { return server.SlavePath() + " 1 --tx-delay 1"; }

  sim::Line line;
  sim::PtyServer server{line};
  sim::Instrument* in = nullptr;
  std::filesystem::path dir;
};

const std::string kCheck =
    " --script --tolerance 0,5% --readings 3 --interval 0 --equipment Калибратор --serial 77 --ambient 21";

TEST_F(VerifyCli, AVisitInAScriptWithItsExitCodes) {
  const Run found = Pm("verify " + At() + kCheck);
  EXPECT_EQ(found.code, 8) << found.out;
  EXPECT_EQ(found.prompts, 5);
  EXPECT_NE(found.out.find("Подайте 100,000 Ом (0 °C) и нажмите Enter"), std::string::npos) << found.out;
  std::smatch id;
  ASSERT_TRUE(std::regex_search(found.out, id, std::regex("Проверка №([0-9]+) как найдено: не годен")))
      << found.out;

  in->Tune(0);  // the adjustment
  // The output current measured at 75 °C: 12 mA within the tolerance.
  const Run left = Pm("verify " + At() + kCheck + " --after " + id[1].str(), 1000, {"", "", "12,02", "", ""});
  EXPECT_EQ(left.code, 0) << left.out;
  EXPECT_NE(left.out.find("как оставлено: годен"), std::string::npos) << left.out;

  // A script that stops feeding lines: the check is not done, nor stored.
  EXPECT_EQ(Pm("verify " + At() + kCheck, 2).code, 9);
  EXPECT_EQ(Pm("verify " + At() + kCheck + " --after 999").code, 9);
  EXPECT_EQ(Pm("verify " + At() + " --script --tolerance x").code, 1);
  EXPECT_EQ(Pm("verify " + At() + kCheck + " --points '0;500'").code, 1);

  const Run list = Pm("verify --list");
  EXPECT_EQ(list.code, 0);
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 2) << list.out;
  EXPECT_NE(list.out.find("как оставлено  годен"), std::string::npos) << list.out;
  const std::string csv = (dir / "checks.csv").string();
  EXPECT_EQ(Pm("verify --list --csv " + csv).code, 0);
  std::stringstream text;
  text << std::ifstream(csv).rdbuf();
  EXPECT_NE(text.str().find("Калибратор"), std::string::npos);

  const std::string pdf = (dir / "record.pdf").string();
  EXPECT_EQ(Pm("verify " + id[1].str() + " --pdf " + pdf).code, 0);
  EXPECT_EQ(Pm("verify 999 --pdf " + pdf).code, 3);
  if (std::system("command -v pdftotext >/dev/null") != 0) GTEST_SKIP() << "pdftotext is not installed";
  FILE* p = popen(("pdftotext " + pdf + " -").c_str(), "r");
  std::string record;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) record.append(buf, n);
  pclose(p);
  for (const char* expected : {"Протокол калибровки", "Pt100", "как найдено", "как оставлено", "Заключение: годен"})
    EXPECT_NE(record.find(expected), std::string::npos) << expected << " not in " << record;
}

}  // namespace
