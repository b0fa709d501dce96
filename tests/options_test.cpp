#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "app/common/interrupted_run.h"
#include "app/common/options.h"
#include "platform/file_creation.h"
#include "tests/run_texts.h"
#include "tests/temp_dir.h"

namespace orgkat {
namespace {

// A queue that holds just these URLs.
TUrlQueue Queued(std::deque<std::string> urls) {
  TUrlQueue queue;
  queue.Assign(std::move(urls));
  return queue;
}

namespace fs = std::filesystem;

// A fresh program directory per test, removed afterwards.
class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The user's and the system's folders live in the test's directory too, so nothing on the
    // machine running the tests takes part.
    folders_ = {(dir_ / "documents").string(), (dir_ / "config").string(), (dir_ / "etc").string()};
  }

  void WriteConfig(const std::string& text) { std::ofstream(dir_ / "orgkat.conf") << text; }

  ParseOutcome Parse(std::vector<std::string> args, const std::string& program = "orgkat-cli") {
    return ParseFrontEndOptions(program, args, program_dir_, folders_);
  }

  // Parses, expecting success.
  FrontEndOptions Options(std::vector<std::string> args) {
    auto outcome = Parse(std::move(args));
    EXPECT_TRUE(outcome.Options.has_value()) << outcome.Text;
    return outcome.Options.value_or(FrontEndOptions{});
  }

  TempDir temp_{"orgkat-options"};
  fs::path dir_ = temp_.FsPath();
  std::string program_dir_ = temp_.Path();
  UserFolders folders_;
};

TEST_F(OptionsTest, WithoutArgumentsTheBuiltInValuesAndTheProgramDirectoryApply) {
  const auto options = Options({});
  const RunConfig defaults;
  EXPECT_EQ(options.Config.ApiHost, defaults.ApiHost);
  EXPECT_EQ(options.Config.SiteHost, defaults.SiteHost);
  EXPECT_EQ(options.Config.OutputDir, program_dir_);
  EXPECT_EQ(options.Config.ProxyFile, program_dir_ + "proxy.txt");
  EXPECT_EQ(options.Config.HttpTimeout, std::chrono::seconds(120));
  EXPECT_EQ(options.Limit, 5);
  EXPECT_FALSE(options.NoOpen);
}

TEST_F(OptionsTest, TheConfigFileOverridesDefaultsAndTheCommandLineOverridesBoth) {
  WriteConfig(
      "# mirror\n\napi_host = api.mirror.test:8443\n  site_host=site.mirror.test  # ours\n");
  auto options = Options({});
  EXPECT_EQ(options.Config.ApiHost, "api.mirror.test:8443");
  EXPECT_EQ(options.Config.SiteHost, "site.mirror.test");

  options = Options({"--api-host", "127.0.0.1:4443"});
  EXPECT_EQ(options.Config.ApiHost, "127.0.0.1:4443");
  EXPECT_EQ(options.Config.SiteHost, "site.mirror.test");

  options = Options({"--site-host=localhost", "--api-host=a.test"});
  EXPECT_EQ(options.Config.ApiHost, "a.test");
  EXPECT_EQ(options.Config.SiteHost, "localhost");
}

TEST_F(OptionsTest, ALaterConfigLineForTheSameKeyWins) {
  WriteConfig("api_host = first.test\napi_host = second.test\n");
  EXPECT_EQ(Options({}).Config.ApiHost, "second.test");
}

TEST_F(OptionsTest, ConfigFileErrorsNameTheFileAndTheLine) {
  const std::string file = (dir_ / "orgkat.conf").string();
  struct Case {
    std::string text;
    std::string where;
  } cases[] = {
      {"# hosts\napi_hots = x.test\n", file + ":2:"},
      {"api_host = a.test\n\nsite_host a.test\n", file + ":3:"},
      {"site_host = \n", file + ":1:"},
      {"api_host = a test\n", file + ":1:"},
      {"api_host = a.test/path\n", file + ":1:"},
      {"= a.test\n", file + ":1:"},
      {"site_host = b.test:70000\n", file + ":1:"},
  };
  for (const auto& c : cases) {
    WriteConfig(c.text);
    const auto outcome = Parse({});
    EXPECT_FALSE(outcome.Options) << c.text;
    EXPECT_EQ(outcome.ExitStatus, 2) << c.text;
    EXPECT_NE(outcome.Text.find(c.where), std::string::npos) << c.text << " -> " << outcome.Text;
  }
}

TEST_F(OptionsTest, AConfigFileMayStartWithAByteOrderMark) {
  WriteConfig(
      "\xEF\xBB\xBF"
      "api_host = bom.test\n");
  EXPECT_EQ(Options({}).Config.ApiHost, "bom.test");
}

TEST_F(OptionsTest, AConfigPathThatIsNotARegularFileIsAnErrorNamingIt) {
  fs::create_directories(dir_ / "orgkat.conf");
  const auto outcome = Parse({});
  EXPECT_FALSE(outcome.Options);
  EXPECT_EQ(outcome.ExitStatus, 2);
  EXPECT_NE(outcome.Text.find((dir_ / "orgkat.conf").string() + ": is not a regular file"),
            std::string::npos)
      << outcome.Text;
}

// Each row: the proxy file's content (nothing: no file), whether --proxy-file names it, and the
// error or the notice expected (empty: neither).
TEST_F(OptionsTest, TheProxyFileIsCheckedBeforeTheRun) {
  struct Case {
    std::optional<std::string> content;
    bool named;
    std::string error;
    std::string notice;
  } cases[] = {
      {std::nullopt, false, "", ""},
      {std::nullopt, true, "does not exist", ""},
      {"", true, "", ""},
      {"127.0.0.1:3128\r\nanything\n", true, "", ""},
      {"127.0.0.1:99999\n", false, "is not a number from 1 to 65535", ""},
      {"proxy.test:0\n", true, "is not a number from 1 to 65535", ""},
      {"proxy.test\n", false, "", "does not give HOST:PORT"},
      {":3128\n", true, "", "does not give HOST:PORT"},
      {"proxy.test:\n", true, "the port '' is not a number from 1 to 65535", ""},
  };
  const auto path = dir_ / "proxy.txt";
  for (const auto& c : cases) {
    fs::remove(path);
    if (c.content) std::ofstream(path, std::ios::binary) << *c.content;
    std::vector<std::string> args;
    if (c.named) args = {"--proxy-file", path.string()};
    const auto outcome = Parse(args);
    const auto label = c.content.value_or("(no file)") + (c.named ? " named" : " default");
    if (!c.error.empty()) {
      EXPECT_FALSE(outcome.Options) << label;
      EXPECT_EQ(outcome.ExitStatus, 2) << label;
      EXPECT_NE(outcome.Text.find(c.error), std::string::npos) << label << ": " << outcome.Text;
      continue;
    }
    ASSERT_TRUE(outcome.Options) << label << ": " << outcome.Text;
    if (c.notice.empty()) {
      EXPECT_TRUE(outcome.Options->Notices.empty()) << label;
    } else {
      ASSERT_EQ(outcome.Options->Notices.size(), 1u) << label;
      EXPECT_NE(outcome.Options->Notices[0].Console.find(c.notice), std::string::npos)
          << label << ": " << outcome.Options->Notices[0].Console;
      EXPECT_NE(outcome.Options->Notices[0].Window.find("прокси"), std::string::npos) << label;
    }
  }
}

TEST_F(OptionsTest, TheOutputDirectoryIsMadeAbsoluteWithATrailingSlash) {
  fs::create_directories(dir_ / "out");
  const auto cwd = fs::current_path();
  fs::current_path(dir_);
  const auto relative = Parse({"--output-dir", "out"});
  const auto dotted = Parse({"--output-dir", "./out/../out/"});
  fs::current_path(cwd);
  ASSERT_TRUE(relative.Options) << relative.Text;
  ASSERT_TRUE(dotted.Options) << dotted.Text;
  EXPECT_EQ(relative.Options->Config.OutputDir, program_dir_ + "out" + PathSeparator());
  EXPECT_EQ(dotted.Options->Config.OutputDir, program_dir_ + "out" + PathSeparator());

  // orgkat.conf's output_dir, relative to the file's folder, unless the command line names one.
  fs::create_directories(dir_ / "other");
  WriteConfig("output_dir = out\n");
  EXPECT_EQ(Options({}).Config.OutputDir, program_dir_ + "out" + PathSeparator());
  EXPECT_EQ(Options({"--output-dir", (dir_ / "other").string()}).Config.OutputDir,
            program_dir_ + "other" + PathSeparator());
  WriteConfig("output_dir = missing\n");
  const auto missing = Parse({});
  EXPECT_EQ(missing.ExitStatus, 2);
  EXPECT_NE(missing.Text.find("orgkat.conf: output_dir"), std::string::npos) << missing.Text;
}

TEST_F(OptionsTest, AnOutputDirectoryThatIsMissingOrAFileIsRefused) {
  std::ofstream(dir_ / "plain") << "x";
  for (const std::string& bad : {(dir_ / "missing").string(), (dir_ / "plain").string()}) {
    const auto outcome = Parse({"--output-dir", bad});
    EXPECT_FALSE(outcome.Options);
    EXPECT_EQ(outcome.ExitStatus, 2);
    EXPECT_NE(outcome.Text.find("--output-dir"), std::string::npos) << outcome.Text;
    EXPECT_NE(outcome.Text.find(bad), std::string::npos) << outcome.Text;
  }
}

TEST_F(OptionsTest, LimitIsAWholeNumberOfOneOrMore) {
  EXPECT_EQ(Options({"--limit", "1"}).Limit, 1);
  EXPECT_EQ(Options({"--limit", "40"}).Limit, 40);
  // With none allowed at once a run would wait for ever.
  for (const char* bad : {"x", "2.5", "", "99999999999", "0", "-3"}) {
    const auto outcome = Parse({"--limit", bad});
    EXPECT_FALSE(outcome.Options) << bad;
    EXPECT_EQ(outcome.ExitStatus, 2) << bad;
  }
}

TEST_F(OptionsTest, TimeoutAndRequestLimitArePositiveNumbersOfSeconds) {
  EXPECT_EQ(Options({"--timeout", "2.5"}).Config.HttpTimeout, std::chrono::milliseconds(2500));
  EXPECT_EQ(Options({"--timeout", "3"}).Config.HttpTimeout, std::chrono::seconds(3));
  EXPECT_EQ(Options({}).Config.HttpRequestLimit, std::chrono::milliseconds(0));
  EXPECT_EQ(Options({"--request-limit", "0.5"}).Config.HttpRequestLimit,
            std::chrono::milliseconds(500));
  EXPECT_EQ(Options({"--request-limit", "3000000"}).Config.HttpRequestLimit,
            std::chrono::seconds(3000000));
  for (const char* option : {"--timeout", "--request-limit"}) {
    for (const char* bad : {"0", "-1", "abc", "nan", "inf", "1e300"}) {
      const auto outcome = Parse({option, bad});
      EXPECT_FALSE(outcome.Options) << option << " " << bad;
      EXPECT_EQ(outcome.ExitStatus, 2) << option << " " << bad;
    }
  }
}

TEST_F(OptionsTest, HostsOnTheCommandLineAreOneWordWithoutAPathAndWithAUsablePort) {
  EXPECT_EQ(Options({"--api-host", "a.test:1", "--site-host", "b.test:65535"}).Config.ApiHost,
            "a.test:1");
  for (const char* bad : {"", "a b.test", "a.test/x", "a.test\r\nX: y", "a.test:99999", "a.test:0",
                          "a.test:", "a.test:http", ":443", "a.test:-1"}) {
    for (const char* option : {"--api-host", "--site-host"}) {
      const auto outcome = Parse({option, bad});
      EXPECT_FALSE(outcome.Options) << option << " '" << bad << "'";
      EXPECT_EQ(outcome.ExitStatus, 2);
      EXPECT_NE(outcome.Text.find(option), std::string::npos) << outcome.Text;
    }
  }
}

TEST_F(OptionsTest, ProxyFileIsMadeAbsolute) {
  fs::create_directories(dir_ / "p");
  std::ofstream(dir_ / "p" / "proxy.txt") << "127.0.0.1:3128\n";
  const auto cwd = fs::current_path();
  fs::current_path(dir_);
  const auto outcome = Parse({"--proxy-file", "p/proxy.txt"});
  fs::current_path(cwd);
  ASSERT_TRUE(outcome.Options);
  EXPECT_EQ(outcome.Options->Config.ProxyFile, program_dir_ + "p" + PathSeparator() + "proxy.txt");
}

TEST_F(OptionsTest, TheCertificateFolderComesFromTheCommandLineElseTheConfigFileElseTheWorkingDir) {
  fs::create_directories(dir_ / "certs");
  fs::create_directories(dir_ / "other");
  const auto cwd = fs::current_path();
  fs::current_path(dir_);
  struct Case {
    const char* what;
    std::string config;
    std::vector<std::string> args;
    std::string expected;  // RunConfig::CertDir: empty means the working directory
  } cases[] = {
      {"nothing named", "", {}, ""},
      {"relative --cert-dir, made absolute",
       "",
       {"--cert-dir", "other"},
       program_dir_ + "other" + PathSeparator()},
      {"cert_dir relative to the file's folder",
       "cert_dir = certs\n",
       {},
       program_dir_ + "certs" + PathSeparator()},
      {"absolute cert_dir",
       "cert_dir = " + (dir_ / "other").string() + "\n",
       {},
       program_dir_ + "other" + PathSeparator()},
      {"the command line wins",
       "cert_dir = certs\n",
       {"--cert-dir=other"},
       program_dir_ + "other" + PathSeparator()},
  };
  for (const auto& c : cases) {
    WriteConfig(c.config);
    const auto outcome = Parse(c.args);
    ASSERT_TRUE(outcome.Options) << c.what << ": " << outcome.Text;
    EXPECT_EQ(outcome.Options->Config.CertDir, c.expected) << c.what;
  }
  for (const auto& config : {std::string("cert_dir = missing\n"), std::string("cert_dir =\n")}) {
    WriteConfig(config);
    const auto outcome = Parse({});
    EXPECT_EQ(outcome.ExitStatus, 2) << config;
    EXPECT_NE(outcome.Text.find("cert_dir"), std::string::npos) << outcome.Text;
  }
  WriteConfig("");
  const auto missing = Parse({"--cert-dir", "missing"});
  fs::current_path(cwd);
  EXPECT_EQ(missing.ExitStatus, 2);
  EXPECT_NE(missing.Text.find("--cert-dir"), std::string::npos) << missing.Text;
}

TEST_F(OptionsTest, NoOpenBelongsToTheConsoleProgramOnly) {
  EXPECT_TRUE(Options({"--no-open"}).NoOpen);
  const auto window = Parse({"--no-open"}, "orgkat");
  EXPECT_FALSE(window.Options);
  EXPECT_EQ(window.ExitStatus, 2);
}

TEST_F(OptionsTest, HelpAndVersionEndWithStatusZeroAndUnknownOptionsWithTwo) {
  WriteConfig("bogus\n");  // help must not depend on a usable configuration
  const auto help = Parse({"--help"});
  EXPECT_FALSE(help.Options);
  EXPECT_EQ(help.ExitStatus, 0);
  EXPECT_NE(help.Text.find("--api-host"), std::string::npos);
  EXPECT_NE(help.Text.find("--no-open"), std::string::npos);
  for (const char* wanted : {"--limit N=5", "--timeout SECONDS=120", "api.orgkat.example",
                             "orgkat.example", "01cert.pem", "01key.pem", "orgkat.conf", "SIGUSR1",
                             "key p", "key s", "Exit status:", "  3 "}) {
    EXPECT_NE(help.Text.find(wanted), std::string::npos) << wanted;
  }
  EXPECT_EQ(help.Text.find('%'), std::string::npos) << help.Text;

  const auto version = Parse({"--version"});
  EXPECT_EQ(version.ExitStatus, 0);
  EXPECT_NE(version.Text.find("orgkat-cli "), std::string::npos) << version.Text;

  const auto unknown = Parse({"--frobnicate"});
  EXPECT_FALSE(unknown.Options);
  EXPECT_EQ(unknown.ExitStatus, 2);
  EXPECT_NE(unknown.Text.find("frobnicate"), std::string::npos) << unknown.Text;
}

// The command line alone looks at no file: folders that are missing are no error yet, and comparing
// reads no other option.
TEST(CommandLineTest, ParsingLooksAtNoFile) {
  const auto parsed = ParseCommandLine(
      "orgkat-cli", {"--output-dir", "/missing/out", "--cert-dir=missing", "--continue"},
      "/program/", "the configuration's place\n");
  ASSERT_TRUE(parsed.Given) << parsed.Ended.Text;
  EXPECT_EQ(parsed.Given->OutputDir, "/missing/out");
  const auto compare = ParseCommandLine(
      "orgkat-cli", {"--compare", "a.csv", "b.csv", "--limit", "0"}, "/program/", "");
  ASSERT_TRUE(compare.Given) << compare.Ended.Text;
  const auto help = ParseCommandLine("orgkat", {"--help"}, "/program/", "the place\n");
  EXPECT_NE(help.Ended.Text.find("\nthe place\n"), std::string::npos) << help.Ended.Text;
}

}  // namespace
}  // namespace orgkat

namespace orgkat {
namespace {

TEST_F(OptionsTest, ContinueChecksTheJournalBeforeTheRunInBothPrograms) {
  const fs::path runs = dir_ / "runs";
  fs::create_directories(runs);
  const std::string csv = (runs / "data3.csv").string();
  const std::string head = "\xEF\xBB\xBFH\r\n";
  std::ofstream(csv, std::ios::binary) << head << "r\r\n";
  TRunJournal journal;
  journal.Begin(SystemTicks(), csv, head.size(), "L", Queued({"a", "b"}));
  journal.RowWritten("a", head.size() + 3);
  journal.Close();

  for (const std::string program : {"orgkat-cli", "orgkat"}) {
    SCOPED_TRACE(program);
    auto outcome = Parse({"--continue", csv}, program);
    ASSERT_TRUE(outcome.Options) << outcome.Text;
    const auto& plan = outcome.Options->Config.Continuation;
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->Remaining, std::vector<std::string>{"b"});
    // The log goes beside the result file unless an output folder is named.
    EXPECT_EQ(outcome.Options->Config.OutputDir, runs.string() + PathSeparator());
    outcome = Parse({"--continue", csv, "--output-dir", dir_.string()}, program);
    ASSERT_TRUE(outcome.Options) << outcome.Text;
    EXPECT_EQ(outcome.Options->Config.OutputDir, program_dir_);
  }
  EXPECT_FALSE(Options({}).Config.Continuation);

  const fs::path other = runs / "data4.csv";
  std::ofstream(other, std::ios::binary) << head;
  const auto refused = Parse({"--continue", other.string()});
  EXPECT_EQ(refused.ExitStatus, 2);
  EXPECT_TRUE(refused.OnStandardError);
  EXPECT_NE(refused.Text.find("has no journal"), std::string::npos) << refused.Text;

  TRunJournal finished;
  finished.Begin(SystemTicks(), other.string(), head.size(), "L", Queued({}));
  finished.Close();
  const auto done = Parse({"--continue", other.string()});
  EXPECT_FALSE(done.Options);
  EXPECT_EQ(done.ExitStatus, 0);
  EXPECT_TRUE(done.OnStandardError);
  EXPECT_NE(done.Text.find("nothing remains"), std::string::npos) << done.Text;

  // Without FILE: the newest run of the output folder, when it is interrupted. The two journals
  // were written within moments, closer than some file systems tell times apart.
  fs::last_write_time(other.string() + ".journal",
                      fs::last_write_time(csv + ".journal") + std::chrono::hours(1));
  const auto newest = Parse({"--continue", "--output-dir", runs.string()});
  EXPECT_EQ(newest.ExitStatus, 2) << "data4 went to its end after data3 was interrupted";
  EXPECT_NE(newest.Text.find("no interrupted run in " + runs.string()), std::string::npos)
      << newest.Text;
  fs::last_write_time(other.string() + ".journal",
                      fs::last_write_time(csv + ".journal") - std::chrono::hours(1));
  for (const std::string program : {"orgkat-cli", "orgkat"}) {
    const auto found = Parse({"--continue", "--output-dir", runs.string()}, program);
    ASSERT_TRUE(found.Options) << found.Text;
    ASSERT_TRUE(found.Options->Config.Continuation);
    EXPECT_EQ(found.Options->Config.Continuation->CsvPath, csv);
  }
  const auto interrupted = FindInterruptedRun(runs.string());
  ASSERT_TRUE(interrupted);
  const auto question = ContinueQuestion(*interrupted);
  EXPECT_TRUE(question.starts_with("Найден незавершённый сбор от ")) << question;
  EXPECT_TRUE(question.ends_with(" (собрано 1 из 2). Продолжить его?")) << question;
}

TEST_F(OptionsTest, CompareWritesTheReportOfTwoRunsOrSaysWhyNotWithItsExitStatus) {
  const std::vector<std::string> a = {"Школа", "a@x.ru", "Ким"};
  const std::vector<std::string> b = {"Школа", "b@x.ru", "Ким"};
  // data1..data5: the files each case compares; OLD has no journal in data4's case.
  const auto write = [&](test::TestRun run, const std::string& name, bool journal = true) {
    run.Name = name;
    std::ofstream(dir_ / name, std::ios::binary) << run.Csv();
    if (journal) std::ofstream(dir_ / (name + ".journal"), std::ios::binary) << run.Journal();
    return (dir_ / name).string();
  };
  const auto one = write({.Rows = {{"u1", a}}}, "data1.csv");
  const auto two = write({.Rows = {{"u1", b}}}, "data2.csv");
  const auto other = write({.List = "M", .Rows = {{"u1", a}}}, "data3.csv");
  const auto bare = write({.Rows = {{"u1", a}}}, "data4.csv", false);
  const auto misnamed = write({.Rows = {{"u1", a}}}, "data5.csv");
  fs::rename(misnamed, dir_ / "data6.csv");
  fs::rename(misnamed + ".journal", dir_ / "data6.csv.journal");
  const struct {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string text;
    const char* program = "orgkat-cli";
  } cases[] = {
      {"two runs of one list", {"--compare", one, two}, 0, "1 изменились — changes2.csv\n"},
      {"OLD is missing", {"--compare", (dir_ / "none.csv").string(), two}, 2, "no such file"},
      {"NEW has no journal", {"--compare", one, bare}, 2, "has no journal"},
      {"a journal of another file",
       {"--compare", one, (dir_ / "data6.csv").string()},
       2,
       "the journal belongs to data5.csv; no report written"},
      {"runs of different lists", {"--compare", one, other}, 2, "different lists: L and M"},
      {"one file only", {"--compare", one}, 2, "--compare"},
      {"the window does not compare", {"--compare", one, two}, 2, "--compare", "orgkat"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto outcome = Parse(c.args, c.program);
    EXPECT_FALSE(outcome.Options);
    EXPECT_EQ(outcome.ExitStatus, c.status);
    // Standard output only for the sentence of a comparison made.
    EXPECT_EQ(outcome.ExitStatus == 0 && !outcome.OnStandardError, c.status == 0);
    EXPECT_NE(outcome.Text.find(c.text), std::string::npos) << outcome.Text;
  }
  EXPECT_TRUE(fs::exists(dir_ / "changes2.csv"));
}

}  // namespace
}  // namespace orgkat
