// The Windows side of the platform seams, run under Wine: file sharing and exclusive creation,
// the ANSI code page, the tick counter, the locale's timestamps and the program's folder.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_creation.h"
#include "platform/file_reading.h"
#include "platform/program_directory.h"
#include "platform/tick_count.h"
#include "platform/timestamp.h"
#include "platform/win32/utf16.h"
#include "scraper/proxy_file.h"
#include "tests/temp_dir.h"

namespace orgkat {
namespace {

using ::testing::AnyOf;

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (IsOpen()) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Another program opening the file, willing to share it every way.
HANDLE OpenExisting(const std::string& path, DWORD access) {
  return CreateFileW(Utf8ToUtf16(path).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Content(const std::string& path) {
  return ReadFileIfExists(path).value_or("<missing>");
}

class Win32Files : public ::testing::Test {
 protected:
  void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(temp_.FsPath() / PathFromUtf8(name), std::ios::binary) << bytes;
  }

  // A Cyrillic folder name: every path crosses the UTF-16 edge intact or the tests fail.
  TempDir temp_{"orgkat-папка"};
  const std::string dir_ = temp_.Path();
};

TEST_F(Win32Files, OthersMayReadButNotWriteTheFileWhileItIsOpen) {
  OutputFile file = CreateNumberedFile(dir_, "data", 7, ".csv");
  ASSERT_EQ(file.Path(), dir_ + "data7.csv");
  file.WriteAll("abc", 3);
  {
    FileHandle writer(OpenExisting(file.Path(), GENERIC_WRITE));
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  {
    FileHandle reader(OpenExisting(file.Path(), GENERIC_READ));
    ASSERT_TRUE(reader.IsOpen());
    char bytes[8] = {};
    DWORD count = 0;
    ASSERT_TRUE(ReadFile(reader.get(), bytes, sizeof bytes, &count, nullptr));
    EXPECT_EQ(std::string(bytes, count), "abc");
  }
  file.Close();
  FileHandle writer(OpenExisting(dir_ + "data7.csv", GENERIC_WRITE));
  EXPECT_TRUE(writer.IsOpen());
}

TEST_F(Win32Files, AnExistingFileIsNeverReplaced) {
  struct Case {
    const char* what;
    std::vector<std::string> taken;
    std::int32_t number;
    std::string created;
  };
  const Case cases[] = {
      {"free name", {}, 5, "log-5.txt"},
      {"two taken", {"log-15.txt", "log-16.txt"}, 15, "log-17.txt"},
      {"largest number taken", {"log-2147483647.txt"}, 2147483647, "log--2147483648.txt"},
      {"a folder of that name", {"log-40.txt/"}, 40, "log-41.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& name : c.taken) {
      if (name.back() == '/') {
        std::filesystem::create_directory(temp_.FsPath() /
                                          PathFromUtf8(name.substr(0, name.size() - 1)));
      } else {
        Put(name, "keep " + name);
      }
    }
    OutputFile file = CreateNumberedFile(dir_, "log-", c.number, ".txt");
    EXPECT_EQ(file.Path(), dir_ + c.created);
    for (const auto& name : c.taken) {
      EXPECT_TRUE(PathTaken(dir_ + name.substr(0, name.find('/'))));
      if (name.back() != '/') {
        EXPECT_EQ(Content(dir_ + name), "keep " + name);
      }
    }
  }
}

TEST_F(Win32Files, ReadingTellsAMissingFileFromOneThatCannotBeRead) {
  Put("proxy.txt", "a:1");
  EXPECT_EQ(ReadFileIfExists(dir_ + "proxy.txt"), std::optional<std::string>("a:1"));
  EXPECT_EQ(ReadFileIfExists(dir_ + "absent.txt"), std::nullopt);
  EXPECT_EQ(ReadFileIfExists(dir_ + "no-folder\\absent.txt"), std::nullopt);
  EXPECT_THROW(ReadFileIfExists(temp_.Path().substr(0, temp_.Path().size() - 1)),
               std::runtime_error);
}

struct CodePageCase {
  UINT code_page;
  std::string text;   // UTF-8
  std::string bytes;  // in the code page
  bool reversible;
};

// The rows for the ANSI code page of this Wine prefix (1251 under the Russian locale the test
// runner sets, 1252 under an English one).
std::vector<CodePageCase> CasesForThisCodePage(const std::vector<CodePageCase>& all) {
  std::vector<CodePageCase> rows;
  for (const auto& row : all) {
    if (row.code_page == GetACP()) rows.push_back(row);
  }
  return rows;
}

TEST(Win32CodePage, TheLogFileIsWrittenInTheAnsiCodePageWithReplacements) {
  const auto rows = CasesForThisCodePage({
      {1251, "Работа завершена", "\xD0\xE0\xE1\xEE\xF2\xE0 \xE7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE0",
       true},
      {1251, "Ёё №5 €",
       "\xA8\xB8 \xB9"
       "5 \x88",
       true},
      {1251, "x\xE4\xB8\xADy", "x?y", false},  // a character 1251 lacks: the default one
      {1251, "", "", true},
      {1252, "Лог", "???", false},
      {1252, "café €", "caf\xE9 \x80", true},
      {1252, "", "", true},
  });
  if (rows.empty()) GTEST_SKIP() << "no rows for code page " << GetACP();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Utf8ToSystemCodePage(row.text), row.bytes);
    if (row.reversible) {
      EXPECT_EQ(SystemCodePageToUtf8(row.bytes), row.text);
    }
  }
}

TEST(Win32CodePage, AProxyFileWithoutAByteOrderMarkIsReadInTheAnsiCodePage) {
  const auto rows = CasesForThisCodePage({
      {1251, "прокси.рф:3128", "\xEF\xF0\xEE\xEA\xF1\xE8.\xF0\xF4:3128", true},
      {1252, "café:8080", "caf\xE9:8080", true},
  });
  if (rows.empty()) GTEST_SKIP() << "no rows for code page " << GetACP();
  for (const auto& row : rows) {
    EXPECT_EQ(DecodeTextFile(row.bytes), row.text);
    EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBF" + row.text), row.text);
  }
}

TEST(Win32Clock, TheTickCounterIsGetTickCount) {
  const DWORD before = GetTickCount();
  const std::uint32_t now = SystemTicks()->Now();
  const DWORD after = GetTickCount();
  // Unsigned differences stay right across the wrap at 2^32.
  EXPECT_LE(now - before, after - before);
}

std::chrono::system_clock::time_point LocalTime(WORD year, WORD month, WORD day, WORD hour,
                                                WORD minute, WORD second, WORD milliseconds) {
  SYSTEMTIME local{};
  local.wYear = year;
  local.wMonth = month;
  local.wDay = day;
  local.wHour = hour;
  local.wMinute = minute;
  local.wSecond = second;
  local.wMilliseconds = milliseconds;
  SYSTEMTIME utc{};
  FILETIME file_time{};
  EXPECT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
  EXPECT_TRUE(SystemTimeToFileTime(&utc, &file_time));
  const std::int64_t units =
      (static_cast<std::int64_t>(file_time.dwHighDateTime) << 32) | file_time.dwLowDateTime;
  const std::int64_t unix_units = units - 116444736000000000;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>(unix_units)));
}

TEST(Win32Timestamp, ShortDateAndLongTimeOfTheUserLocaleWithTheMidnightRule) {
  struct Case {
    const wchar_t* locale;
    std::chrono::system_clock::time_point when;
    const char* text;
    const char* other_text;  // Windows and Wine differ in the hour's digits of ru-RU
  };
  const Case cases[] = {
      {L"ru-RU", LocalTime(2026, 1, 2, 13, 5, 9, 500), "02.01.2026 13:05:09", ""},
      {L"ru-RU", LocalTime(2026, 1, 2, 0, 0, 0, 999), "02.01.2026", ""},
      {L"ru-RU", LocalTime(2026, 12, 31, 0, 0, 1, 0), "31.12.2026 0:00:01", "31.12.2026 00:00:01"},
      {L"en-US", LocalTime(2026, 1, 2, 13, 5, 9, 500), "1/2/2026 1:05:09 PM", ""},
      {L"en-US", LocalTime(2026, 1, 2, 0, 0, 0, 999), "1/2/2026", ""},
      {L"en-US", LocalTime(2026, 12, 31, 0, 0, 1, 0), "12/31/2026 12:00:01 AM", ""},
  };
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  ASSERT_GT(GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH), 0);
  LoadLocaleConventions();
  int rows = 0;
  for (const Case& c : cases) {
    if (std::wstring(c.locale) != name) continue;
    ++rows;
    EXPECT_THAT(TimestampText(c.when), AnyOf(c.text, c.other_text));
  }
  if (rows == 0) GTEST_SKIP() << "no rows for the user locale " << Utf16ToUtf8(name);
}

TEST(Win32ProgramDirectory, IsTheFolderOfTheRunningProgram) {
  const std::string dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_TRUE(PathTaken(dir + "test_win32_platform.exe"));
}

}  // namespace
}  // namespace orgkat
