#pragma once

#include <windows.h>

namespace orgkat {

// Window class and child control identifiers of the main window. The window test drives the
// window through them from another process.
inline constexpr const wchar_t* kMainFormClass = L"OrgkatMainForm";
inline constexpr const wchar_t* kMainFormCaption = L"Парсер сайта Orgkat";

enum ControlId : int {
  kStartButtonId = 101,
  kPauseButtonId = 102,
  kStopButtonId = 103,
  kLogsMemoId = 104,
  kProgressBarId = 105,
  kLabel2Id = 106,
};

inline constexpr UINT_PTR kResumeTimerId = 1;

// Buttons of the end-of-run account; the questions answer with IDYES, IDNO and IDCANCEL.
enum AccountButtonId : int {
  kFetchAgainButtonId = 201,
  kCloseAccountButtonId = 202,
};

}  // namespace orgkat
