#include "platform/refclock_socket.h"

#include <utility>

namespace platform {

// No time daemon takes reference clock samples this way here.
std::string RefclockSocketPath() { return std::string(); }

bool RefclockSocketExists(const std::string&) { return false; }

RefclockSender::RefclockSender(std::string path)
    : m_path(std::move(path)), m_socket(-1) {}

RefclockSender::~RefclockSender() = default;

bool RefclockSender::Send(std::int64_t, std::int64_t) { return false; }

}  // namespace platform
