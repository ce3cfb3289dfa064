#include "setup/control_map.h"

#include <cstdlib>

namespace {

const char* MapPath() {
  const char* path = std::getenv("MORAVEL_CONTROL_MAP");
  return path != nullptr && *path != '\0' ? path : nullptr;
}

}  // namespace

bool CControlMap::Wanted() { return MapPath() != nullptr; }

CControlMap::CControlMap()
    : m_out(Wanted() ? std::fopen(MapPath(), "ab") : nullptr) {}

CControlMap::~CControlMap() {
  if (m_out != nullptr) std::fclose(m_out);
}

void CControlMap::BeginDialog(int dialogId) {
  if (m_out != nullptr) std::fprintf(m_out, "dialog %d\n", dialogId);
}

void CControlMap::Window(long x, long y, long width, long height) {
  if (m_out == nullptr) return;
  std::fprintf(m_out, "window %ld %ld %ld %ld\n", x, y, width, height);
}

void CControlMap::Control(const std::string& name, long x, long y, long width,
                          long height, unsigned checked, bool enabled,
                          const std::string& text) {
  if (m_out == nullptr) return;
  std::fprintf(m_out, "%s %ld %ld %ld %ld %u %d %s\n", name.c_str(), x, y,
               width, height, checked, enabled ? 1 : 0, text.c_str());
}

void CControlMap::Focus(int controlId) {
  if (m_out != nullptr) std::fprintf(m_out, "focus %d\n", controlId);
}

void CControlMap::EndDialog(int dialogId) {
  if (m_out != nullptr) std::fprintf(m_out, "end %d\n", dialogId);
}

void CControlMap::OpenMessageBox(std::string text) {
  if (m_out == nullptr) return;
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  std::fprintf(m_out, "messagebox %s\n", text.c_str());
}
