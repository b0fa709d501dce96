#include "app/win32/main_form.h"

#include <commctrl.h>

#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/common/form_layout.h"
#include "app/win32/control_ids.h"
#include "app/win32/gradient_progress_bar.h"
#include "app/win32/win32_controls.h"
#include "platform/timestamp.h"
#include "platform/win32/utf16.h"

namespace orgkat {
namespace {

using namespace form_layout;

// Character heights of the fonts: 8 pt for the window, 14 pt for the start button.
constexpr int kFontHeight = 11;
constexpr int kStartFontHeight = 19;

// Posted when a run has ended, so that its account is shown from the message loop.
constexpr UINT kRunEndedMessage = WM_APP + 1;

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

HMENU IdOf(int id) {
  return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
}

// A task dialog with buttons of its own, so that every caption is in the operator's language;
// Escape answers IDCANCEL. Returns the chosen button.
int TaskBox(HWND owner, const std::string& text, PCWSTR icon,
            const std::vector<std::pair<int, std::wstring>>& buttons, int defaultButton) {
  std::vector<TASKDIALOG_BUTTON> items;
  for (const auto& [id, caption] : buttons) items.push_back({id, caption.c_str()});
  const std::wstring content = Utf8ToUtf16(text);
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  config.hwndParent = IsWindow(owner) ? owner : nullptr;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_SIZE_TO_CONTENT;
  config.pszWindowTitle = kApplicationTitle;
  config.pszMainIcon = icon;
  config.pszContent = content.c_str();
  config.cButtons = static_cast<UINT>(items.size());
  config.pButtons = items.data();
  config.nDefaultButton = defaultButton;
  int chosen = IDCANCEL;
  if (FAILED(TaskDialogIndirect(&config, &chosen, nullptr, nullptr))) return IDCANCEL;
  return chosen;
}

HWND MakeChild(const wchar_t* cls, const wchar_t* text, DWORD style, DWORD ex_style, int id,
               HWND parent, HINSTANCE instance) {
  return CreateWindowExW(ex_style, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                         IdOf(id), instance, nullptr);
}

}  // namespace

TMainForm::TMainForm(FrontEndOptions options, HINSTANCE instance,
                     std::function<void()> processPendingEvents) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = instance;
  cls.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  cls.lpszClassName = kMainFormClass;
  RegisterClassExW(&cls);

  // Sized for the system's DPI first; ApplyDpi corrects it once the window knows its monitor.
  dpi_ = GetDpiForSystem();
  RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  AdjustWindowRectExForDpi(&frame, kFormStyle, FALSE, kFormExStyle, dpi_);
  window_ = CreateWindowExW(kFormExStyle, kMainFormClass, kMainFormCaption, kFormStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                            frame.bottom - frame.top, nullptr, nullptr, instance, this);
  if (window_ == nullptr) throw std::runtime_error("the main window could not be created");
  CreateControls(instance);

  const UINT dpi = GetDpiForWindow(window_);
  if (dpi != dpi_) {
    dpi_ = dpi;
    frame = RECT{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    AdjustWindowRectExForDpi(&frame, kFormStyle, FALSE, kFormExStyle, dpi_);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ApplyDpi();

  MakeHandlers({std::make_shared<Win32LogView>(LogsMemo), ProgressBar,
                std::make_shared<Win32StartControl>(StartButton), ResumeTimer},
               options, std::move(processPendingEvents));
}

TMainForm::~TMainForm() {
  EndRuns();
  if (IsWindow(window_)) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

void TMainForm::CreateControls(HINSTANCE instance) {
  // Creation order is the tab order: start, pause, stop, log.
  ProgressBar = std::make_shared<GradientProgressBar>(window_, kProgressBarId, instance);
  StartButton = MakeChild(WC_BUTTONW, L"СТАРТ", WS_TABSTOP | BS_PUSHBUTTON, 0, kStartButtonId,
                          window_, instance);
  PauseButton = MakeChild(WC_BUTTONW, L"пауза", WS_TABSTOP | BS_PUSHBUTTON, 0, kPauseButtonId,
                          window_, instance);
  StopButton = MakeChild(WC_BUTTONW, L"стоп", WS_TABSTOP | BS_PUSHBUTTON, 0, kStopButtonId, window_,
                         instance);
  LogsMemo = MakeChild(WC_EDITW, L"",
                       WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                           ES_AUTOHSCROLL | ES_WANTRETURN | ES_NOHIDESEL,
                       WS_EX_CLIENTEDGE, kLogsMemoId, window_, instance);
  // A multi-line edit holds 32K characters by default; a run's log is longer.
  SendMessageW(LogsMemo, EM_SETLIMITTEXT, 0, 0);
  Label2 = MakeChild(WC_STATICW, L"Логи", SS_LEFT | SS_NOPREFIX, 0, kLabel2Id, window_, instance);
  ResumeTimer = std::make_shared<Win32ResumeTimer>(window_, kResumeTimerId);
}

int TMainForm::Scale(int pixelsAt96) const {
  return MulDiv(pixelsAt96, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
}

void TMainForm::ApplyDpi() {
  auto tahoma = [this](int height) {
    LOGFONTW font{};
    font.lfHeight = -Scale(height);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynW(font.lfFaceName, L"Tahoma", LF_FACESIZE);
    return Font(CreateFontIndirectW(&font));
  };
  // The controls are given the new fonts before the old ones are deleted.
  Font font = tahoma(kFontHeight);
  Font start_font = tahoma(kStartFontHeight);
  for (HWND control : {LogsMemo, Label2, StopButton, PauseButton}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  }
  SendMessageW(StartButton, WM_SETFONT, reinterpret_cast<WPARAM>(start_font.get()), TRUE);
  font_ = std::move(font);
  start_font_ = std::move(start_font);

  auto place = [this](HWND control, const Place& at96) {
    SetWindowPos(control, nullptr, Scale(at96.Left), Scale(at96.Top), Scale(at96.Width),
                 Scale(at96.Height), SWP_NOZORDER | SWP_NOACTIVATE);
  };
  place(StartButton, kStartButton);
  place(PauseButton, kPauseButton);
  place(StopButton, kStopButton);

  // The label is as large as its text in its font.
  SIZE text{};
  if (HDC dc = GetDC(Label2)) {
    const HGDIOBJ old = SelectObject(dc, font_.get());
    GetTextExtentPoint32W(dc, L"Логи", 4, &text);
    SelectObject(dc, old);
    ReleaseDC(Label2, dc);
  }
  SetWindowPos(Label2, nullptr, Scale(kLabelLeft), Scale(kLabelTop), text.cx, text.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
}

void TMainForm::Layout() {
  RECT client;
  GetClientRect(window_, &client);
  const int w = client.right;
  const int h = client.bottom;
  SetWindowPos(LogsMemo, nullptr, Scale(kMargin), Scale(kLogTop), w - 2 * Scale(kMargin),
               h - Scale(kLogTop) - Scale(kLogBottomGap), SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(ProgressBar->Handle(), nullptr, 0, h - Scale(kProgressHeight), w,
               Scale(kProgressHeight), SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainForm::ShowError(const std::string& message) {
  MessageBoxW(IsWindow(window_) ? window_ : nullptr, Utf8ToUtf16(message).c_str(),
              kApplicationTitle, MB_OK | MB_ICONERROR);
}

void TMainForm::ShowNotice(const std::string& message) {
  MessageBoxW(IsWindow(window_) ? window_ : nullptr, Utf8ToUtf16(message).c_str(),
              kApplicationTitle, MB_OK | MB_ICONWARNING);
}

IOperatorDialogs::Answer TMainForm::Ask(const std::string& question, bool cancel) {
  std::vector<std::pair<int, std::wstring>> buttons{{IDYES, L"Да"}, {IDNO, L"Нет"}};
  if (cancel) buttons.emplace_back(IDCANCEL, L"Отмена");
  switch (TaskBox(window_, question, TD_INFORMATION_ICON, buttons, IDYES)) {
    case IDYES:
      return Answer::Yes;
    case IDCANCEL:
      return cancel ? Answer::Cancel : Answer::No;
    default:
      return Answer::No;
  }
}

bool TMainForm::ShowAccount(const std::string& text, Account kind) {
  std::vector<std::pair<int, std::wstring>> buttons;
  if (kind == Account::Missing) buttons.emplace_back(kFetchAgainButtonId, L"Дозапросить");
  buttons.emplace_back(kCloseAccountButtonId, L"Закрыть");
  const PCWSTR icon = kind == Account::Missing ? TD_WARNING_ICON
                      : kind == Account::News  ? TD_INFORMATION_ICON
                                               : TD_ERROR_ICON;
  return TaskBox(window_, text, icon, buttons, buttons.front().first) == kFetchAgainButtonId;
}

void TMainForm::PostRunEnded(const TScraper::RunSummary& summary) {
  ended_ = summary;
  PostMessageW(window_, kRunEndedMessage, 0, 0);
}

void TMainForm::RunEnded() {
  if (!ended_) return;
  const TScraper::RunSummary summary = std::move(*ended_);
  ended_.reset();
  if (AfterRun(summary)) Close();
}

void TMainForm::Close() {
  if (MayClose()) DestroyWindow(window_);
}

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    auto* form = static_cast<TMainForm*>(create->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return form->HandleMessage(message, wparam, lparam);
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) {
        switch (LOWORD(wparam)) {
          case kStartButtonId:
            Guarded([this] { StartButtonClick(); });
            return 0;
          case kPauseButtonId:
            Guarded([this] { PauseButtonClick(); });
            return 0;
          case kStopButtonId:
            Guarded([this] { StopButtonClick(); });
            return 0;
          default:
            break;
        }
      }
      break;
    case WM_TIMER:
      if (wparam == kResumeTimerId) {
        Guarded([this] { ResumeTimerTimer(); });
        return 0;
      }
      break;
    case WM_SIZE:
      if (LogsMemo != nullptr) Layout();
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wparam);
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi();
      return 0;
    }
    case WM_CLOSE:
      Close();
      return 0;
    case kRunEndedMessage:
      RunEnded();
      return 0;
    case WM_GETMINMAXINFO: {
      RECT frame{0, 0, Scale(kMinimumWidth), Scale(kMinimumHeight)};
      AdjustWindowRectExForDpi(&frame, kFormStyle, FALSE, kFormExStyle, dpi_);
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      limits->ptMinTrackSize = POINT{frame.right - frame.left, frame.bottom - frame.top};
      return 0;
    }
    case WM_SETTINGCHANGE:
      // The user's regional settings may have changed: timestamps follow them from now on.
      LoadLocaleConventions();
      break;
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      SetTextColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace orgkat
