#include "service/systemd_unit.h"

#include "service/service_identity.h"

namespace {

bool NeedsQuotes(const std::string& path) {
  return path.find_first_of(" \t\n\r\"'\\;") != std::string::npos;
}

}  // namespace

std::string QuoteUnitPath(const std::string& path) {
  const bool quoted = NeedsQuotes(path);
  std::string word = quoted ? "\"" : "";
  for (const char c : path) {
    if (c == '%') {
      word += "%%";
    } else if (quoted && (c == '"' || c == '\\')) {
      word += '\\';
      word += c;
    } else if (c == '\n' || c == '\r') {
      // A raw one would end the unit's line in the middle of the path.
      word += c == '\n' ? "\\n" : "\\r";
    } else {
      word += c;
    }
  }
  if (quoted) word += '"';
  return word;
}

std::string RenderUnit(const std::string& programPath) {
  std::string unit;
  unit += "[Unit]\n";
  unit += "Description=" + std::string(kDisplayName) + "\n";
  unit += "\n[Service]\n";
  unit += "Type=notify\n";
  unit += "NotifyAccess=main\n";
  unit += "ExecStart=" + QuoteUnitPath(programPath) + "\n";
  // The stop takes a little over five seconds: the worker's closing pause.
  unit += "TimeoutStopSec=30\n";
  unit += "DynamicUser=yes\n";
  unit += "SupplementaryGroups=dialout\n";
  unit += "AmbientCapabilities=CAP_SYS_TIME\n";
  unit += "CapabilityBoundingSet=CAP_SYS_TIME\n";
  unit += "NoNewPrivileges=yes\n";
  // The settings folder belongs to root; the setup program writes it, the
  // service only reads it.
  unit += "ConfigurationDirectory=quorvel\n";
  unit += "ConfigurationDirectoryMode=0755\n";
  unit += "ProtectSystem=strict\n";
  unit += "ProtectHome=yes\n";
  unit += "PrivateTmp=yes\n";
  unit += "DevicePolicy=closed\n";
  unit += "DeviceAllow=char-ttyS rw\n";
  unit += "DeviceAllow=char-ttyUSB rw\n";
  unit += "DeviceAllow=char-ttyACM rw\n";
  unit += "DeviceAllow=char-pts rw\n";
  unit += "\n[Install]\n";
  unit += "WantedBy=multi-user.target\n";
  return unit;
}
