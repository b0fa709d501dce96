// Drives a running orgkat.exe from another process through window messages, as the window test
// does under Wine: clicks on its buttons (their BN_CLICKED notices), an expiry of its resume timer
// (WM_TIMER), and reads of its log, progress bar and start button. Each scenario prints what it
// found and exits 0 only when every check held.
//
// usage: orgkat-window-driver SCENARIO MEMO_OUT [PLACES_OUT]
//   run         before a run pause and stop do nothing; a run paused and released by the pause
//               button goes to its end, keeping a note the operator typed into its log; the start
//               button is disabled meanwhile; then the window is closed
//   auto-pause  runs with a record that is not JSON: the first one's automatic pause ends on the
//               timer's expiry and the run goes on without the record, which its account names;
//               the second continues the first, as offered at the start; the third is stopped
//               during its automatic pause; the window is closed during the fourth, once the
//               operator has agreed
//   start       starts a run and waits until a third of it is done (for screenshots); then
//               writes the screen places of the window and of its progress bar to PLACES_OUT
// MEMO_OUT receives the log control's text (UTF-8) when the scenario has reached its end.

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "app/win32/control_ids.h"

using namespace orgkat;
using namespace std::chrono_literals;

namespace {

// Only a guard against a hung window: the scenario waits for events, never for a time.
constexpr auto kPatience = 300s;

int failures = 0;

void Check(bool held, const char* what) {
  std::printf("%s: %s\n", held ? "ok" : "FAILED", what);
  std::fflush(stdout);
  if (!held) ++failures;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                      nullptr, nullptr);
  return out;
}

std::wstring TextOf(HWND control) {
  const auto length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const auto got = SendMessageW(control, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(got));
  return text;
}

std::size_t Count(const std::wstring& text, const std::wstring& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

struct Window {
  HWND form = nullptr;
  HWND start = nullptr;
  HWND pause = nullptr;
  HWND stop = nullptr;
  HWND memo = nullptr;
  HWND bar = nullptr;

  std::wstring Log() const { return TextOf(memo); }
  // The button's click notice, sent: it returns once the window has handled the click. (BM_CLICK
  // would need the window to be the active one, which a window under test need not be.)
  void Click(HWND button) const {
    SendMessageW(form, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  }
  // The click notice, posted: for a click that opens a message box, which the driver answers.
  void ClickLater(HWND button) const {
    PostMessageW(form, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  }
  void TimerExpiry() const { SendMessageW(form, WM_TIMER, kResumeTimerId, 0); }
  bool WaitForLine(const std::wstring& ending, std::size_t count = 1) const {
    return WaitFor([&] { return Count(Log(), L": " + ending + L"\r\n") >= count; });
  }
  bool Has(const std::wstring& ending, std::size_t count = 1) const {
    return Count(Log(), L": " + ending + L"\r\n") == count;
  }
};

struct BoxSearch {
  HWND owner = nullptr;
  HWND box = nullptr;
};

BOOL CALLBACK FindOwnedDialog(HWND candidate, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  wchar_t name[16] = {};
  GetClassNameW(candidate, name, 16);
  if (std::wstring(name) != L"#32770" || !IsWindowVisible(candidate) ||
      GetWindow(candidate, GW_OWNER) != search->owner) {
    return TRUE;
  }
  search->box = candidate;
  return FALSE;
}

BOOL CALLBACK AppendText(HWND child, LPARAM param) {
  *reinterpret_cast<std::wstring*>(param) += TextOf(child) + L"\n";
  return TRUE;
}

// The message box the form shows, once it is there (a visible dialog the form owns), with the
// texts of its parts.
struct Box {
  HWND handle = nullptr;
  std::wstring text;

  bool Says(const std::wstring& part) const { return text.find(part) != std::wstring::npos; }
  // Chooses one of the box's buttons, as a click on it would.
  void Press(int button) const { SendMessageW(handle, TDM_CLICK_BUTTON, button, 0); }
};

Box WaitForBox(const Window& window) {
  BoxSearch search{window.form, nullptr};
  WaitFor([&] {
    EnumWindows(FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.box != nullptr;
  });
  Box box{search.box, {}};
  if (box.handle != nullptr)
    EnumChildWindows(box.handle, AppendText, reinterpret_cast<LPARAM>(&box.text));
  return box;
}

bool FindWindowParts(Window& window) {
  if (!WaitFor([&] {
        window.form = FindWindowW(kMainFormClass, kMainFormCaption);
        return window.form != nullptr && IsWindowVisible(window.form);
      })) {
    return false;
  }
  window.start = GetDlgItem(window.form, kStartButtonId);
  window.pause = GetDlgItem(window.form, kPauseButtonId);
  window.stop = GetDlgItem(window.form, kStopButtonId);
  window.memo = GetDlgItem(window.form, kLogsMemoId);
  window.bar = GetDlgItem(window.form, kProgressBarId);
  return window.start && window.pause && window.stop && window.memo && window.bar;
}

// The 96 dpi layout scaled to the window's DPI: fixed places for the buttons and the label's top
// left corner, the log following all four edges, the bar docked to the bottom at full width.
void CheckLayout(const Window& window) {
  const int dpi = static_cast<int>(GetDpiForWindow(window.form));
  const auto scale = [dpi](int pixels) { return MulDiv(pixels, dpi, USER_DEFAULT_SCREEN_DPI); };
  const auto client_place = [&](HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, window.form, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const auto same = [](const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  };
  RECT client;
  GetClientRect(window.form, &client);
  std::printf("layout at %d dpi: client area %ld x %ld\n", dpi, client.right, client.bottom);
  Check(client.right == scale(535) && client.bottom == scale(424), "the client area is 535 x 424");
  Check(same(client_place(window.start),
             {scale(183), scale(8), scale(183) + scale(169), scale(8) + scale(37)}),
        "the start button stands at 183, 8, 169 x 37");
  Check(same(client_place(window.pause),
             {scale(183), scale(51), scale(183) + scale(75), scale(51) + scale(25)}),
        "the pause button stands at 183, 51, 75 x 25");
  Check(same(client_place(window.stop),
             {scale(277), scale(51), scale(277) + scale(75), scale(51) + scale(25)}),
        "the stop button stands at 277, 51, 75 x 25");
  const RECT label = client_place(GetDlgItem(window.form, kLabel2Id));
  Check(label.left == scale(8) && label.top == scale(77), "the label stands at 8, 77");
  Check(same(client_place(window.memo),
             {scale(8), scale(96), client.right - scale(8), client.bottom - scale(23)}),
        "the log fills the window below the label, 8 from the sides, 23 from the bottom");
  Check(same(client_place(window.bar), {0, client.bottom - scale(17), client.right, client.bottom}),
        "the bar is docked to the bottom, full width, 17 high");
}

void SaveLog(const Window& window, const char* path) {
  std::ofstream out(path, std::ios::binary);
  out << Utf8(window.Log());
}

const std::wstring kStarted = L"Начинаем работу";
const std::wstring kEnded = L"Работа завершена, лог записан в ";
const std::wstring kPaused = L"Включаем паузу";
const std::wstring kReleased = L"Отключаем паузу, продолжаем работу";
const std::wstring kStopped = L"Останавливаем работу";
constexpr const wchar_t* kNote = L"заметка оператора";

bool EndedRuns(const Window& window, std::size_t runs) {
  return WaitFor([&] { return Count(window.Log(), L": " + kEnded) >= runs; });
}

// Clicks start and waits for the new run's first report, which empties the log and writes the
// first line: until then the log is still the last run's.
bool StartRun(const Window& window) {
  window.Click(window.start);
  return WaitFor([&] {
    const std::wstring log = window.Log();
    return Count(log, L": " + kStarted + L"\r\n") == 1 && Count(log, L": " + kEnded) == 0;
  });
}

void ScenarioRun(const Window& window, const char* memo_out) {
  window.Click(window.pause);
  window.Click(window.stop);
  window.TimerExpiry();
  Check(window.Log().empty(), "pause, stop and the timer before a run write nothing");

  Check(StartRun(window), "the run begins with its first line");
  Check(window.Has(kStarted), "one run for one click");
  Check(!IsWindowEnabled(window.start), "the start button is disabled during the run");
  window.Click(window.start);
  window.Click(window.pause);
  Check(window.Has(kPaused), "the first pause click holds the run");
  // The operator types a note at the end of the log, without a line break of its own.
  const auto end = static_cast<WPARAM>(SendMessageW(window.memo, WM_GETTEXTLENGTH, 0, 0));
  SendMessageW(window.memo, EM_SETSEL, end, static_cast<LPARAM>(end));
  SendMessageW(window.memo, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(kNote));
  window.Click(window.pause);
  Check(window.Has(kReleased), "the second pause click releases it");
  Check(EndedRuns(window, 1), "the run ends with the log file line");
  Check(window.Has(kStarted), "a second click on start during the run started nothing");
  Check(window.Has(L"Сбор данных завершен"), "the run reports its success");
  Check(Count(window.Log(), std::wstring(L"\r\n") + kNote + L"\r\n") == 1,
        "the operator's note stays, on a line of its own");
  Check(WaitFor([&] { return IsWindowEnabled(window.start) != FALSE; }),
        "the start button is enabled again");

  const auto max = SendMessageW(window.bar, PBM_GETRANGE, FALSE, 0);
  const auto position = SendMessageW(window.bar, PBM_GETPOS, 0, 0);
  const std::wstring hint = TextOf(window.bar);
  std::printf("progress: %d of %d, hover text \"%s\"\n", static_cast<int>(position),
              static_cast<int>(max), Utf8(hint).c_str());
  Check(position == 0, "the bar is back at 0 after the run");
  Check(hint.find(L" из ") != std::wstring::npos && hint.find(L", осталось ") != std::wstring::npos,
        "the bar has its hover text");
  SaveLog(window, memo_out);
  PostMessageW(window.form, WM_CLOSE, 0, 0);
}

// Waits for the account at the end of a run and closes it.
void CloseAccount(const Window& window, const std::wstring& says, const char* what) {
  const Box account = WaitForBox(window);
  Check(account.Says(says), what);
  account.Press(kCloseAccountButtonId);
}

// Clicks start, answers the question about the interrupted run and waits for the run's first
// report.
bool StartAnswering(const Window& window, int answer, const char* what) {
  window.ClickLater(window.start);
  const Box question = WaitForBox(window);
  Check(question.Says(L"Найден незавершённый сбор от "), what);
  question.Press(answer);
  return WaitFor([&] {
    const std::wstring log = window.Log();
    return Count(log, L": " + kStarted + L"\r\n") == 1 && Count(log, L": " + kEnded) == 0;
  });
}

bool StartAgain(const Window& window) {
  return WaitFor([&] { return IsWindowEnabled(window.start) != FALSE; });
}

void ScenarioAutoPause(const Window& window, const char* memo_out) {
  Check(StartRun(window), "the run begins");
  Check(window.WaitForLine(L"Включаем паузу на 30 секунд"), "the failed record starts the pause");
  Check(window.Has(kReleased, 0), "the run is held");
  window.TimerExpiry();
  Check(window.Has(kReleased), "the timer's expiry releases the run");
  window.TimerExpiry();
  Check(window.Has(kReleased), "a second expiry does nothing more");
  Check(EndedRuns(window, 1), "the run ends with the log file line");
  Check(window.Has(L"Сбор данных завершен"), "the collection went on without the failed record");
  SaveLog(window, memo_out);
  CloseAccount(window, L"Нет строк у 1 из 40 организаций", "the account names the missing record");

  // The second run continues the first, as the start offers.
  Check(StartAgain(window), "the start button is enabled again");
  Check(StartAnswering(window, IDYES, "the interrupted run is offered"), "a continued run begins");
  Check(EndedRuns(window, 1), "the continued run ends");
  Check(window.Has(L"Осталось собрать 1 организаций из 40"), "it takes the missing record alone");
  CloseAccount(window, L"Нет строк у 1 из 1 организаций", "its account names the record again");

  // A third run, stopped during its automatic pause: the first run left nothing to continue.
  Check(StartAgain(window), "the start button is enabled again");
  Check(StartRun(window), "a third run begins without a question");
  Check(window.WaitForLine(L"Включаем паузу на 30 секунд"), "the third run pauses too");
  window.Click(window.stop);
  Check(window.Has(kStopped), "the stop button writes its line");
  Check(EndedRuns(window, 1), "the stopped run ends with the log file line");
  CloseAccount(window, L"Сбор остановлен.", "the account tells the run was stopped");

  // A fourth run, new although the third is offered, and the window closed during it: once the
  // operator agrees, the run is stopped, its log saved and the program ends.
  Check(StartAgain(window), "the start button is enabled again");
  Check(StartAnswering(window, IDNO, "the stopped run is offered"), "a fourth run begins");
  PostMessageW(window.form, WM_CLOSE, 0, 0);
  const Box closing = WaitForBox(window);
  Check(closing.Says(L"Идёт сбор данных. Остановить и закрыть?"), "closing asks first");
  closing.Press(IDYES);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr,
                 "usage: orgkat-window-driver run|auto-pause|start MEMO_OUT [PLACES_OUT]\n");
    return 2;
  }
  const std::string scenario = argv[1];
  Window window;
  if (!FindWindowParts(window)) {
    std::fprintf(stderr, "orgkat-window-driver: no window \"Парсер сайта Orgkat\"\n");
    return 1;
  }
  CheckLayout(window);
  if (scenario == "run") {
    ScenarioRun(window, argv[2]);
  } else if (scenario == "auto-pause") {
    ScenarioAutoPause(window, argv[2]);
  } else if (scenario == "start") {
    window.Click(window.start);
    Check(WaitFor([&] {
            // The second phase has begun (the first shows its one list request on the bar).
            if (Count(window.Log(), L": Данные будут записываться в файл ") == 0) return false;
            const auto position = SendMessageW(window.bar, PBM_GETPOS, 0, 0);
            return position > 0 && 3 * position >= SendMessageW(window.bar, PBM_GETRANGE, FALSE, 0);
          }),
          "a third of the run is done");
    SaveLog(window, argv[2]);
    // Screen places for the picture: the window's frame and the bar, whose hover text is shown.
    // Written last, so a script that waits for the file finds the run a third done.
    std::ofstream places(argc > 3 ? argv[3] : "places.txt");
    for (const auto& [name, control] : {std::pair{"window", window.form}, {"bar", window.bar}}) {
      RECT r;
      GetWindowRect(control, &r);
      places << name << ' ' << r.left << ' ' << r.top << ' ' << r.right - r.left << ' '
             << r.bottom - r.top << '\n';
    }
  } else {
    std::fprintf(stderr, "orgkat-window-driver: unknown scenario %s\n", scenario.c_str());
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
