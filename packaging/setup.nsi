; The Windows setup: installs the zip's files for the current user, without
; administrator rights, and registers a Start-menu shortcut and an uninstaller.
; scripts/make-setup builds it from the zip, so both always hold the same files:
;   VERSION    the program's version, "1.0.0"
;   FILES      the zip's files, unpacked, with config.ini renamed config.ini.sample
;   LISTS      files.nsh (what to install), unfiles.nsh (what to remove), licence.txt
;   SIZE_KB    the installed files' size, for Settings > Apps
;   ICON       the program's icon
;   OUTFILE    where the setup goes
; Switches: /S silent, /D=FOLDER the folder (last, unquoted), /DESKTOP a desktop
; shortcut; the uninstaller takes /S.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user
; A file the setup cannot write (a program of the folder still running) stops it:
; never a mix of two versions.
AllowSkipFiles off

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define PRODUCT "Kelm Vantoro"
!define PUBLISHER "Kelm Vantoro developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelmVantoro"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The program's single-instance window, and the value "Start with Windows" writes.
!define WINDOW_CLASS "KelmVantoroWnd"
!define RUN_VALUE "KelmVantoro"
!define ENDSESSION_CLOSEAPP 1
!define SYNCHRONIZE 0x00100000

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the last install went, unless /D= says otherwise.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}.0"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) ${PUBLISHER}, MIT licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_LICENSEPAGE_TEXT_TOP "Kelm Vantoro's licence, then the notices of the libraries it contains."
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\KelmVantoro.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"

!insertmacro MUI_PAGE_LICENSE "${LISTS}/licence.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Closes a running copy, which holds the program's files open: the program ends as its
; EXIT button ends it when told the session ends (its streams send their last frames and
; the archives are finished). Aborts the section when it does not end.
!macro CLOSE_RUNNING_COPY un
Function ${un}CloseRunningCopy
  FindWindow $0 "${WINDOW_CLASS}"
  ${If} $0 = 0
    Return
  ${EndIf}
  MessageBox MB_OKCANCEL|MB_ICONINFORMATION "${PRODUCT} is running. It will be closed now; a stream on air stops." /SD IDOK IDOK close
  Abort "${PRODUCT} is still running."
close:
  ${Do}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2'
    SendMessage $0 ${WM_QUERYENDSESSION} 0 ${ENDSESSION_CLOSEAPP} /TIMEOUT=5000
    SendMessage $0 ${WM_ENDSESSION} 1 ${ENDSESSION_CLOSEAPP} /TIMEOUT=20000
    ${If} $2 P<> 0
      ; Ended means the process is gone, not only its window: its files are free then.
      System::Call 'kernel32::WaitForSingleObject(p r2, i 20000) i .r3'
      System::Call 'kernel32::CloseHandle(p r2)'
      ${If} $3 = 0
        Return
      ${EndIf}
    ${Else}
      Sleep 2000
      FindWindow $0 "${WINDOW_CLASS}"
      ${If} $0 = 0
        Return
      ${EndIf}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} did not close. Close it, then choose Retry." /SD IDCANCEL IDRETRY retry
    Abort "${PRODUCT} did not close."
  retry:
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 = 0
      Return
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_COPY ""
!insertmacro CLOSE_RUNNING_COPY "un."

Section "${PRODUCT}" SecProgram
  SectionIn RO
  Call CloseRunningCopy
  ; The licences are the setup's own: an upgrade leaves none of an older version's.
  ; config.dat, config.ini and the recordings are the user's and stay as they are.
  RMDir /r "$INSTDIR\LICENSES"
  !include "${LISTS}/files.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\KelmVantoro.exe" "" "$INSTDIR\KelmVantoro.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KelmVantoro.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Desktop shortcut" SecDesktop
  SetOutPath "$INSTDIR"
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\KelmVantoro.exe" "" "$INSTDIR\KelmVantoro.exe" 0
SectionEnd

; After the sections: /DESKTOP selects one by its index.
Function .onInit
  SetShellVarContext current
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DESKTOP" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecDesktop} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningCopy
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  ; "Start with Windows" of this copy only: a value naming another copy (an unpacked
  ; zip elsewhere) is that copy's.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  GetFullPathName /SHORT $1 "$INSTDIR\KelmVantoro.exe"
  ${If} $0 == "$INSTDIR\KelmVantoro.exe"
  ${OrIf} $0 == $1
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
  !include "${LISTS}/unfiles.nsh"

  ; The settings and the recordings made beside them are the user's: asked for, and
  ; kept by a silent uninstall.
  ${If} ${FileExists} "$INSTDIR\config.dat"
  ${OrIf} ${FileExists} "$INSTDIR\config.ini"
  ${OrIf} ${FileExists} "$INSTDIR\recordings\*.*"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Remove your settings and recordings too?$\r$\n$\r$\nThis deletes config.dat, config.ini and the folder recordings in $INSTDIR. Recordings kept in another folder are not touched." /SD IDNO IDNO keep
    Delete "$INSTDIR\config.dat"
    Delete "$INSTDIR\config.ini"
    RMDir /r "$INSTDIR\recordings"
  keep:
  ${EndIf}

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Last: a silent uninstall has ended once its uninstaller is gone.
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
