#include "scraper/result_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_creation.h"
#include "scraper/record_row.h"
#include "tests/temp_dir.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/error_text.h"
#endif

namespace orgkat {
namespace {

using ::testing::HasSubstr;

// The system's own text for a missing folder; Windows words it in the system's language.
std::string NoSuchFolderText() {
#ifdef _WIN32
  return SystemErrorText(ERROR_PATH_NOT_FOUND);
#else
  return "No such file or directory";
#endif
}

const std::string kHeaderLine =
    "\xEF\xBB\xBF\"Название\";\"Полное название\";\"Округ\";\"Адрес\";\"Телефон\";\"E-mail\";"
    "\"Сайт\";\"Руководитель\";\"Телефон руководителя\";\"Email руководителя\"\r\n";

std::string ReadAll(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(PathFromUtf8(path));
}

class ResultFileTest : public ::testing::Test {
 protected:
  LogSink Log() {
    return [this](const std::string& line) { log_.push_back(line); };
  }

  TempDir temp_{"orgkat-text"};
  const std::string dir_ = temp_.Path();
  std::vector<std::string> log_;
};

TEST_F(ResultFileTest, StartsWithTheByteOrderMarkAndHeaderAndEndsEveryRowWithCrLf) {
  TResultFile file;
  file.OpenResultFile(dir_, 1234, Log());
  EXPECT_EQ(file.Path(), dir_ + "data1234.csv");
  EXPECT_EQ(ReadAll(file.Path()), kHeaderLine);

  std::string lastDirector;
  WriteRecordRow(R"({"list": {"title": "A", "director": "Д"}})", file, lastDirector);
  const std::string longTitle(3000, 'x');
  WriteRecordRow(R"({"list": {"title": ")" + longTitle + "\"}}", file, lastDirector);
  file.CloseResultFile();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(ReadAll(dir_ + "data1234.csv"), kHeaderLine + R"("A";"";"";"";" ";"";"";"Д";" ";"")" +
                                                "\r\n\"" + longTitle +
                                                R"(";"";"";"";" ";"";"";"";" ";"")" + "\r\n");
  file.CloseResultFile();
}

TEST_F(ResultFileTest, AnnouncesTheFullPathBeforeTheFileExists) {
  const std::string path = dir_ + "data77.csv";
  bool existedWhenAnnounced = true;
  TResultFile file;
  file.OpenResultFile(dir_.substr(0, dir_.size() - 1), 77, [&](const std::string& line) {
    existedWhenAnnounced = Exists(path);
    log_.push_back(line);
  });
  EXPECT_FALSE(existedWhenAnnounced);
  EXPECT_EQ(log_, std::vector<std::string>{"Данные будут записываться в файл " + path});
  EXPECT_EQ(file.Path(), path);
}

TEST_F(ResultFileTest, NamesTheFileFromTheTickCountAsASigned32BitNumber) {
  struct Case {
    std::uint32_t ticks;
    const char* name;
  };
  for (const Case c : {Case{0xFFFFFFFFu, "data-1.csv"}, Case{0x80000000u, "data-2147483648.csv"},
                       Case{0x7FFFFFFFu, "data2147483647.csv"}, Case{0, "data0.csv"}}) {
    TResultFile file;
    file.OpenResultFile(dir_, c.ticks, Log());
    EXPECT_EQ(file.Path(), dir_ + c.name);
  }
}

TEST_F(ResultFileTest, NeverReplacesAnExistingFileButStepsTheNumberUp) {
  std::ofstream(dir_ + "data-1.csv") << "keep me";
  std::ofstream(dir_ + "data0.csv") << "and me";
  TResultFile file;
  file.OpenResultFile(dir_, 0xFFFFFFFFu, Log());
  EXPECT_EQ(file.Path(), dir_ + "data1.csv");
  EXPECT_EQ(log_,
            std::vector<std::string>{"Данные будут записываться в файл " + dir_ + "data1.csv"});
  EXPECT_EQ(ReadAll(dir_ + "data-1.csv"), "keep me");
  EXPECT_EQ(ReadAll(dir_ + "data0.csv"), "and me");
  EXPECT_EQ(ReadAll(dir_ + "data1.csv"), kHeaderLine);
}

TEST_F(ResultFileTest, CreateNumberedFileStepsPastTakenNamesAndTheLargestNumber) {
  std::ofstream(dir_ + "log-2147483647.txt") << "";
  const OutputFile created = CreateNumberedFile(dir_, "log-", 2147483647, ".txt");
  EXPECT_EQ(created.Path(), dir_ + "log--2147483648.txt");
  EXPECT_TRUE(created.IsOpen());
}

TEST_F(ResultFileTest, ReportsAFileThatCannotBeCreatedAfterAnnouncingIt) {
  const std::string missing = dir_ + "no-such-dir" + PathSeparator();
  TResultFile file;
  try {
    file.OpenResultFile(missing, 5, Log());
    FAIL() << "a file in a missing directory was created";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(
        error.what(),
        ("Cannot create file \"" + missing + "data5.csv\". " + NoSuchFolderText()).c_str());
  }
  EXPECT_EQ(log_,
            std::vector<std::string>{"Данные будут записываться в файл " + missing + "data5.csv"});
  EXPECT_FALSE(file.IsOpen());
  file.CloseResultFile();
}

}  // namespace
}  // namespace orgkat
