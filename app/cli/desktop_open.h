#pragma once

#include <string>

namespace orgkat {

// Asks the desktop to open the file in its associated application (xdg-open), detached: the
// program neither waits for it nor leaves a zombie, and the opener's output never reaches our
// standard output.
void OpenInDesktop(const std::string& path);

// True when a graphical session is present (DISPLAY or WAYLAND_DISPLAY set).
bool GraphicalSession();

}  // namespace orgkat
