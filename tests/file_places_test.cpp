// Where the programs look for orgkat.conf and where their output goes, on real directories.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/common/file_places.h"
#include "app/common/options.h"
#include "platform/user_folders.h"
#include "tests/temp_dir.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

class FilePlacesTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(dir_ / "a-file") << "x"; }

  std::string Path(const std::string& relative) const { return (dir_ / relative).string(); }
  static std::string Slash(const std::string& dir) { return dir + "/"; }

  void Touch(const std::string& relative, const std::string& text = "") {
    fs::create_directories((dir_ / relative).parent_path());
    std::ofstream(dir_ / relative) << text;
  }

  TempDir temp_{"orgkat-places"};
  fs::path dir_ = temp_.FsPath();
};

TEST_F(FilePlacesTest, AFileCanBeCreatedOnlyWhereTheSystemLetsOneBeMade) {
  fs::create_directories(dir_ / "plain");
  EXPECT_TRUE(CanCreateFileIn(Path("plain")));
  EXPECT_TRUE(fs::is_empty(dir_ / "plain")) << "the probe must be removed again";
  // Root may write anywhere permission bits allow, so the refusals come from the file system.
  EXPECT_FALSE(CanCreateFileIn(Path("a-file/below")));
  EXPECT_FALSE(CanCreateFileIn(Path("missing")));
  EXPECT_FALSE(CanCreateFileIn("/proc"));
}

TEST_F(FilePlacesTest, FoldersOfInstalledProgramsAreKnownByTheirPlace) {
  for (const char* dir : {"/usr", "/usr/bin/", "/usr/local/bin/", "/bin/", "/sbin", "/opt/x/"}) {
    EXPECT_TRUE(IsInstalledProgramsFolder(dir)) << dir;
  }
  for (const char* dir : {"/usrx/bin/", "/home/u/orgkat/", "/tmp/", "/", "/optional/"}) {
    EXPECT_FALSE(IsInstalledProgramsFolder(dir)) << dir;
  }
  EXPECT_FALSE(IsInstalledProgramsFolder(Path("bin")));
}

TEST_F(FilePlacesTest, OutputGoesBesideTheProgramElseToDocumentsForTheWindowAndHereForTheConsole) {
  fs::create_directories(dir_ / "bin");
  fs::create_directories(dir_ / "cwd");
  fs::create_directories(dir_ / "docs/orgkat");
  fs::create_directories(dir_ / "bare-docs");
  struct Case {
    const char* what;
    FrontEnd frontEnd;
    std::string programDir;
    std::string documents;
    std::optional<std::string> expected;  // nullopt: refused
  } cases[] = {
      {"writable program directory, window", FrontEnd::Window, Path("bin"), Path("docs"),
       Slash(Path("bin"))},
      {"writable program directory, console", FrontEnd::Console, Path("bin"), Path("docs"),
       Slash(Path("bin"))},
      {"program directory below a file, window", FrontEnd::Window, Path("a-file/bin"), Path("docs"),
       Slash(Path("docs/orgkat"))},
      {"program directory in /proc, window", FrontEnd::Window, "/proc/", Path("docs"),
       Slash(Path("docs/orgkat"))},
      {"documents without the subfolder: it is made", FrontEnd::Window, "/proc/", Path("bare-docs"),
       Slash(Path("bare-docs/orgkat"))},
      {"documents folder missing too: both are made", FrontEnd::Window, "/proc/", Path("new-docs"),
       Slash(Path("new-docs/orgkat"))},
      {"no documents folder known: the working directory", FrontEnd::Window, "/proc/", "",
       Slash(Path("cwd"))},
      {"documents folder below a file: refused", FrontEnd::Window, "/proc/", Path("a-file/docs"),
       std::nullopt},
      {"read-only program directory, console", FrontEnd::Console, "/proc/", Path("docs"),
       Slash(Path("cwd"))},
      {"installed in /usr/bin, window (writable for root, yet never used)", FrontEnd::Window,
       "/usr/bin/", Path("docs"), Slash(Path("docs/orgkat"))},
      {"installed in /opt, console", FrontEnd::Console, "/opt/orgkat/", Path("docs"),
       Slash(Path("cwd"))},
      {"console never uses documents", FrontEnd::Console, Path("a-file/bin"), Path("docs"),
       Slash(Path("cwd"))},
  };
  for (const auto& c : cases) {
    const UserFolders folders{c.documents, Path("config"), Path("etc")};
    if (!c.expected) {
      EXPECT_THROW(DefaultOutputDir(c.frontEnd, c.programDir, folders, Path("cwd")),
                   std::runtime_error)
          << c.what;
      continue;
    }
    EXPECT_EQ(DefaultOutputDir(c.frontEnd, c.programDir, folders, Path("cwd")), *c.expected)
        << c.what;
    EXPECT_TRUE(fs::is_directory(*c.expected)) << c.what;
  }
}

TEST_F(FilePlacesTest, TheFirstConfigFileFoundBesideTheProgramTheUserOrTheSystemIsUsed) {
  const UserFolders folders{Path("docs"), Path("config"), Path("etc")};
  const std::string program_dir = Slash(Path("bin"));
  const std::string beside = Path("bin/orgkat.conf");
  const std::string user = Path("config/orgkat/orgkat.conf");
  const std::string system = Path("etc/orgkat/orgkat.conf");
  EXPECT_EQ(ConfigFileCandidates(program_dir, folders),
            (std::vector<std::string>{beside, user, system}));
  struct Case {
    bool beside, user, system;
    std::string expected;
    std::string api_host;
  } cases[] = {
      {false, false, false, "", RunConfig{}.ApiHost}, {false, false, true, system, "system.test"},
      {false, true, true, user, "user.test"},         {true, true, true, beside, "beside.test"},
      {true, false, true, beside, "beside.test"},     {false, true, false, user, "user.test"},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_ / "bin");
    fs::remove_all(dir_ / "config");
    fs::remove_all(dir_ / "etc");
    fs::create_directories(dir_ / "bin");
    if (c.beside) Touch("bin/orgkat.conf", "api_host = beside.test\n");
    if (c.user) Touch("config/orgkat/orgkat.conf", "api_host = user.test\n");
    if (c.system) Touch("etc/orgkat/orgkat.conf", "api_host = system.test\n");
    const auto where = "beside/user/system: " + std::to_string(c.beside) + std::to_string(c.user) +
                       std::to_string(c.system);
    EXPECT_EQ(FindConfigFile(program_dir, folders), c.expected) << where;

    const auto parsed = ParseFrontEndOptions("orgkat-cli", {}, program_dir, folders);
    ASSERT_TRUE(parsed.Options) << where << ": " << parsed.Text;
    EXPECT_EQ(parsed.Options->Config.ApiHost, c.api_host) << where;

    const auto help = ParseFrontEndOptions("orgkat-cli", {"--help"}, program_dir, folders);
    const auto named = c.expected.empty() ? std::string("No configuration file found.")
                                          : "Configuration file in use: " + c.expected;
    EXPECT_NE(help.Text.find(named + "\n"), std::string::npos) << where << ": " << help.Text;
  }
}

TEST_F(FilePlacesTest, FoldersTheSystemLacksAreNotLookedIn) {
  EXPECT_EQ(ConfigFileCandidates("/opt/orgkat/", {Path("docs"), "", ""}),
            std::vector<std::string>{"/opt/orgkat/orgkat.conf"});
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
 public:
  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (const char* old = std::getenv(name.c_str())) {
      saved_.emplace_back(name, std::string(old));
    } else {
      saved_.emplace_back(name, std::nullopt);
    }
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(FilePlacesTest, TheDesktopsFoldersComeFromTheEnvironmentAndUserDirs) {
  const auto home = Path("home");
  struct Case {
    const char* what;
    std::optional<std::string> config_home;
    std::optional<std::string> documents;
    std::string user_dirs;  // written to <config>/user-dirs.dirs when not empty
    std::string expected_config;
    std::string expected_documents;
  } cases[] = {
      {"nothing set", std::nullopt, std::nullopt, "", home + "/.config", home + "/Documents"},
      {"XDG_CONFIG_HOME set", Path("cfg"), std::nullopt, "", Path("cfg"), home + "/Documents"},
      {"a relative XDG_CONFIG_HOME is ignored", "cfg", std::nullopt, "", home + "/.config",
       home + "/Documents"},
      {"user-dirs.dirs with $HOME", std::nullopt, std::nullopt,
       "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n",
       home + "/.config", home + "/Документы"},
      {"user-dirs.dirs with an absolute path", Path("cfg"), std::nullopt,
       "XDG_DOCUMENTS_DIR=\"" + Path("elsewhere/") + "\"\n", Path("cfg"), Path("elsewhere")},
      {"XDG_DOCUMENTS_DIR wins over user-dirs.dirs", std::nullopt, Path("env-docs"),
       "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n", home + "/.config", Path("env-docs")},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_ / "home");
    fs::remove_all(dir_ / "cfg");
    ScopedEnvironment env;
    env.Set("HOME", home);
    env.Set("XDG_CONFIG_HOME", c.config_home);
    env.Set("XDG_DOCUMENTS_DIR", c.documents);
    if (!c.user_dirs.empty()) {
      fs::create_directories(c.expected_config);
      std::ofstream(fs::path(c.expected_config) / "user-dirs.dirs") << c.user_dirs;
    }
    const auto folders = QueryUserFolders();
    EXPECT_EQ(folders.Config, c.expected_config) << c.what;
    EXPECT_EQ(folders.Documents, c.expected_documents) << c.what;
    EXPECT_EQ(folders.SystemConfig, "/etc") << c.what;
  }
}

}  // namespace
}  // namespace orgkat
