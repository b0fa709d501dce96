; The per-user installer of orgkat for 64-bit Windows: no administrator rights, installed into the
; user's programs folder, a Start-menu entry and an uninstaller registered for the user.
; makensis -DVERSION=x.y.z -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> installer.nsi

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\orgkat"

Name "orgkat ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\orgkat"
InstallDirRegKey HKCU "Software\orgkat" "InstallDir"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductName" "orgkat"
VIAddVersionKey /LANG=1049 "FileDescription" "orgkat setup"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "orgkat"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\orgkat.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "orgkat"
  SetOutPath "$INSTDIR"
  File "${STAGE}\orgkat.exe"
  File "${STAGE}\orgkat-cli.exe"
  File "${STAGE}\README.txt"
  ; The operator's own settings survive an update.
  SetOverwrite off
  File "${STAGE}\orgkat.conf"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The entry starts in the program's folder, where the client certificate files are read.
  CreateShortcut "$SMPROGRAMS\orgkat.lnk" "$INSTDIR\orgkat.exe" "" "$INSTDIR\orgkat.exe" 0

  WriteRegStr HKCU "Software\orgkat" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "orgkat"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orgkat.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\orgkat.lnk"
  Delete "$INSTDIR\orgkat.exe"
  Delete "$INSTDIR\orgkat-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\orgkat.conf"
  Delete "$INSTDIR\uninstall.exe"
  ; Results, logs and certificate files in the folder are the operator's: the folder stays while
  ; it holds any of them.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\orgkat"
SectionEnd
