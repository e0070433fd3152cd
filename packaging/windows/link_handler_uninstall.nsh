; Appended to the uninstaller's section, before the installed files are removed.
;
; The link handler is removed only while it still starts this copy of the agent, so that
; uninstalling an old copy does not unregister a newer one installed elsewhere.
Push $0
ReadRegStr $0 HKLM "Software\Classes\tarnwell\shell\open\command" ""
StrCmp $0 '"$INSTDIR\tarnwell.exe" "%1"' 0 +2
DeleteRegKey HKLM "Software\Classes\tarnwell"
Pop $0
