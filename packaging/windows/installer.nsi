; The Windows installer: a per-user install (no administrator) of VelmoraPlayer.exe to
; %LOCALAPPDATA%\Programs\VelmoraPlayer, a folder the user can write to, so Config.ini lives
; beside the program; the shortcuts start it there. scripts/package.sh builds it with
;   makensis -INPUTCHARSET UTF8 -DPROGRAM=... -DICON=... -DOUTFILE=... -DVERSION=1.0 \
;       -DWINDOW_CLASS=VelmoraPlayer
; (the version from project(VERSION), the class from ui/WinMain.cpp's MainWindowClassName)
; and, for the tests under wine64 only, again with -DARCH64 and the 64-bit program.
Unicode true
!ifdef ARCH64
    Target amd64-unicode
!else
    Target x86-unicode
!endif
!macro Required name
    !ifndef ${name}
        !error "define ${name} (makensis -D${name}=...)"
    !endif
!macroend
!insertmacro Required PROGRAM
!insertmacro Required ICON
!insertmacro Required OUTFILE
!insertmacro Required VERSION
!insertmacro Required WINDOW_CLASS
; -DSIGN=scripts/sign-windows.sh (package.sh, when it has signing material): the uninstaller
; is signed before it is packed, the installer once it is written (Authenticode, SHA-256).
!ifdef SIGN
    !uninstfinalize '"${SIGN}" "%1"' = 0
    !finalize '"${SIGN}" "%1"' = 0
!endif

!include MUI2.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define TITLE "Tessavo全集在线播放器"
!define PUBLISHER "Tessavo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlayer"
!define SHORTCUT "${TITLE}.lnk"

Name "${TITLE}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\VelmoraPlayer"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true
BrandingText "VelmoraPlayer ${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=2052 "ProductName" "VelmoraPlayer"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileDescription" "${TITLE} 安装程序"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "运行 ${TITLE}"
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

Section "${TITLE}（必需）" SectionProgram
    SectionIn RO
    ; SetOutPath also makes the folder the working directory of the shortcuts below.
    SetOutPath "$INSTDIR"
    ; An upgrade: Config.ini is the user's and stays as it is (the program brings its
    ; Version up to date at its next start). A running player holds its program file: it is
    ; closed first, and a program file that still cannot be written fails the install.
    Call CloseRunningPlayer
    SetOverwrite try
    StrCpy $1 0
    write:
        ClearErrors
        File "/oname=VelmoraPlayer.exe" "${PROGRAM}"
        IfErrors 0 written
        ; A player just closed may take a moment to let go of its file.
        IntOp $1 $1 + 1
        Sleep 200
        IntCmp $1 25 0 write
        MessageBox MB_RETRYCANCEL|MB_ICONSTOP "无法写入 $INSTDIR\VelmoraPlayer.exe。$\r$\n请关闭 ${TITLE}，然后点击“重试”。" \
            /SD IDCANCEL IDRETRY write
        SetErrorLevel 2
        Abort "无法写入 $INSTDIR\VelmoraPlayer.exe"
    written:
    SetOverwrite on
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\VelmoraPlayer.exe" "" \
        "$INSTDIR\VelmoraPlayer.exe" 0

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VelmoraPlayer.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "http://www.tessavo.example/"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "桌面快捷方式" SectionDesktop
    SetOutPath "$INSTDIR"
    CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\VelmoraPlayer.exe" "" \
        "$INSTDIR\VelmoraPlayer.exe" 0
SectionEnd

; Finds a running player by its main window's class. Interactive: asks the viewer to close
; it (重试 / 取消). Silent: sends it WM_CLOSE, as its close button does, and waits up to 10 s.
Function CloseRunningPlayer
    StrCpy $1 0
    check:
        FindWindow $0 "${WINDOW_CLASS}"
        IntCmp $0 0 gone
        IfSilent close
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${TITLE} 正在运行。$\r$\n请关闭它，然后点击“重试”继续安装；点击“取消”退出安装。" \
            IDRETRY check
        Abort "已取消安装"
    close:
        IntCmp $1 100 gone
        IntCmp $1 0 0 wait wait
        SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    wait:
        Sleep 100
        IntOp $1 $1 + 1
        Goto check
    gone:
FunctionEnd

; The finish page's "run" box: started in its folder, as the shortcuts do.
Function StartProgram
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\VelmoraPlayer.exe"'
FunctionEnd

Section "un.${TITLE}（必需）" SectionUninstallProgram
    SectionIn RO
    Delete "$INSTDIR\VelmoraPlayer.exe"
    ; This runs from a copy in %TEMP% that the uninstall.exe the user started launched; that
    ; one may still be ending (a silent uninstall gets here at once): try for a while.
    StrCpy $0 0
    retry:
        ClearErrors
        Delete "$INSTDIR\uninstall.exe"
        IfErrors 0 deleted
        IntOp $0 $0 + 1
        IntCmp $0 50 deleted
        Sleep 100
        Goto retry
    deleted:
    Delete "$SMPROGRAMS\${SHORTCUT}"
    Delete "$DESKTOP\${SHORTCUT}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; The settings stay unless the user asks: a later install picks them up again.
Section /o "un.同时删除设置文件 Config.ini" SectionUninstallSettings
    Delete "$INSTDIR\Config.ini"
SectionEnd

Section "-un.folder"
    ; Removed only when empty, i.e. when nothing of the user's is left in it.
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
SectionEnd
