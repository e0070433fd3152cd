; The interactive and silent (/S) installer, 64-bit. Built by makensis (Debian's nsis) from the
; install tree and the uninstaller's file list that the build generates from it:
;   makensis -DVERSION=<x.y.z> -DSTAGE=<install tree> -DFILE_LIST=<uninstall_files.nsh>
;            -DFRAGMENTS=<folder of package_facts.nsh> -DOUTFILE=<installer.exe>
;            [-DCMAKE=<cmake> -DSIGN_SCRIPT=<sign.cmake>] tarnwell.nsi
; Options: /S silent; /SERVER_IP=, /SERVER_PORT=, /ENABLE_CERTIFICATE_VERIFICATION= set that key
; of config\server.ini, also in a kept one; /D=<folder> last.
; wine64 and 64-bit Windows run only the amd64 stub without a 32-bit subsystem; the default
; x86 stub would also write the registry through the 32-bit view.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "FileFunc.nsh"
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
