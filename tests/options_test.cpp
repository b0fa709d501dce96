#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "app/common/options.h"
#include "platform/file_creation.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

// A fresh program directory per test, removed afterwards.
class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orgkat-options-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
    program_dir_ = dir_.string() + PathSeparator();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteConfig(const std::string& text) { std::ofstream(dir_ / "orgkat.conf") << text; }

  ParseOutcome Parse(std::vector<std::string> args, const std::string& program = "orgkat-cli") {
    return ParseFrontEndOptions(program, args, program_dir_);
  }

  // Parses, expecting success.
  FrontEndOptions Options(std::vector<std::string> args) {
    auto outcome = Parse(std::move(args));
    EXPECT_TRUE(outcome.Options.has_value()) << outcome.Text;
    return outcome.Options.value_or(FrontEndOptions{});
  }

  fs::path dir_;
  std::string program_dir_;
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
  };
  for (const auto& c : cases) {
    WriteConfig(c.text);
    const auto outcome = Parse({});
    EXPECT_FALSE(outcome.Options) << c.text;
    EXPECT_EQ(outcome.ExitStatus, 2) << c.text;
    EXPECT_NE(outcome.Text.find(c.where), std::string::npos) << c.text << " -> " << outcome.Text;
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

TEST_F(OptionsTest, LimitIsAnyIntegerIncludingZeroAndBelow) {
  EXPECT_EQ(Options({"--limit", "1"}).Limit, 1);
  EXPECT_EQ(Options({"--limit", "0"}).Limit, 0);
  EXPECT_EQ(Options({"--limit=-3"}).Limit, -3);
  for (const char* bad : {"x", "2.5", "", "99999999999"}) {
    const auto outcome = Parse({"--limit", bad});
    EXPECT_FALSE(outcome.Options) << bad;
    EXPECT_EQ(outcome.ExitStatus, 2) << bad;
  }
}

TEST_F(OptionsTest, TimeoutIsAPositiveNumberOfSeconds) {
  EXPECT_EQ(Options({"--timeout", "2.5"}).Config.HttpTimeout, std::chrono::milliseconds(2500));
  EXPECT_EQ(Options({"--timeout", "3"}).Config.HttpTimeout, std::chrono::seconds(3));
  for (const char* bad : {"0", "-1", "abc", "nan", "inf", "1e300"}) {
    const auto outcome = Parse({"--timeout", bad});
    EXPECT_FALSE(outcome.Options) << bad;
    EXPECT_EQ(outcome.ExitStatus, 2) << bad;
  }
}

TEST_F(OptionsTest, HostsOnTheCommandLineAreOneWordWithoutAPath) {
  for (const char* bad : {"", "a b.test", "a.test/x", "a.test\r\nX: y"}) {
    for (const char* option : {"--api-host", "--site-host"}) {
      const auto outcome = Parse({option, bad});
      EXPECT_FALSE(outcome.Options) << option << " '" << bad << "'";
      EXPECT_EQ(outcome.ExitStatus, 2);
      EXPECT_NE(outcome.Text.find(option), std::string::npos) << outcome.Text;
    }
  }
}

TEST_F(OptionsTest, ProxyFileIsMadeAbsolute) {
  const auto cwd = fs::current_path();
  fs::current_path(dir_);
  const auto outcome = Parse({"--proxy-file", "p/proxy.txt"});
  fs::current_path(cwd);
  ASSERT_TRUE(outcome.Options);
  EXPECT_EQ(outcome.Options->Config.ProxyFile, program_dir_ + "p" + PathSeparator() + "proxy.txt");
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

  const auto version = Parse({"--version"});
  EXPECT_EQ(version.ExitStatus, 0);
  EXPECT_NE(version.Text.find("orgkat-cli "), std::string::npos) << version.Text;

  const auto unknown = Parse({"--frobnicate"});
  EXPECT_FALSE(unknown.Options);
  EXPECT_EQ(unknown.ExitStatus, 2);
  EXPECT_NE(unknown.Text.find("frobnicate"), std::string::npos) << unknown.Text;
}

}  // namespace
}  // namespace orgkat
