// The unit file that installs Ventrel under systemd. Pure text that needs
// nothing but the service's identity, so a build step can write the same
// file into a package that `ventrel -load` writes on the machine.
#pragma once

#include <string>

// The unit for the service program at `programPath`: started at boot, told
// apart by its status notifications, and run with the least it needs (an
// unprivileged user, the serial group, the right to set the clock and no
// other, a read-only view of the settings folder).
std::string RenderUnit(const std::string& programPath);

// A program path as one word of an ExecStart= line: quoted when it holds
// blanks, line breaks, quotes, backslashes or semicolons, line breaks as the
// escapes \n and \r, and with '%' doubled so that systemd does not take it
// for a specifier.
std::string QuoteUnitPath(const std::string& path);
