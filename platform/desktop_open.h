#pragma once

#include <string>

namespace orgkat {

// Asks the desktop to open the file in its associated application, detached: the program neither
// waits for it nor sees its output. Windows: the shell's "open" verb; elsewhere xdg-open.
void OpenInDesktop(const std::string& path);

// True when a desktop is there to open a file: always on Windows, elsewhere when DISPLAY or
// WAYLAND_DISPLAY is set.
bool GraphicalSession();

}  // namespace orgkat
