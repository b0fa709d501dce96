// Real orgkat-cli and demo-directory processes on 127.0.0.1, for the end-to-end suites.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/wait_until.h"

namespace orgkat::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline const std::string kCli = std::string(ORGKAT_BINARY_DIR) + "/app/cli/orgkat-cli";
inline const std::string kServer =
    std::string(ORGKAT_BINARY_DIR) + "/tools/demo-directory/orgkat-demo-directory";

inline std::string ReadFile(const fs::path& path) {
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
    // Emptied before the fork: a child of the same name before this one must not be read as this
    // one's output while the new child has yet to open its files.
    std::ofstream(out_, std::ios::trunc);
    std::ofstream(err_, std::ios::trunc);
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
  // To the program's main thread alone (its thread id is the process id): signals pending there
  // are taken in the order of their numbers.
  void SignalMainThread(int sig) const { tgkill(pid_, pid_, sig); }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }

  // The exit status, or -1 when the time ran out (the child is then killed).
  int Wait(std::chrono::milliseconds limit) {
    if (!WaitUntil([&] { return Reaped(); }, limit, 20ms)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      status_ = -1;
    }
    return *status_;
  }

  // Waits until standard output holds the text; false when the time ran out or the child ended.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto shown = [&] { return Out().find(text) != std::string::npos; };
    WaitUntil([&] { return shown() || Reaped(); }, limit, 20ms);
    return shown();
  }

 private:
  // True once the child has ended; its status is then kept.
  bool Reaped() {
    int raw = 0;
    if (!status_ && waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    return status_.has_value();
  }

  fs::path out_;
  fs::path err_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// The rows of the result file (after the byte-order mark and the header): the cells of each row,
// read with the quoting rules, so that line breaks inside cells do not split rows.
inline std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
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

inline Account ReadAccount(const fs::path& path) {
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

inline std::vector<fs::path> FilesLike(const fs::path& dir, const std::string& pattern) {
  std::vector<fs::path> found;
  const std::regex re(pattern);
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (std::regex_match(entry.path().filename().string(), re)) found.push_back(entry.path());
  }
  return found;
}

// A demo directory and orgkat-cli as child processes in a fresh working folder with the client
// certificate.
class DemoRun : public ::testing::Test {
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

  // The result file announced by the run on standard output.
  fs::path AnnouncedCsv() const {
    const std::regex re("Данные будут записываться в файл (.*)\n");
    std::smatch match;
    const std::string out = cli_->Out();
    if (!std::regex_search(out, match, re)) return {};
    return match[1].str();
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

}  // namespace orgkat::test
