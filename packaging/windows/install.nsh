  ; Register the service through the program itself; it is not started.
  DetailPrint "Registering the Quorvel to PC clock setting service"
  nsExec::ExecToLog '"$INSTDIR\Ventrel.exe" -load'
  Pop $0
  MessageBox MB_OK|MB_ICONINFORMATION "The Quorvel to PC clock setting service is installed but not started.$\r$\n$\r$\nStart Moravel from the Start menu, choose the COM port, NTSC or PAL and local or system time, check the box with TEST/RUN and press SAVE. Then start the service (net start Quorvel_to_PC_Clock_Service) or restart the PC: it starts at every boot." /SD IDOK
