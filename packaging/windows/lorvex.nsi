; The lorvex installer for 64-bit Windows: both programs, the data files beside them and
; the user's guide in Program Files, a Start-menu shortcut, an uninstaller registered in
; "Apps & features", and, if chosen, the folder on the user's PATH so that "lorvex" works
; at a prompt. Built by CMake (make windows-package):
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
!define ENVIRONMENT_KEY "Environment"

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
VIAddVersionKey "LegalCopyright" "lorvex developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\readme.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the user's guide"
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
Section "Add lorvex to my PATH (type lorvex at a prompt)" SectionPath
    ReadRegStr $0 HKCU "${ENVIRONMENT_KEY}" "Path"
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
    WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$0"
    ; Remembered, so that the uninstaller takes out only what the installer put in.
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  done:
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
    ${If} $0 == 1
        ReadRegStr $1 HKCU "${ENVIRONMENT_KEY}" "Path"
        StrLen $2 $1
        ${If} $2 < 1020
            ${UnStrRep} $1 ";$1;" ";$INSTDIR;" ";"
            ; Without the semicolons put around it above.
            StrCpy $1 $1 "" 1
            StrCpy $1 $1 -1
            ${If} $1 == ""
                DeleteRegValue HKCU "${ENVIRONMENT_KEY}" "Path"
            ${Else}
                WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$1"
            ${EndIf}
            SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
        ${EndIf}
    ${EndIf}

    Delete "$SMPROGRAMS\lorvex.lnk"
    Delete "$INSTDIR\lorvex.exe"
    Delete "$INSTDIR\lorvex.com"
    Delete "$INSTDIR\readme.txt"
    Delete "$INSTDIR\cats.txt"
    Delete "$INSTDIR\cats2.txt"
    Delete "$INSTDIR\lorvex.ini"
    Delete "$INSTDIR\lorvex2.ini"
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: anything else in the folder is the user's.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
