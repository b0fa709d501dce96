// orgkat-cli against the demo directory: real processes, real TLS on 127.0.0.1, real files.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/demo_run_rig.h"
#include "tools/demo-directory/directory_data.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::Account;
using test::CsvRows;
using test::FilesLike;
using test::ReadFile;

class CliEndToEnd : public test::DemoRun {};

TEST_F(CliEndToEnd, AFullRunWritesOneRowPerServedRecordAndKeepsTheLimitAndThePace) {
  const int count = 24;
  const std::uint64_t seed = 11;
  StartServer({"--count", std::to_string(count), "--seed", std::to_string(seed), "--fail-500", "10",
               "--fail-404", "5", "--slow-ms", "700"});
  StartCli({"--limit", "3"});
  ASSERT_EQ(cli_->Wait(120s), 0) << cli_->Out() << cli_->Err();
  const auto account = StopServer();

  const std::string out = cli_->Out();
  EXPECT_NE(out.find(": Начинаем работу\n"), std::string::npos);
  EXPECT_NE(out.find(": Найдено " + std::to_string(count) + " организаций\n"), std::string::npos);
  EXPECT_NE(out.find(": Сбор данных завершен\n"), std::string::npos);
  ExpectLogFileEqualsOutput();

  const auto csvs = FilesLike(work_ / "out", "data-?[0-9]+\\.csv");
  ASSERT_EQ(csvs.size(), 1u);
  const auto rows = CsvRows(ReadFile(csvs[0]));
  ASSERT_FALSE(account.Served.empty());

  // Every served record has exactly one row, found by its title (cell 1, written untrimmed).
  const DemoDirectory directory(count, seed);
  std::multiset<std::string> expected;
  for (const auto id : account.Served) {
    const auto body = directory.RecordBody(id);
    ASSERT_TRUE(body);
    expected.insert(nlohmann::json::parse(*body)["list"]["title"].get<std::string>());
  }
  std::multiset<std::string> written;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 10u);
    written.insert(row[0]);
  }
  EXPECT_EQ(written, expected);

  // Answers take longer than three dispatches, so without the limit a fourth request would start.
  EXPECT_GE(account.MaxInFlight, 2);
  EXPECT_LE(account.MaxInFlight, 3);
  // The 200 ms between dispatches is checked on an injected clock in the controller's unit tests:
  // the server sees a request only after the worker's connection and TLS set-up, whose time
  // depends on the machine's load.
}

TEST_F(CliEndToEnd, AFailedListEndsWithoutAResultFile) {
  StartServer({"--count", "5", "--list-status", "404"});
  StartCli();
  EXPECT_EQ(cli_->Wait(90s), 1) << cli_->Out() << cli_->Err();
  StopServer();
  EXPECT_TRUE(FilesLike(work_ / "out", "data.*").empty());
  EXPECT_EQ(cli_->Out().find("Найдено"), std::string::npos);
  ExpectLogFileEqualsOutput();
}

TEST_F(CliEndToEnd, AnEmptyListEndsWithoutAResultFile) {
  StartServer({"--empty-list"});
  StartCli();
  EXPECT_EQ(cli_->Wait(60s), 1) << cli_->Out() << cli_->Err();
  StopServer();
  EXPECT_NE(cli_->Out().find(": Найдено 0 организаций\n"), std::string::npos);
  EXPECT_TRUE(FilesLike(work_ / "out", "data.*").empty());
  ExpectLogFileEqualsOutput();
}

class CliStopSignal : public CliEndToEnd, public ::testing::WithParamInterface<int> {};

// SIGHUP comes when the terminal is closed: the run stops and still saves its log.
TEST_P(CliStopSignal, AStopDuringTheListRequestEndsTheRunWithStatus130) {
  StartServer({"--count", "5", "--slow-ms", "3000"});
  StartCli();
  ASSERT_TRUE(cli_->WaitForOutput(": Начинаем работу\n", 20s)) << cli_->Err();
  cli_->Signal(GetParam());
  EXPECT_EQ(cli_->Wait(60s), 130) << cli_->Out() << cli_->Err();
  StopServer();
  EXPECT_NE(cli_->Out().find(": Останавливаем работу\n"), std::string::npos);
  EXPECT_TRUE(FilesLike(work_ / "out", "data.*").empty());
  ExpectLogFileEqualsOutput();
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStopSignal, ::testing::Values(SIGINT, SIGHUP));

TEST_F(CliEndToEnd, AStopDuringTheRecordsKeepsTheRowsWrittenAndEndsWithStatus130) {
  StartServer({"--count", "40"});
  StartCli();
  ASSERT_TRUE(cli_->WaitForOutput("Данные будут записываться в файл ", 30s)) << cli_->Err();
  cli_->Signal(SIGTERM);
  EXPECT_EQ(cli_->Wait(60s), 130) << cli_->Out() << cli_->Err();
  const auto account = StopServer();
  const auto out = cli_->Out();
  EXPECT_NE(out.find(": Останавливаем работу\n"), std::string::npos);
  EXPECT_EQ(out.find("Сбор данных завершен"), std::string::npos);
  const auto csvs = FilesLike(work_ / "out", "data-?[0-9]+\\.csv");
  ASSERT_EQ(csvs.size(), 1u);
  EXPECT_LT(CsvRows(ReadFile(csvs[0])).size(), 40u);
  ExpectLogFileEqualsOutput();
}

TEST_F(CliEndToEnd, ASecondInterruptEndsTheProgramAtOnce) {
  StartServer({"--count", "5", "--slow-ms", "20000"});
  StartCli({}, "60");
  ASSERT_TRUE(cli_->WaitForOutput(": Начинаем работу\n", 20s)) << cli_->Err();
  // The pause right behind the stop holds the run at its next step, so the stop cannot finish
  // and save the log before the second interrupt arrives. Sent to the main thread while the
  // program is stopped, both are pending there when it continues; their handlers, which do not
  // nest, run in the order of the signals' numbers, stop first, before the loop reads either: so
  // however loaded the machine, the loop takes the stop and then the pause in one go.
  cli_->Signal(SIGSTOP);
  cli_->SignalMainThread(SIGINT);
  cli_->SignalMainThread(SIGUSR1);
  cli_->Signal(SIGCONT);
  ASSERT_TRUE(cli_->WaitForOutput(": Останавливаем работу\n", 10s));
  ASSERT_TRUE(cli_->WaitForOutput(": Включаем паузу\n", 10s)) << cli_->Out();
  cli_->Signal(SIGINT);
  // The slow list answer is 20 s away; the program must not wait for it.
  EXPECT_EQ(cli_->Wait(10s), 130);
  EXPECT_TRUE(FilesLike(work_ / "out", "log.*").empty()) << cli_->Out() << cli_->Err();
}

// The record is lost, the others are collected after the pause: exit status 3.
TEST_F(CliEndToEnd, ARecordThatIsNotJsonPausesTheRunUntilTheOperatorResumesIt) {
  const int count = 4;
  const std::uint64_t seed = 3;
  const auto bad = DemoDirectory(count, seed).Ids()[1];
  StartServer({"--count", std::to_string(count), "--seed", std::to_string(seed), "--non-json-id",
               std::to_string(bad)});
  StartCli();
  ASSERT_TRUE(cli_->WaitForOutput(": Включаем паузу на 30 секунд\n", 60s))
      << cli_->Out() << cli_->Err();
  cli_->Signal(SIGUSR1);
  EXPECT_EQ(cli_->Wait(60s), 3) << cli_->Out() << cli_->Err();
  EXPECT_NE(cli_->Err().find("records found: 4, rows written: 3, records lost: 1\n"),
            std::string::npos)
      << cli_->Err();
  StopServer();
  const auto out = cli_->Out();
  const auto error = out.find(": Ошибка: ");
  const auto resumed = out.find(": Отключаем паузу, продолжаем работу\n");
  const auto done = out.find(": Сбор данных завершен\n");
  ASSERT_NE(error, std::string::npos) << out;
  ASSERT_NE(resumed, std::string::npos) << out;
  ASSERT_NE(done, std::string::npos) << out;
  EXPECT_LT(error, resumed);
  EXPECT_LT(resumed, done);
  ExpectLogFileEqualsOutput();
}

TEST_F(CliEndToEnd, UsageErrorsEndWithStatus2AndNothingOnStandardOutput) {
  port_ = "1";
  StartCli({"--limit", "many"});
  EXPECT_EQ(cli_->Wait(20s), 2);
  EXPECT_EQ(cli_->Out(), "");
  EXPECT_NE(cli_->Err().find("--limit"), std::string::npos);
}

// Each row: arguments (with defaults for the hosts and the output directory where the row names
// none) -> a text of the message on standard error -> exit status. Nothing may reach standard
// output and no file may be made: the checks come before anything is fetched.
TEST_F(CliEndToEnd, ChecksBeforeTheRunEndWithAMessageAndStatus2) {
  std::ofstream(work_ / "bad-port.txt") << "127.0.0.1:70000\n";
  fs::create_directories(work_ / "a-directory");
  const struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--limit", "0"}, "--limit must be a whole number of 1 or more, not '0'"},
      {{"--limit", "-2"}, "--limit must be a whole number of 1 or more, not '-2'"},
      {{"--limit", "many"}, "--limit"},
      {{"--timeout", "0"}, "--timeout must be a positive number of seconds"},
      {{"--api-host", "127.0.0.1:99999"},
       "--api-host '127.0.0.1:99999': the port must be a number from 1 to 65535"},
      {{"--site-host", "localhost:0"},
       "--site-host 'localhost:0': the port must be a number from 1 to 65535"},
      {{"--proxy-file", "missing.txt"},
       "--proxy-file: '" + (work_ / "missing.txt").string() + "' does not exist"},
      {{"--proxy-file", "a-directory"}, "--proxy-file: cannot read the proxy file"},
      {{"--proxy-file", "bad-port.txt"}, "the port '70000' is not a number from 1 to 65535"},
      {{"--output-dir", "/proc"}, "no file can be created in the output directory /proc/"},
  };
  for (const auto& c : cases) {
    std::map<std::string, std::string> defaults = {
        {"--api-host", "127.0.0.1:1"}, {"--site-host", "localhost"}, {"--output-dir", "out"}};
    std::vector<std::string> argv = {test::kCli, "--no-open"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    for (const auto& [option, value] : defaults) {
      if (std::find(c.args.begin(), c.args.end(), option) == c.args.end()) {
        argv.insert(argv.end(), {option, value});
      }
    }
    test::Child cli(work_, "check", argv);
    EXPECT_EQ(cli.Wait(20s), 2) << c.message;
    EXPECT_EQ(cli.Out(), "") << c.message;
    EXPECT_NE(cli.Err().find(c.message), std::string::npos) << c.message << "\n" << cli.Err();
    EXPECT_TRUE(fs::is_empty(work_ / "out")) << c.message;
  }
}

// Problems that do not stop the run are named on standard error before it; the run then goes as
// it would without the check: with unusable certificate files every request fails.
TEST_F(CliEndToEnd, UnusableCertificateFilesAreNamedAndTheRunGoesOn) {
  const struct Case {
    std::function<void(const fs::path&)> spoil;
    std::string message;
  } cases[] = {
      {[](const fs::path& dir) { fs::remove(dir / "01cert.pem"); },
       "the client certificate files are missing: 01cert.pem;"},
      {[](const fs::path& dir) {
         fs::remove(dir / "01cert.pem");
         fs::remove(dir / "01key.pem");
       },
       "the client certificate files are missing: 01cert.pem, 01key.pem;"},
      {[](const fs::path& dir) { std::ofstream(dir / "01key.pem") << "not a key\n"; },
       "the client certificate cannot be used: Can't load private key file \"01key.pem\""},
      {[](const fs::path& dir) {
         const std::string command = "openssl pkey -in " + (certs_ / "01key.pem").string() +
                                     " -passin pass:qwzxkvbn -aes128 -passout pass:another -out " +
                                     (dir / "01key.pem").string();
         ASSERT_EQ(std::system(command.c_str()), 0);
       },
       "the client certificate cannot be used: Can't load private key file \"01key.pem\" (is the "
       "key protected by the program's pass phrase?)"},
  };
  StartServer({"--count", "3"});
  for (const auto& c : cases) {
    for (const char* name : {"01cert.pem", "01key.pem"}) {
      fs::copy_file(certs_ / name, work_ / name, fs::copy_options::overwrite_existing);
    }
    c.spoil(work_);
    StartCli();
    // Every attempt at the list fails, so the run ends without records.
    EXPECT_EQ(cli_->Wait(60s), 1) << cli_->Out() << cli_->Err();
    const auto err = cli_->Err();
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_NE(err.find("working directory " + fs::canonical(work_).string()), std::string::npos)
        << err;
    EXPECT_NE(cli_->Out().find("ERROR_Connection aborted on request для "), std::string::npos);
  }
  StopServer();
}

TEST_F(CliEndToEnd, AProxyFileWithoutAPortIsNamedAndTheRunGoesOutDirectly) {
  std::ofstream(work_ / "proxy.txt") << "proxy-without-port\n";
  StartServer({"--count", "3"});
  StartCli({"--proxy-file", "proxy.txt"});
  EXPECT_EQ(cli_->Wait(60s), 0) << cli_->Out() << cli_->Err();
  StopServer();
  EXPECT_NE(cli_->Err().find("does not give HOST:PORT on its first line ('proxy-without-port')"),
            std::string::npos)
      << cli_->Err();
  EXPECT_NE(cli_->Out().find(": Сбор данных завершен\n"), std::string::npos);
}

// Two records answer 404 to every attempt; a third fails twice and then succeeds, so it keeps its
// row. The run completes, and status 3 says that rows are missing.
TEST_F(CliEndToEnd, LostRecordsAreListedInTheSummaryAndEndWithStatus3) {
  const int count = 8;
  const std::uint64_t seed = 5;
  const auto ids = DemoDirectory(count, seed).Ids();
  StartServer({"--count", std::to_string(count), "--seed", std::to_string(seed), "--fault",
               "not-found=" + std::to_string(ids[1]), "--fault",
               "not-found=" + std::to_string(ids[4]), "--fault",
               "server-error=" + std::to_string(ids[2]) + "/2"});
  StartCli();
  EXPECT_EQ(cli_->Wait(120s), 3) << cli_->Out() << cli_->Err();
  StopServer();

  const auto url = [this](std::int64_t id) {
    return "https://127.0.0.1:" + port_ + "/api/eduoffices/" + std::to_string(id) + ".json";
  };
  const auto out = cli_->Out();
  EXPECT_NE(out.find("ERROR_Internal Server Error для " + url(ids[2])), std::string::npos) << out;
  const auto csvs = FilesLike(work_ / "out", "data-?[0-9]+\\.csv");
  const auto logs = FilesLike(work_ / "out", "log-?[0-9]+\\.txt");
  ASSERT_EQ(csvs.size(), 1u);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(CsvRows(ReadFile(csvs[0])).size(), 6u);
  EXPECT_EQ(cli_->Err(),
            "orgkat-cli: records found: 8, rows written: 6, records lost: 2\n"
            "records with no row in the CSV (failed after their last attempt, or skipped):\n"
            "  " +
                url(ids[1]) +
                "\n"
                "  " +
                url(ids[4]) +
                "\n"
                "Сравнения с прошлым сбором нет: в папке нет прошлого сбора\n"
                "CSV: " +
                csvs[0].string() +
                "\n"
                "log: " +
                logs[0].string() + "\n");
  ExpectLogFileEqualsOutput();
}

// orgkat-cli with its standard error on a pseudo-terminal; standard output goes to a file.
class CliOnTerminal : public test::DemoRun {
 protected:
  // Runs to the end; `during` sees the terminal's output so far and may act on the terminal.
  int RunOnTerminal(int columns,
                    const std::function<void(int master, const std::string& err)>& during = {}) {
    std::vector<std::string> args = {test::kCli,    "--api-host", "127.0.0.1:" + port_,
                                     "--site-host", "localhost",  "--output-dir",
                                     "out",         "--no-open"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string cwd = work_.string();
    const std::string out = (work_ / "cli.out").string();
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (chdir(cwd.c_str()) != 0 || o < 0) _exit(126);
      dup2(o, STDOUT_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    EXPECT_GT(pid, 0);
    if (pid <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    for (;;) {
      pollfd fd{master, POLLIN, 0};
      if (poll(&fd, 1, 100) > 0) {
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO: the child has ended and closed the terminal
        err_.append(buffer, static_cast<std::size_t>(n));
        if (during) during(master, err_);
      }
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        break;
      }
    }
    close(master);
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }

  // The lines drawn in place: each "\r", the line, then "erase to the end of the line".
  std::vector<std::string> DrawnLines() const {
    std::vector<std::string> lines;
    for (std::size_t at = err_.find('\r'); at != std::string::npos; at = err_.find('\r', at + 1)) {
      const auto end = err_.find("\033[K", at);
      const auto newline = err_.find('\n', at);
      if (end == std::string::npos || newline < end) continue;
      const auto line = err_.substr(at + 1, end - at - 1);
      if (!line.empty()) lines.push_back(line);
    }
    return lines;
  }

  static int Columns(const std::string& text) {
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
      return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
  }

  // The summary starts on a clean line: the progress line was erased before it.
  void ExpectSummaryOnACleanLine() const {
    const auto summary = err_.find("orgkat-cli: records found: 40, rows written: 40");
    ASSERT_NE(summary, std::string::npos) << err_;
    const auto before = err_.substr(0, summary);
    EXPECT_TRUE(before.ends_with("\r\033[K") || before.ends_with("\n")) << before;
  }

  std::string err_;
};

TEST_F(CliOnTerminal, At30ColumnsTheProgressLineNeverWraps) {
  StartServer({"--count", "40", "--slow-ms", "100"});
  EXPECT_EQ(RunOnTerminal(30), 0) << err_;
  StopServer();
  const auto lines = DrawnLines();
  ASSERT_FALSE(lines.empty()) << err_;
  bool counts = false;
  for (const auto& line : lines) {
    EXPECT_LE(Columns(line), 30) << line;
    counts = counts || line.find(" из 40, осталось ") != std::string::npos;
  }
  EXPECT_TRUE(counts) << err_;
  ExpectSummaryOnACleanLine();
}

TEST_F(CliOnTerminal, At200ColumnsTheWholeLineShowsAndAResizeIsFollowed) {
  StartServer({"--count", "40", "--slow-ms", "100"});
  bool resized = false;
  const int status = RunOnTerminal(200, [&resized](int master, const std::string& err) {
    // Once the time left is shown, the terminal is made narrow.
    if (resized || err.find("/с ~") == std::string::npos) return;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 30;
    ioctl(master, TIOCSWINSZ, &size);
    resized = true;
  });
  EXPECT_EQ(status, 0) << err_;
  StopServer();
  const auto lines = DrawnLines();
  ASSERT_FALSE(lines.empty()) << err_;
  EXPECT_EQ(lines.front(), "запрашиваем список организаций…");
  const auto full = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with("[") && line.find("] ") == 31 &&
           line.find(" из 40, осталось ") != std::string::npos &&
           line.find("/с ~") != std::string::npos;
  });
  EXPECT_NE(full, lines.end()) << err_;
  ASSERT_TRUE(resized) << err_;
  EXPECT_LE(Columns(lines.back()), 30) << lines.back();
  ExpectSummaryOnACleanLine();
}

}  // namespace
}  // namespace orgkat
