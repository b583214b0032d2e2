; The lorvex installer for 64-bit Windows, for all users: both programs, the data files
; beside them, the user's guide and the licence in Program Files, a Start-menu shortcut,
; an uninstaller registered in "Apps & features", and, if chosen, the folder on the system
; PATH so that "lorvex" works at any prompt. Neither the installer nor the uninstaller
; changes anything while lorvex runs; neither leaves a file to be removed when Windows
; restarts (which would remove a later install's file), and the uninstaller never reports
; success with files left behind.
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
!define RUNNING_TEXT "lorvex is running. Close every lorvex window and any prompt where lorvex is moving files, then choose Retry."

Name "lorvex ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\lorvex"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "lorvex ${VERSION}"
; A file that cannot be written stops the install (a silent one with exit status 2) rather
; than being skipped.
AllowSkipFiles off

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "lorvex"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "lorvex ${VERSION} setup"
VIAddVersionKey "CompanyName" "lorvex contributors"
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

; Opens FILE, when it is there, for deleting and without sharing into HANDLE (0 when it is
; not there); jumps to LABEL when that fails, which it does while the program runs.
!macro OpenForRemoval FILE HANDLE LABEL
    StrCpy ${HANDLE} 0
    ${If} ${FileExists} "${FILE}"
        System::Call 'kernel32::CreateFileW(w "${FILE}", i 0x40010000, i 0, p 0, i 3, i 0, p 0) p .s'
        Pop ${HANDLE}
        ${If} ${HANDLE} = -1
            StrCpy ${HANDLE} 0
            Goto ${LABEL}
        ${EndIf}
    ${EndIf}
!macroend

; Closes HANDLE (when not 0, and sets it to 0); with DELETE 1 the file goes as it closes.
!macro CloseForRemoval HANDLE DELETE
    ${If} ${HANDLE} <> 0
        ; FileDispositionInfo: deleted when the last handle closes
        System::Call 'kernel32::SetFileInformationByHandle(p ${HANDLE}, i 4, *i ${DELETE}, i 4)'
        System::Call 'kernel32::CloseHandle(p ${HANDLE})'
        StrCpy ${HANDLE} 0
    ${EndIf}
!macroend

; Removes lorvex.exe and lorvex.com from $INSTDIR, both or neither, before anything else
; changes there. Both are held open without sharing before either is deleted: neither can
; be started meanwhile, so a lorvex started at any moment before finds them held, and one
; started after finds them gone. While lorvex runs the user closes it and retries, or
; cancels, and nothing has changed (silently: exit status 2).
!macro DefineTakeProgramsAway UN
Function ${UN}TakeProgramsAway
  again:
    StrCpy $R1 0  ; for the box, when lorvex.exe cannot be opened
    !insertmacro OpenForRemoval "$INSTDIR\lorvex.exe" $R0 running
    !insertmacro OpenForRemoval "$INSTDIR\lorvex.com" $R1 running
    !insertmacro CloseForRemoval $R0 1
    !insertmacro CloseForRemoval $R1 1
    ${IfNot} ${FileExists} "$INSTDIR\lorvex.exe"
    ${AndIfNot} ${FileExists} "$INSTDIR\lorvex.com"
        Return
    ${EndIf}
  running:
    !insertmacro CloseForRemoval $R0 0
    !insertmacro CloseForRemoval $R1 0
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${RUNNING_TEXT}" /SD IDCANCEL IDRETRY again
    SetErrorLevel 2
    Quit
FunctionEnd
!macroend
!insertmacro DefineTakeProgramsAway ""
!insertmacro DefineTakeProgramsAway "un."

Section "lorvex" SectionProgram
    SectionIn RO
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    Call TakeProgramsAway
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
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "lorvex contributors"
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

; Deletes NAME from $INSTDIR; a file that cannot be deleted is added to the list in $1.
!macro RemoveFile NAME
    ClearErrors
    Delete "$INSTDIR\${NAME}"
    ${If} ${Errors}
        StrCpy $1 "$1$\r$\n$INSTDIR\${NAME}"
        DetailPrint "Cannot remove $INSTDIR\${NAME}"
    ${EndIf}
!macroend

; When the uninstaller opens: a running lorvex (a window, a box or a move at a prompt) would
; keep its programs, so the user closes it first, or nothing is removed. The removal checks
; again as it starts (TakeProgramsAway), as lorvex may be started while this waits.
Function un.onInit
  check:
    !insertmacro JumpIfRunning "$INSTDIR\lorvex.exe" running
    !insertmacro JumpIfRunning "$INSTDIR\lorvex.com" running
    Return
  running:
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${RUNNING_TEXT}" /SD IDCANCEL IDRETRY check
    SetErrorLevel 2
    Quit
FunctionEnd

; Nothing is left to be removed when Windows restarts: such a delete would remove the file
; of the same name that a later install puts there. A file that cannot go now (another
; program holding it) is named, and lorvex stays in "Apps & features" with its
; uninstaller, to be removed again once that program has let it go.
Section "Uninstall"
    SetShellVarContext all
    Call un.TakeProgramsAway
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
    ${If} $0 == 2
        !insertmacro RemoveFromPath HKLM "${SYSTEM_ENVIRONMENT_KEY}"
    ${ElseIf} $0 == 1
        !insertmacro RemoveFromPath HKCU "${USER_ENVIRONMENT_KEY}"
    ${EndIf}
    Delete "$SMPROGRAMS\lorvex.lnk"
    StrCpy $1 ""
    !insertmacro RemoveFile "readme.txt"
    !insertmacro RemoveFile "LICENSE.txt"
    !insertmacro RemoveFile "cats.txt"
    !insertmacro RemoveFile "cats2.txt"
    !insertmacro RemoveFile "lorvex.ini"
    !insertmacro RemoveFile "lorvex2.ini"
    ${If} $1 != ""
        MessageBox MB_OK|MB_ICONSTOP \
            "lorvex was not removed completely: another program holds$1$\r$\nClose it, then uninstall lorvex again." \
            /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: anything else in the folder is the user's.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
