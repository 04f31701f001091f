; The per-user installer of Zarnik Viewer, for NSIS 3 (makensis). The Windows build makes it
; (installer/CMakeLists.txt) and defines VERSION, PROGRAM (the stripped program), ABOUT_PAGE,
; ICON and OUTFILE.
;
; It installs for the current user only, without administrator rights, into
; %LOCALAPPDATA%\Programs\Zarnik Viewer: the program, its About page and the uninstaller. The
; program keeps settings.dat and service.conf beside itself, so the folder is one the user can
; write. It adds a Start-menu shortcut and the entry of "Apps and features" (the per-user
; Uninstall key), and offers to start the program on its last page. The program's own
; "Autostart with Windows" is left to its settings dialog.
;
; The uninstaller ends a running copy first, then removes the program's files, the shortcut, the
; Uninstall key and the "Zarnik Viewer" value of the Run key. It asks whether to keep the user's
; settings (settings.dat and service.conf); silent (/S), it removes them unless /KEEPSETTINGS is
; given. Both run silently with /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Zarnik Viewer"
!define PROGRAM_FILE "zarnik-viewer.exe"
!define UNINSTALLER "uninstall.exe"
!define PUBLISHER "Zarnik Viewer authors"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZarnikViewer"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The program's hidden tray window, and the command its tray menu's "Exit" sends it.
!define TRAY_WINDOW_CLASS "ZarnikVwer"
!define EXIT_COMMAND 0
!define SYNCHRONIZE 0x00100000
; How long a running copy has to end, in steps of 200 ms.
!define END_STEPS 75

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include WinMessages.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM_FILE}"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var KeepSettings

; Ends a running copy as its tray menu's "Exit" does, and waits until its process has ended, so
; that its file can be replaced or removed. Asks first (silent: goes ahead). Aborts when the user
; declines or the copy has not ended within 20 s (15 s for its window, 5 s for its process).
!macro DEFINE_END_RUNNING_COPY PREFIX
Function ${PREFIX}EndRunningCopy
  FindWindow $0 "${TRAY_WINDOW_CLASS}" "${PRODUCT}"
  ${If} $0 = 0
    Return
  ${EndIf}
  MessageBox MB_OKCANCEL|MB_ICONINFORMATION "${PRODUCT} is running. It will be ended first." \
    /SD IDOK IDOK end
  Abort "${PRODUCT} is still running."
end:
  DetailPrint "Ending the running ${PRODUCT}"
  System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
  System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2"
  SendMessage $0 ${WM_COMMAND} ${EXIT_COMMAND} 0 /TIMEOUT=5000
  ${For} $1 1 ${END_STEPS}
    FindWindow $0 "${TRAY_WINDOW_CLASS}" "${PRODUCT}"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    Sleep 200
  ${Next}
  ; The window goes with the process; the process lets go of its file a moment later.
  StrCpy $3 0
  ${If} $2 <> 0
    System::Call "kernel32::WaitForSingleObject(p r2, i 5000) i .r3"
    System::Call "kernel32::CloseHandle(p r2)"
  ${EndIf}
  ${If} $0 <> 0
  ${OrIf} $3 <> 0
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} did not end. Choose $\"Exit$\" in its tray menu, \
      then try again." /SD IDOK
    Abort "${PRODUCT} did not end."
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DEFINE_END_RUNNING_COPY ""
!insertmacro DEFINE_END_RUNNING_COPY "un."

Section "${PRODUCT}"
  Call EndRunningCopy
  SetOutPath "$INSTDIR"
  File "/oname=${PROGRAM_FILE}" "${PROGRAM}"
  File "/oname=about.html" "${ABOUT_PAGE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; Started in the program's folder, where its settings are.
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM_FILE}" "" \
    "$INSTDIR\${PROGRAM_FILE}" 0 SW_SHOWNORMAL "" \
    "The friends of a Zarnik journal user as one feed"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_FILE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Call un.EndRunningCopy

  StrCpy $KeepSettings 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/KEEPSETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $KeepSettings 1
  ${ElseIf} ${FileExists} "$INSTDIR\settings.dat"
  ${OrIf} ${FileExists} "$INSTDIR\service.conf"
    MessageBox MB_YESNO|MB_ICONQUESTION "Keep your ${PRODUCT} settings (your user name and \
      password) for a later installation?" /SD IDNO IDNO remove
    StrCpy $KeepSettings 1
  remove:
  ${EndIf}

  ; The program first: if it cannot go, everything else stays as it is.
  Delete "$INSTDIR\${PROGRAM_FILE}"
  ${If} ${FileExists} "$INSTDIR\${PROGRAM_FILE}"
    Abort "$INSTDIR\${PROGRAM_FILE} could not be removed."
  ${EndIf}
  Delete "$INSTDIR\about.html"
  ${If} $KeepSettings = 0
    Delete "$INSTDIR\settings.dat"
    Delete "$INSTDIR\service.conf"
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: never anything the user put there.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
SectionEnd
