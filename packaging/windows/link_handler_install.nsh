; Appended to the installer's main section.
;
; The tarnwell: link handler, for every user of the machine. Written under HKLM\Software\Classes
; rather than through HKCR: a write through HKCR lands in the installing account's own classes
; when that account already has a tarnwell key, and the handler would then be registered for
; that account alone.
WriteRegStr HKLM "Software\Classes\tarnwell" "" "URL:tarnwell Protocol"
WriteRegStr HKLM "Software\Classes\tarnwell" "URL Protocol" ""
WriteRegStr HKLM "Software\Classes\tarnwell\DefaultIcon" "" '"$INSTDIR\tarnwell.exe",0'
WriteRegStr HKLM "Software\Classes\tarnwell\shell\open\command" "" '"$INSTDIR\tarnwell.exe" "%1"'

; The agent writes its daily log into logs\ beside itself. Users may create files there but not
; list the folder; each file belongs to the user who created it alone (CREATOR OWNER), so one
; user can neither read nor delete another user's sign-on lines. Inherited rights of the
; install folder (Users may read everything) are cut off.
CreateDirectory "$INSTDIR\logs"
Push $0
nsExec::Exec '"$SYSDIR\icacls.exe" "$INSTDIR\logs" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(WD,X,RA,REA,S) *S-1-3-0:(OI)(CI)(IO)F'
Pop $0
Pop $0
