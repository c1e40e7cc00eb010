// A Unix socket bound at a path, for tests that meet one where a file was expected.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

namespace kelp::test {

/// The descriptor of a socket bound at `path`, for the caller to close; -1 when it
/// cannot be made.
inline int bindUnixSocket(const std::string& path) {
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (socket >= 0 && ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return socket;
  if (socket >= 0) ::close(socket);
  return -1;
}

}  // namespace kelp::test
