; Pieces of the Windows installer (cmake/PackagingWindows.cmake), kept here so that
; their quotes reach NSIS as written.

; Waits until no copy of the program runs from DIR: a running exe cannot be opened
; for writing. Asks the operator to close it; a silent run gives up (exit status 2).
!macro BoxwrightCloseRunning DIR
  boxwright_check_running:
  IfFileExists "${DIR}\boxwright.exe" 0 boxwright_not_running
  ClearErrors
  FileOpen $R9 "${DIR}\boxwright.exe" a
  IfErrors 0 boxwright_free
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Boxwright is running. Close it, then click Retry." /SD IDCANCEL IDRETRY boxwright_check_running
    SetErrorLevel 2
    Abort "Boxwright is running."
  boxwright_free:
  FileClose $R9
  boxwright_not_running:
!macroend

; The relay's UDP socket may take datagrams from outside without a firewall prompt,
; which a standard user could not answer.
!define BOXWRIGHT_FIREWALL_RULE 'name="Boxwright relay" program="$INSTDIR\boxwright.exe"'

!macro BoxwrightAddFirewallRule
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule ${BOXWRIGHT_FIREWALL_RULE}'
  Pop $R8
  nsExec::ExecToLog 'netsh advfirewall firewall add rule ${BOXWRIGHT_FIREWALL_RULE} dir=in action=allow protocol=UDP profile=any enable=yes'
  Pop $R8
  DetailPrint "Firewall rule for the relay: netsh ended with $R8"
!macroend

!macro BoxwrightRemoveFirewallRule
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule ${BOXWRIGHT_FIREWALL_RULE}'
  Pop $R8
!macroend

; The Start-menu entry starts the program in the user's %LOCALAPPDATA% (expanded by
; Windows at each start), where its trace files go: standard users cannot write into
; the install folder.
!macro BoxwrightCreateShortcut
  StrCpy $OUTDIR "%LOCALAPPDATA%"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Boxwright.lnk" "$INSTDIR\boxwright.exe"
  SetOutPath "$INSTDIR"
!macroend

!macro BoxwrightDeleteShortcut
  Delete "$SMPROGRAMS\$MUI_TEMP\Boxwright.lnk"
!macroend

; Removes an installed version first, in place, once no copy of it runs.
!macro BoxwrightUninstallOld
  ReadRegStr $R8 HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Boxwright" "UninstallString"
  StrCmp $R8 "" boxwright_no_old_version
    ExecWait '$R8 /S _?=$INSTDIR'
  boxwright_no_old_version:
!macroend
