// Where this system keeps its configuration on a machine without a registry:
// the settings folder and the serial port names an administrator maps in it.
// The settings store and the serial ports both read it from here, so the
// folder is decided in one place.
#pragma once

#include <string>

namespace config {

// The folder of this machine's settings: $CONFIGURATION_DIRECTORY when set
// (systemd hands it to a service; a list means its first folder), else
// /etc/quorvel.
std::string SettingsRoot();

// The device that stands for COM`number`: the administrator's link
// <settings root>/dosdevices/com<number> when there is one (even a dangling
// one: then the box is meant to be elsewhere and must not be looked for on a
// built-in port), else the built-in port /dev/ttyS<number - 1>.
std::string PortDevicePath(unsigned number);

// The socket on which chrony takes the service's samples: the path in the
// file `refclock-socket` of the settings folder when there is one, else
// /run/chrony.quorvel.sock.
std::string RefclockSocketPath();

}  // namespace config
