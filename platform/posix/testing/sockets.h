// BSD sockets under the names the loopback test server uses on both backends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform_testing {

using Socket = int;
constexpr Socket kNoSocket = -1;
// Shut down first: close alone does not wake a thread blocked in accept.
inline void CloseSocket(Socket s) {
  ::shutdown(s, SHUT_RDWR);
  ::close(s);
}
inline void ShutdownSend(Socket s) {
  ::shutdown(s, SHUT_WR);
}
// A peer that hung up gives an error, not SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;
struct SocketLibrary {};  // nothing to start

}  // namespace platform_testing
