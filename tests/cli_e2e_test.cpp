// orgkat-cli against the demo directory: real processes, real TLS on 127.0.0.1, real files.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "tools/demo-directory/directory_data.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kCli = std::string(ORGKAT_BINARY_DIR) + "/app/cli/orgkat-cli";
const std::string kServer =
    std::string(ORGKAT_BINARY_DIR) + "/tools/demo-directory/orgkat-demo-directory";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A child process with its output in files; killed if the test leaves it running.
class Child {
 public:
  Child(const fs::path& dir, const std::string& name, const std::vector<std::string>& argv)
      : out_(dir / (name + ".out")), err_(dir / (name + ".err")) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string cwd = dir.string();
    const std::string out = out_.string();
    const std::string err = err_.string();
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(cwd.c_str()) != 0) _exit(126);
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = open("/dev/null", O_RDONLY);
      dup2(o, 1);
      dup2(e, 2);
      dup2(in, 0);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  void Signal(int sig) const { kill(pid_, sig); }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }

  // The exit status, or -1 when the time ran out (the child is then killed).
  int Wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!status_) {
      int raw = 0;
      if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      } else if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        status_ = -1;
      } else {
        std::this_thread::sleep_for(20ms);
      }
    }
    return *status_;
  }

  // Waits until standard output holds the text; false when the time ran out or the child ended.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Out().find(text) != std::string::npos) return true;
      int raw = 0;
      if (!status_ && waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      }
      if (status_) return Out().find(text) != std::string::npos;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

 private:
  fs::path out_;
  fs::path err_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// The rows of the result file (after the byte-order mark and the header): the cells of each row,
// read with the quoting rules, so that line breaks inside cells do not split rows.
std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string cell;
  bool quoted = false;
  std::size_t i = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      row.push_back(cell);
      cell.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row.push_back(cell);
      rows.push_back(row);
      row.clear();
      cell.clear();
      ++i;
    } else {
      cell += c;
    }
  }
  if (!rows.empty()) rows.erase(rows.begin());  // the header
  return rows;
}

struct Account {
  std::vector<std::int64_t> Served;
  int MaxInFlight = -1;
  std::vector<long> Gaps;
};

Account ReadAccount(const fs::path& path) {
  Account account;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    if (line.rfind("# max_in_flight ", 0) == 0) {
      words >> word >> word >> account.MaxInFlight;
    } else if (line.rfind("# record_gaps_ms", 0) == 0) {
      words >> word >> word;
      long gap = 0;
      while (words >> gap) account.Gaps.push_back(gap);
    } else if (!line.empty()) {
      account.Served.push_back(std::stoll(line));
    }
  }
  return account;
}

std::vector<fs::path> FilesLike(const fs::path& dir, const std::string& pattern) {
  std::vector<fs::path> found;
  const std::regex re(pattern);
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (std::regex_match(entry.path().filename().string(), re)) found.push_back(entry.path());
  }
  return found;
}

class CliEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certs_ = fs::temp_directory_path() / ("orgkat-e2e-certs-" + std::to_string(getpid()));
    const std::string command =
        std::string(ORGKAT_SOURCE_DIR) + "/scripts/make-certs " + certs_.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  static void TearDownTestSuite() { fs::remove_all(certs_); }

  void SetUp() override {
    work_ = fs::temp_directory_path() / ("orgkat-e2e-" + std::to_string(getpid()) + "-" +
                                         std::to_string(std::random_device{}()));
    fs::create_directories(work_ / "out");
    for (const char* name : {"01cert.pem", "01key.pem"}) fs::copy_file(certs_ / name, work_ / name);
  }
  void TearDown() override {
    cli_.reset();
    server_.reset();
    if (!HasFailure()) fs::remove_all(work_);
  }

  // Starts the directory and waits for its port.
  void StartServer(std::vector<std::string> extra) {
    std::vector<std::string> argv = {kServer,
                                     "--cert",
                                     (certs_ / "server.pem").string(),
                                     "--key",
                                     (certs_ / "server-key.pem").string(),
                                     "--account",
                                     (work_ / "account.txt").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    server_.emplace(work_, "server", argv);
    ASSERT_TRUE(server_->WaitForOutput("\n", 10s)) << server_->Err();
    const std::regex re("listening on 127\\.0\\.0\\.1:([0-9]+)\n");
    std::smatch match;
    const std::string out = server_->Out();
    ASSERT_TRUE(std::regex_search(out, match, re)) << out;
    port_ = match[1];
  }

  void StartCli(std::vector<std::string> extra = {}, const std::string& timeout = "5") {
    std::vector<std::string> argv = {
        kCli,           "--api-host", "127.0.0.1:" + port_, "--site-host", "localhost",
        "--output-dir", "out",        "--timeout",          timeout,       "--no-open"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    cli_.emplace(work_, "cli", argv);
  }

  Account StopServer() {
    server_->Signal(SIGTERM);
    EXPECT_EQ(server_->Wait(10s), 0) << server_->Err();
    return ReadAccount(work_ / "account.txt");
  }

  // The log file named by the last line, which must equal standard output.
  void ExpectLogFileEqualsOutput() {
    const std::string out = cli_->Out();
    const std::regex re("Работа завершена, лог записан в (.*)\n$");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(out, match, re)) << out;
    const fs::path log = match[1].str();
    EXPECT_EQ(log.parent_path(), fs::canonical(work_ / "out"));
    std::string text = ReadFile(log);
    text = std::regex_replace(text, std::regex("\r\n"), "\n");
    EXPECT_EQ(text, out);
  }

  static inline fs::path certs_;
  fs::path work_;
  std::string port_;
  std::optional<Child> server_;
  std::optional<Child> cli_;
};

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
  ASSERT_GE(account.Gaps.size(), 5u);
  // Dispatches are at least 200 ms apart. The server sees a request only after the worker's
  // connection and TLS set-up, whose time varies from one worker to the next, so single gaps
  // may come out shorter; the median cannot.
  auto gaps = account.Gaps;
  std::sort(gaps.begin(), gaps.end());
  EXPECT_GE(gaps[gaps.size() / 2], 180);
  EXPECT_GE(gaps.front(), 100);
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

TEST_F(CliEndToEnd, AStopDuringTheListRequestEndsTheRunWithStatus130) {
  StartServer({"--count", "5", "--slow-ms", "3000"});
  StartCli();
  ASSERT_TRUE(cli_->WaitForOutput(": Начинаем работу\n", 20s)) << cli_->Err();
  cli_->Signal(SIGINT);
  EXPECT_EQ(cli_->Wait(60s), 130) << cli_->Out() << cli_->Err();
  StopServer();
  EXPECT_NE(cli_->Out().find(": Останавливаем работу\n"), std::string::npos);
  EXPECT_TRUE(FilesLike(work_ / "out", "data.*").empty());
  ExpectLogFileEqualsOutput();
}

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
  cli_->Signal(SIGINT);
  ASSERT_TRUE(cli_->WaitForOutput(": Останавливаем работу\n", 10s));
  cli_->Signal(SIGINT);
  // The slow list answer is 20 s away; the program must not wait for it.
  EXPECT_EQ(cli_->Wait(10s), 130);
  EXPECT_TRUE(FilesLike(work_ / "out", "log.*").empty());
}

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
  EXPECT_EQ(cli_->Wait(60s), 1) << cli_->Out() << cli_->Err();
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

}  // namespace
}  // namespace orgkat
