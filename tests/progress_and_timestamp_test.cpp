// What every front end shows: the progress numbers and the timestamp of a log line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/progress_model.h"
#include "platform/timestamp.h"
#include "scraper/progress_hint.h"

namespace orgkat {
namespace {

struct ProgressCase {
  const char* what;
  std::int32_t max;
  std::int32_t position;
  std::int32_t shownMax;
  std::int32_t shownPosition;
  const char* hint;
};

TEST(ProgressModelTest, ClampsAsTheBarDoes) {
  const ProgressCase cases[] = {
      {"an ordinary step", 300, 12, 300, 12, "12 из 300, осталось 288"},
      {"an empty phase shows an empty bar", 0, 0, 0, 0, "0 из 0, осталось 0"},
      {"a position past the maximum fills the bar", 5, 9, 5, 5, "5 из 5, осталось 0"},
      {"a negative position shows as zero", 5, -3, 5, 0, "0 из 5, осталось 5"},
      {"a negative maximum is raised to zero", -4, 2, 0, 0, "0 из 0, осталось 0"},
  };
  for (const auto& c : cases) {
    ProgressModel model;
    model.SetMax(c.max);
    model.SetPosition(c.position);
    EXPECT_EQ(model.Max(), c.shownMax) << c.what;
    EXPECT_EQ(model.Position(), c.shownPosition) << c.what;
    EXPECT_EQ(ProgressHintText(model.Position(), model.Max()), c.hint) << c.what;
  }
}

TEST(ProgressModelTest, LoweringTheMaximumPullsThePositionDown) {
  ProgressModel model;
  model.SetMax(10);
  model.SetPosition(8);
  model.SetMax(3);
  EXPECT_EQ(model.Position(), 3);
  EXPECT_DOUBLE_EQ(model.Fraction(), 1.0);
  model.SetMax(0);
  EXPECT_DOUBLE_EQ(model.Fraction(), 0.0);
}

// The C locale's forms; the Windows forms come from the user locale (win32_platform_test.cpp).
#ifndef _WIN32
std::chrono::system_clock::time_point LocalTime(int hour, int minute, int second, int millis) {
  std::tm fields{};
  fields.tm_year = 2026 - 1900;
  fields.tm_mon = 11;
  fields.tm_mday = 9;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&fields)) +
         std::chrono::milliseconds(millis);
}

class TimestampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LC_ALL", "C", 1);
    LoadLocaleConventions();
  }
};

TEST_F(TimestampTest, DateAndLongTimeWithoutMilliseconds) {
  EXPECT_EQ(TimestampText(LocalTime(9, 5, 7, 999)), "12/09/26 09:05:07");
  EXPECT_EQ(TimestampText(LocalTime(0, 0, 1, 0)), "12/09/26 00:00:01");
}

TEST_F(TimestampTest, ExactlyMidnightIsTheDateAlone) {
  EXPECT_EQ(TimestampText(LocalTime(0, 0, 0, 0)), "12/09/26");
  EXPECT_EQ(TimestampText(LocalTime(0, 0, 0, 750)), "12/09/26");
}

#endif

TEST(LogLineTest, JoinsTimestampAndMessage) {
  const std::string line = LogLine("Начинаем работу");
  EXPECT_EQ(line.substr(line.size() - std::string(": Начинаем работу").size()),
            ": Начинаем работу");
}

TEST(LogLineTest, ShowsEveryLineBreakingOrControlCharacterVisibly) {
  struct Case {
    const char* what;
    std::string message;
    std::string shown;
  };
  const Case cases[] = {
      {"plain text, Cyrillic, quotes and backslashes stay", "Ошибка: \"C:\\data\" для x",
       "Ошибка: \"C:\\data\" для x"},
      {"a forged line is kept on the line of its message",
       "ERROR_Not Found для https://h/id=1\r\n12/09/26 10:00:00: Сбор данных завершен",
       "ERROR_Not Found для https://h/id=1\\r\\n12/09/26 10:00:00: Сбор данных завершен"},
      {"tab, NUL, escape, unit separator and DEL as escapes", std::string("a\tb\0c\x1B\x1F\x7F", 8),
       "a\\tb\\x00c\\x1B\\x1F\\x7F"},
      {"C1 controls as code points, from the first to the last", "\xC2\x80|\xC2\x85|\xC2\x9F",
       "\\u0080|\\u0085|\\u009F"},
      {"the line and paragraph separators",
       "a\xE2\x80\xA8"
       "b\xE2\x80\xA9",
       "a\\u2028b\\u2029"},
      {"neighbouring characters are not touched", "\xC2\xA0\xE2\x80\xA6\xE2\x80\xAA",
       "\xC2\xA0\xE2\x80\xA6\xE2\x80\xAA"},
      {"a cut sequence at the end stays as it is", "x\xC2", "x\xC2"},
  };
  for (const auto& c : cases) {
    const std::string line = LogLine(c.message);
    const std::string expected = ": " + c.shown;
    ASSERT_GE(line.size(), expected.size()) << c.what;
    EXPECT_EQ(line.substr(line.size() - expected.size()), expected) << c.what;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << c.what;
  }
}

}  // namespace
}  // namespace orgkat
