  ; Stop and remove the service before its program goes.
  DetailPrint "Removing the Quorvel to PC clock setting service"
  nsExec::ExecToLog '"$INSTDIR\Ventrel.exe" -unload'
  Pop $0
  MessageBox MB_YESNO|MB_ICONQUESTION "Remove the saved box settings (COM port, NTSC or PAL, local or system time) as well?" /SD IDNO IDNO quorvel_keep_settings
    DeleteRegKey HKLM "SYSTEM\CurrentControlSet\Services\QuorvelToClk"
  quorvel_keep_settings:
