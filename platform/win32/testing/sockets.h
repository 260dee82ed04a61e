// Winsock under the names the loopback test server uses on both backends.
#pragma once

#include "platform/win32/windows_clean.h"
// clang-format off: after <windows.h>, which is lean and so brings no winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

namespace platform_testing {

using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
inline void CloseSocket(Socket s) {
  ::closesocket(s);
}
inline void ShutdownSend(Socket s) {
  ::shutdown(s, SD_SEND);
}
constexpr int kSendFlags = 0;
struct SocketLibrary {
  SocketLibrary() {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
  }
  ~SocketLibrary() { ::WSACleanup(); }
};

}  // namespace platform_testing
