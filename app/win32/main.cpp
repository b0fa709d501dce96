// The Windows window program: orgkat.exe.

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/common/options.h"
#include "app/win32/main_form.h"
#include "app/win32/win32_ui_queue.h"
#include "platform/command_line.h"
#include "platform/desktop_open.h"
#include "platform/program_directory.h"
#include "platform/timestamp.h"
#include "platform/user_folders.h"
#include "platform/win32/utf16.h"

namespace {

// Ends the process at once, for a window closed inside a progress report: the run's controller
// waits for that very report, so it cannot be joined from here. Its threads are not waited for,
// no log file is written, and what the result file already holds stays on disk.
[[noreturn]] void EndProgram(orgkat::UiCallQueue& queue, int status) {
  queue.Shutdown();
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  orgkat::ParseOutcome parsed =
      orgkat::ParseFrontEndOptions("orgkat", orgkat::ProgramArguments(__argc, __argv),
                                   orgkat::ProgramDirectory(), orgkat::QueryUserFolders());
  if (!parsed.Options) {
    // A window program has no console: help and usage errors go to a message box.
    const std::string text =
        parsed.ExitStatus == 0 ? parsed.Text : orgkat::StartUpErrorText(parsed.Text);
    MessageBoxW(nullptr, orgkat::Utf8ToUtf16(text).c_str(), orgkat::kApplicationTitle,
                MB_OK | (parsed.ExitStatus == 0 && !parsed.OnStandardError ? MB_ICONINFORMATION
                         : parsed.ExitStatus == 0                          ? MB_ICONWARNING
                                                                           : MB_ICONERROR));
    return parsed.ExitStatus;
  }
  if (!parsed.Options->Config.OpenFile) parsed.Options->Config.OpenFile = orgkat::OpenInDesktop;

  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  orgkat::LoadLocaleConventions();

  orgkat::Win32UiQueue ui(instance);
  orgkat::SetUiQueue(ui.Queue());

  HWND dialog = nullptr;
  std::unique_ptr<orgkat::TMainForm> form;
  try {
    form = std::make_unique<orgkat::TMainForm>(*parsed.Options, instance, [&ui, &dialog] {
      // Closing the window inside a progress report ends the program there and then.
      if (!orgkat::PumpPendingMessages(dialog)) EndProgram(*ui.Queue(), 0);
    });
  } catch (const std::exception& failure) {
    MessageBoxW(nullptr, orgkat::Utf8ToUtf16(failure.what()).c_str(), orgkat::kApplicationTitle,
                MB_OK | MB_ICONERROR);
    return 1;
  }
  dialog = form->Handle();
  ShowWindow(dialog, show);
  UpdateWindow(dialog);
  for (const auto& notice : parsed.Options->Notices) form->ShowNotice(notice.Window);
  const int status = orgkat::RunMessageLoop(dialog);
  // The window closes during a run only once the run has ended; should the loop end otherwise, an
  // active run's UI-thread calls fail from here instead of waiting for a UI that is gone, so the
  // form's handlers can stop the run, cancel its requests and join it as the form goes. What the
  // result file already holds stays on disk.
  ui.Queue()->Shutdown();
  form.reset();
  return status;
}
