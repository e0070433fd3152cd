; The interactive and silent (/S) installer, 64-bit. Built by makensis (Debian's nsis) from the
; install tree and the uninstaller's file list that the build generates from it:
;   makensis -DVERSION=<x.y.z> -DSTAGE=<install tree> -DFILE_LIST=<uninstall_files.nsh>
;            -DFRAGMENTS=<folder of package_facts.nsh> -DOUTFILE=<installer.exe>
;            [-DCMAKE=<cmake> -DSIGN_SCRIPT=<sign.cmake>] tarnwell.nsi
; Options: /S silent; /SERVER_IP=, /SERVER_PORT=, /ENABLE_CERTIFICATE_VERIFICATION= set that key
; of config\server.ini, also in a kept one (checked first, below); /D=<folder> last.
; wine64 and 64-bit Windows run only the amd64 stub without a 32-bit subsystem; the default
; x86 stub would also write the registry through the 32-bit view.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "FileFunc.nsh"
!include "StrFunc.nsh"
${StrStr}
!ifdef SIGN_SCRIPT
    ; The uninstaller is signed before it is packed, the installer once it is complete; both
    ; only when sign.cmake finds a key to sign with.
    !uninstfinalize '"${CMAKE}" "-DFILE=%1" -P "${SIGN_SCRIPT}"' = 0
    !finalize '"${CMAKE}" "-DFILE=%1" -P "${SIGN_SCRIPT}"' = 0
!endif
!include "${FRAGMENTS}/package_facts.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwell"

Name "Tarnwell sign-on agent"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tarnwell"
BrandingText "Tarnwell ${VERSION}"
VIProductVersion "${VERSION}.0"
; The same product name and version form as the programs it installs, so that one
; application-control rule can name them all.
VIAddVersionKey "CompanyName" "Tarnwell"
VIAddVersionKey "ProductName" "Tarnwell"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "FileDescription" "Tarnwell sign-on agent installer"
VIAddVersionKey "LegalCopyright" "Copyright (C) Tarnwell maintainers"

; The settings options are checked before anything is written, by the rules the MSI's check
; (settings_check.c) applies: a value that server.ini cannot hold as one plain value of its key
; ends the installer with exit code 2 and the reason, shown in a box (not when silent) and
; appended to %TEMP%\tarnwell-setup.log. Given empty, a setting counts as not given.
!define SERVER_IP_CHARS "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_:"

; $R9 is empty when every character of $R0 is one of $R1 (case counts), else "no".
Function tarnwell_only_chars
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    StrCpy $R9 ""
    StrCpy $R2 0
next_char:
    StrCpy $R3 $R0 1 $R2
    StrCmp $R3 "" done
    StrCpy $R4 0
next_allowed:
    StrCpy $R5 $R1 1 $R4
    StrCmp $R5 "" refused
    StrCmpS $R5 $R3 allowed
    IntOp $R4 $R4 + 1
    Goto next_allowed
allowed:
    IntOp $R2 $R2 + 1
    Goto next_char
refused:
    StrCpy $R9 "no"
done:
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
FunctionEnd

; The option $R3 ("/NAME=") of the parameters $0, read as the installer writes it (GetOptions):
; $R0 its value, empty when it is not given. $R9 is "no" when the command line holds the option
; in a form GetOptions reads otherwise (inside quotes, with a blank after "=", cut at a "/"),
; since the value written would not be the one given.
Function tarnwell_read_option
    Push $R2
    Push $R4
    Push $R5
    Push $R6
    StrCpy $R9 ""
    StrCpy $R6 ""
    ${StrStr} $R2 $0 $R3
    ClearErrors
    ${GetOptions} $0 $R3 $R0
    IfErrors 0 found
    StrCpy $R0 ""
    StrCmp $R2 "" done unreadable
found:
    StrCmp $R0 "" done
    StrLen $R4 $R3
    StrCpy $R2 $R2 "" $R4
    StrCpy $R5 $R2 1
    StrCmpS $R5 '"' 0 unquoted
    StrCpy $R2 $R2 "" 1
    StrCpy $R6 '"'
unquoted:
    StrLen $R4 $R0
    StrCpy $R5 $R2 $R4
    StrCmpS $R5 $R0 0 unreadable
    StrCpy $R5 $R2 1 $R4
    StrCmpS $R5 $R6 done
    StrCmpS $R6 "" 0 unreadable
    StrCmpS $R5 " " done unreadable
unreadable:
    StrCpy $R9 "no"
done:
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R2
FunctionEnd

Function .onInit
    Push $0
    Push $1
    ${GetParameters} $0
    ; NSIS keeps NSIS_MAX_STRLEN - 1 characters of the command line: a longer one would be read
    ; cut short.
    StrLen $1 $CMDLINE
    IntOp $R0 ${NSIS_MAX_STRLEN} - 1
    IntCmp $1 $R0 0 ip 0
    StrCpy $1 "The command line is longer than $R0 characters."
    Goto refuse
ip:
    StrCpy $R3 "/SERVER_IP="
    Call tarnwell_read_option
    StrCmp $R9 "" 0 ip_refused
    StrCmp $R0 "" port
    StrLen $1 $R0
    IntCmp $1 253 0 0 ip_refused
    StrCpy $R1 "${SERVER_IP_CHARS}"
    Call tarnwell_only_chars
    StrCmp $R9 "" port
ip_refused:
    StrCpy $1 "SERVER_IP must be a host name or IP address of at most 253 characters: ASCII letters, digits, '.', '-', '_' and ':' only."
    Goto refuse
port:
    StrCpy $R3 "/SERVER_PORT="
    Call tarnwell_read_option
    StrCmp $R9 "" 0 port_refused
    StrCmp $R0 "" switch
    StrLen $1 $R0
    IntCmp $1 5 0 0 port_refused
    StrCpy $1 $R0 1
    StrCmp $1 "0" port_refused
    StrCpy $R1 "0123456789"
    Call tarnwell_only_chars
    StrCmp $R9 "" 0 port_refused
    IntCmp $R0 65535 switch switch port_refused
port_refused:
    StrCpy $1 "SERVER_PORT must be a number from 1 to 65535."
    Goto refuse
switch:
    StrCpy $R3 "/ENABLE_CERTIFICATE_VERIFICATION="
    Call tarnwell_read_option
    StrCmp $R9 "" 0 switch_refused
    StrCmp $R0 "" checked
    StrCmpS $R0 "true" checked
    StrCmpS $R0 "false" checked
switch_refused:
    StrCpy $1 "ENABLE_CERTIFICATE_VERIFICATION must be true or false."
refuse:
    FileOpen $R0 "$TEMP\tarnwell-setup.log" a
    FileSeek $R0 0 END
    FileWrite $R0 "Tarnwell setup: $1$\r$\n"
    FileClose $R0
    MessageBox MB_OK|MB_ICONSTOP "$1" /SD IDOK
    SetErrorLevel 2
    Abort
checked:
    Pop $1
    Pop $0
FunctionEnd

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Agent"
    SetOutPath "$INSTDIR"
    File /r /x server.ini "${STAGE}/*"

    ; An edited server.ini survives a reinstall or an upgrade. Its time stamp as installed is
    ; kept, so that the uninstaller removes it only when nobody has changed it since.
    ; The settings given as options count as installed, a kept file's as edits.
    SetOutPath "$INSTDIR\config"
    IfFileExists "$INSTDIR\config\server.ini" settings_kept 0
    File "${STAGE}/config/server.ini"
    !insertmacro TARNWELL_SETTINGS_OPTIONS
    GetFileTime "$INSTDIR\config\server.ini" $0 $1
    WriteRegStr HKLM "${UNINSTALL_KEY}" "SettingsFileTime" "$0 $1"
    Goto settings_done
settings_kept:
    !insertmacro TARNWELL_SETTINGS_OPTIONS
settings_done:
    SetOutPath "$INSTDIR"

    !insertmacro TARNWELL_INSTALL_FACTS

    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tarnwell sign-on agent"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarnwell"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\tarnwell.exe",0'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    Push $0
    Push $1
    Push $2
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    Pop $2
    Pop $1
    Pop $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    !insertmacro TARNWELL_UNINSTALL_FACTS

    !include "${FILE_LIST}"

    Push $0
    Push $1
    Push $2
    ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "SettingsFileTime"
    GetFileTime "$INSTDIR\config\server.ini" $0 $1
    StrCmp $2 "$0 $1" 0 +2
    Delete "$INSTDIR\config\server.ini"
    Pop $2
    Pop $1
    Pop $0
    RMDir "$INSTDIR\config"

    Delete "$INSTDIR\Uninstall.exe"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; Stays while logs\ holds the users' logs.
    RMDir "$INSTDIR"
SectionEnd
