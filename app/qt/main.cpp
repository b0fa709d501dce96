#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>
#include <iostream>
#include <string>
#include <vector>

#include "app/common/options.h"
#include "app/qt/main_form.h"
#include "platform/program_directory.h"
#include "platform/qt/qt_ui_queue.h"
#include "platform/timestamp.h"
#include "platform/user_folders.h"

namespace {

// The desktop's "open" verb; the controller asks for it from its own thread, so it is carried over
// to the UI thread.
void OpenWithDesktop(const std::string& path) {
  orgkat::CurrentUiQueue()->Call(
      [&path] { QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))); });
}

// A message box needs a display; without one the message on standard error has to do.
bool DisplayPresent() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Options first, so --help and usage errors need no display.
  const std::vector<std::string> args(argv + 1, argv + argc);
  orgkat::ParseOutcome parsed = orgkat::ParseFrontEndOptions(
      "orgkat", args, orgkat::ProgramDirectory(), orgkat::QueryUserFolders());
  if (!parsed.Options) {
    const bool toStdout = parsed.ExitStatus == 0 && !parsed.OnStandardError;
    (toStdout ? std::cout : std::cerr) << parsed.Text << std::flush;
    if (!toStdout && DisplayPresent()) {
      // Started from a desktop menu, nobody sees standard error.
      QApplication app(argc, argv);
      QMessageBox::critical(
          nullptr, QString::fromUtf8(orgkat::kApplicationTitle),
          QString::fromStdString(parsed.ExitStatus == 0 ? parsed.Text
                                                        : orgkat::StartUpErrorText(parsed.Text)));
    }
    return parsed.ExitStatus;
  }
  if (!parsed.Options->Config.OpenFile) parsed.Options->Config.OpenFile = OpenWithDesktop;

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("orgkat"));
  // QApplication has set the C locale from the environment; the timestamps follow it.
  orgkat::LoadLocaleConventions();

  auto queue = orgkat::MakeQtUiQueue();
  orgkat::SetUiQueue(queue);

  orgkat::TMainForm form(*parsed.Options);
  form.show();
  for (const auto& notice : parsed.Options->Notices) form.ShowNotice(notice.Window);
  const int status = QApplication::exec();
  // The window closes during a run only once the run has ended; should the event loop end
  // otherwise (the session ends), a run's UI-thread calls fail from here instead of waiting for a
  // UI that is gone, so the form's handlers can stop the run, cancel its requests and join it as
  // the form goes. What the result file already holds stays on disk.
  queue->Shutdown();
  return status;
}
