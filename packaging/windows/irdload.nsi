; The Windows installer: irdload.exe and irdload-cli.exe in Program Files, a Start-menu entry for
; the dialog, and an uninstaller that Windows lists under its installed programs. Made by
; makensis (Debian's nsis) from the release folder that ./run windows fills; VERSION, STAGE and
; OUTFILE are given on its command line.
Unicode true
!include x64.nsh

Name "irdload ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\irdload"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\irdload"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "irdload"
  SetRegView 64
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/irdload.exe"
  File "${STAGE}/irdload-cli.exe"
  File "${STAGE}/README.txt"
  File "${STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\irdload"
  CreateShortcut "$SMPROGRAMS\irdload\Zembrin 1.0 (irdload).lnk" "$INSTDIR\irdload.exe"
  CreateShortcut "$SMPROGRAMS\irdload\Uninstall irdload.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "irdload ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\irdload.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  Delete "$INSTDIR\irdload.exe"
  Delete "$INSTDIR\irdload-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\irdload\Zembrin 1.0 (irdload).lnk"
  Delete "$SMPROGRAMS\irdload\Uninstall irdload.lnk"
  RMDir "$SMPROGRAMS\irdload"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
