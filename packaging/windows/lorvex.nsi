; The lorvex installer for 64-bit Windows, for all users: both programs, the data files
; beside them, the user's guide and the licence in Program Files, a Start-menu shortcut,
; an uninstaller registered in "Apps & features", and, if chosen, the folder on the system
; PATH so that "lorvex" works at any prompt. The uninstaller removes lorvex only once it
; has stopped running, and never reports success with files left behind.
; Built by CMake (make windows-package):
;   makensis -DVERSION=3.0.0 -DFILES=<staged files> -DICON=<lorvex.ico> -DOUTFILE=<setup.exe>
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel admin

!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "MUI2.nsh"
!include "StrFunc.nsh"
!include "WinMessages.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\lorvex"
!define USER_ENVIRONMENT_KEY "Environment"  ; where installers before 3.0.0 put the PATH entry
!define SYSTEM_ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "lorvex ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\lorvex"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "lorvex ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "lorvex"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "lorvex ${VERSION} setup"
VIAddVersionKey "CompanyName" "lorvex"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 the lorvex authors, MIT licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\readme.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the user's guide"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${FILES}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

${StrStr}
${UnStrRep}

Section "lorvex" SectionProgram
    SectionIn RO
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${FILES}\lorvex.exe"
    File "${FILES}\lorvex.com"
    File "${FILES}\readme.txt"
    File "${FILES}\LICENSE.txt"
    ; The lists and maps may have been replaced by the user's own; an update keeps them.
    SetOverwrite off
    File "${FILES}\cats.txt"
    File "${FILES}\cats2.txt"
    File "${FILES}\lorvex.ini"
    File "${FILES}\lorvex2.ini"
    SetOverwrite on

    CreateShortcut "$SMPROGRAMS\lorvex.lnk" "$INSTDIR\lorvex.exe" "" "$INSTDIR\lorvex.exe" 0 \
        SW_SHOWNORMAL "" "Sort a directory of .zip archives by category"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "lorvex"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "lorvex"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lorvex.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; NSIS strings hold 1024 characters; a longer PATH would come back cut short, so it is
; left alone rather than written back damaged.
Section "Add lorvex to the PATH (type lorvex at a prompt)" SectionPath
    ReadRegStr $0 HKLM "${SYSTEM_ENVIRONMENT_KEY}" "Path"
    StrLen $1 "$0$INSTDIR"
    ${If} $1 >= 1020
        DetailPrint "Your PATH is too long to change safely; add $INSTDIR to it yourself."
        Goto done
    ${EndIf}
    ${StrStr} $2 ";$0;" ";$INSTDIR;"
    ${If} $2 != ""
        Goto done  ; already there
    ${EndIf}
    ${If} $0 == ""
        StrCpy $0 "$INSTDIR"
    ${Else}
        StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
    WriteRegExpandStr HKLM "${SYSTEM_ENVIRONMENT_KEY}" "Path" "$0"
    ; Remembered, so that the uninstaller takes out only what the installer put in: 2 for
    ; the system PATH (1 was the user's, before 3.0.0).
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 2
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  done:
SectionEnd

; Takes $INSTDIR out of the PATH of ROOT\KEY (HKCU or HKLM).
!macro RemoveFromPath ROOT KEY
    ReadRegStr $1 ${ROOT} "${KEY}" "Path"
    StrLen $2 $1
    ${If} $2 < 1020
        ${UnStrRep} $1 ";$1;" ";$INSTDIR;" ";"
        ; Without the semicolons put around it above.
        StrCpy $1 $1 "" 1
        StrCpy $1 $1 -1
        ${If} $1 == ""
            DeleteRegValue ${ROOT} "${KEY}" "Path"
        ${Else}
            WriteRegExpandStr ${ROOT} "${KEY}" "Path" "$1"
        ${EndIf}
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
!macroend

; Jumps to LABEL when FILE is there and cannot be opened for writing and deleting by this
; installer alone: a program that is running is held open by the system.
!macro JumpIfRunning FILE LABEL
    ${If} ${FileExists} "${FILE}"
        ; GENERIC_WRITE | DELETE, no sharing, OPEN_EXISTING
        System::Call 'kernel32::CreateFileW(w "${FILE}", i 0x40010000, i 0, p 0, i 3, i 0, p 0) p .r0'
        ${If} $0 = -1
            Goto ${LABEL}
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r0)'
    ${EndIf}
!macroend

; Before anything is removed: a running lorvex (a window, a box or a move at a prompt)
; would keep its program and folder, so the user closes it first, or nothing is removed.
Function un.onInit
  check:
    !insertmacro JumpIfRunning "$INSTDIR\lorvex.exe" running
    !insertmacro JumpIfRunning "$INSTDIR\lorvex.com" running
    Return
  running:
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "lorvex is running. Close every lorvex window and any prompt where lorvex is moving files, then choose Retry." \
        /SD IDCANCEL IDRETRY check
    SetErrorLevel 2
    Quit
FunctionEnd

Section "Uninstall"
    SetShellVarContext all
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
    ${If} $0 == 2
        !insertmacro RemoveFromPath HKLM "${SYSTEM_ENVIRONMENT_KEY}"
    ${ElseIf} $0 == 1
        !insertmacro RemoveFromPath HKCU "${USER_ENVIRONMENT_KEY}"
    ${EndIf}

    ; A file that cannot go now (another program holding it) goes when Windows restarts.
    Delete "$SMPROGRAMS\lorvex.lnk"
    Delete /REBOOTOK "$INSTDIR\lorvex.exe"
    Delete /REBOOTOK "$INSTDIR\lorvex.com"
    Delete /REBOOTOK "$INSTDIR\readme.txt"
    Delete /REBOOTOK "$INSTDIR\LICENSE.txt"
    Delete /REBOOTOK "$INSTDIR\cats.txt"
    Delete /REBOOTOK "$INSTDIR\cats2.txt"
    Delete /REBOOTOK "$INSTDIR\lorvex.ini"
    Delete /REBOOTOK "$INSTDIR\lorvex2.ini"
    Delete /REBOOTOK "$INSTDIR\uninstall.exe"
    ; Only when empty: anything else in the folder is the user's.
    RMDir /REBOOTOK "$INSTDIR"
    ${If} ${RebootFlag}
        DetailPrint "Some files of lorvex are removed when Windows restarts."
        MessageBox MB_OK "lorvex will be removed completely when Windows restarts." /SD IDOK
    ${ElseIf} ${FileExists} "$INSTDIR\lorvex.exe"
    ${OrIf} ${FileExists} "$INSTDIR\lorvex.com"
        ; Kept in "Apps & features", so that it can be removed later.
        MessageBox MB_OK|MB_ICONSTOP "lorvex could not be removed from $INSTDIR." /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
