// systemd's readiness and status channel without its library: one datagram
// to the socket named in $NOTIFY_SOCKET, which systemd documents as a stable
// interface of its own. A name beginning with '@' is in the abstract
// namespace (the '@' stands for the leading NUL byte).
#pragma once

namespace platform {

// Sends `message` as one datagram. Returns 1 when it was sent; 0 with errno
// set otherwise: ENOTCONN when there is no $NOTIFY_SOCKET, EAFNOSUPPORT for a
// socket name that is neither a path nor an abstract name, ENAMETOOLONG for
// one that does not fit an address.
int SendServiceNotification(const char* message);

}  // namespace platform
