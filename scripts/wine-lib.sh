# Shell functions for running the Windows programs under wine64 on an X display. Source it from the
# repository root after setting BUILD_WIN (the Windows build folder).

# wine_setup: the build's wine-run (Russian regional settings: ANSI code page 1251, Russian date
# and time) in a prefix of the window tests' own, kept in the build folder.
wine_setup() {
  export WINEPREFIX=${WINDOW_WINEPREFIX:-$BUILD_WIN/wine-prefix-window}
  WINE=$BUILD_WIN/wine-run
  wine_run cmd.exe /c exit >/dev/null 2>&1
  # Wine's own Tahoma (the window's font) and Marlett (the symbols of caption buttons), from the
  # fonts-wine package, where Windows programs find them.
  cp -n /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
}

wine_run() {
  "$WINE" "$@"
}

# wine_path UNIX_PATH: the path as Windows programs see it (drive Z: is the Unix root).
wine_path() {
  local path
  path=$(readlink -f "$1")
  echo "Z:${path//\//\\}"
}

# wine_stop: ends every process of the prefix (the wine server and its services).
wine_stop() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}

# wine_dpi DPI: the display's DPI for the programs started from now on (96 is Windows' default).
wine_dpi() {
  wine_run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
  # The setting is read when the wine server starts.
  /usr/lib/wine/wineserver -w
}
