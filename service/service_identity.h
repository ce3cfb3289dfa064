// Who the service is, to the service manager, the event log and the console.
#pragma once

// The key under which the service manager knows the service; also the
// event source and the start of every event log entry.
inline constexpr char kServiceName[] = "Quorvel_to_PC_Clock_Service";
// The name people see: the service list and the console lines.
inline constexpr char kDisplayName[] = "Quorvel to PC clock setting service";
// The program's name in the help text, whatever the file is called.
inline constexpr char kProgramWord[] = "Ventrel";
