#include "platform/timestamp.h"

#include <windows.h>

#include <memory>
#include <mutex>

#include "platform/conventions_cache.h"
#include "platform/win32/utf16.h"

namespace orgkat {
namespace {

constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000;  // 100 ns units since 1601

std::wstring LocaleText(LCTYPE item, const wchar_t* fallback) {
  wchar_t text[128];
  const int size = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, text, std::size(text));
  return size > 1 ? std::wstring(text, static_cast<std::size_t>(size - 1)) : fallback;
}

// The user locale's short date and long time formats, read as a whole; a thread formatting a
// timestamp keeps the set it started with when they are read again.
struct TimeConventions {
  std::wstring ShortDate = LocaleText(LOCALE_SSHORTDATE, L"dd.MM.yyyy");
  std::wstring LongTime = LocaleText(LOCALE_STIMEFORMAT, L"H:mm:ss");
};

ConventionsCache<TimeConventions> conventions;

SYSTEMTIME LocalTime(std::chrono::system_clock::time_point when) {
  using FileTimeUnits = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
  const std::int64_t units =
      std::chrono::duration_cast<FileTimeUnits>(when.time_since_epoch()).count() +
      kUnixEpochInFileTime;
  FILETIME file_time{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  FileTimeToSystemTime(&file_time, &utc);
  SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  return local;
}

std::wstring DateText(const SYSTEMTIME& when, const std::wstring& format) {
  wchar_t text[128];
  const int size = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &when, format.c_str(), text,
                                   std::size(text), nullptr);
  return size > 1 ? std::wstring(text, static_cast<std::size_t>(size - 1)) : std::wstring();
}

std::wstring TimeText(const SYSTEMTIME& when, const std::wstring& format) {
  wchar_t text[128];
  const int size =
      GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &when, format.c_str(), text, std::size(text));
  return size > 1 ? std::wstring(text, static_cast<std::size_t>(size - 1)) : std::wstring();
}

}  // namespace

void LoadLocaleConventions() {
  conventions.Reload();
}

std::string TimestampText(std::chrono::system_clock::time_point when) {
  const SYSTEMTIME local = LocalTime(when);
  const auto formats = conventions.Get();
  std::wstring text = DateText(local, formats->ShortDate);
  if (local.wHour != 0 || local.wMinute != 0 || local.wSecond != 0) {
    text += L' ';
    text += TimeText(local, formats->LongTime);
  }
  return Utf16ToUtf8(text);
}

}  // namespace orgkat
