; The Windows installer: irdload.exe and irdload-cli.exe for the user who installs them (no
; administrator needed, as on a workshop PC a technician does not own), a Start-menu entry for
; the dialog, and an uninstaller that Windows lists under the user's installed programs. Made by
; makensis (Debian's nsis) from the release folder that ./run windows fills; VERSION, STAGE and
; OUTFILE are given on its command line.
; A 64-bit installer for 64-bit programs (and one that a 64-bit-only wine runs in the tests).
Target amd64-unicode

Name "irdload ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\irdload"
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\irdload"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "irdload"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${STAGE}/irdload.exe"
  File "${STAGE}/irdload-cli.exe"
  File "${STAGE}/README.txt"
  File "${STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\irdload"
  CreateShortcut "$SMPROGRAMS\irdload\Zembrin 1.0 (irdload).lnk" "$INSTDIR\irdload.exe"
  CreateShortcut "$SMPROGRAMS\irdload\Uninstall irdload.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "irdload ${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\irdload.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$INSTDIR\irdload.exe"
  Delete "$INSTDIR\irdload-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\irdload\Zembrin 1.0 (irdload).lnk"
  Delete "$SMPROGRAMS\irdload\Uninstall irdload.lnk"
  RMDir "$SMPROGRAMS\irdload"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
