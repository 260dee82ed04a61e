// GETs each URL with WinINet as the backend opens it and prints "status N" or
// "error N": what WinINet makes of a server's certificate.
#include <windows.h>
#include <wininet.h>

#include <cstdio>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    HINTERNET root = InternetOpenA("InkoraUpdater", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlA(root, argv[i], nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request == nullptr) {
      std::printf("error %lu\n", GetLastError());
    } else {
      DWORD code = 0, size = sizeof code;
      HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr);
      std::printf("status %lu\n", code);
      InternetCloseHandle(request);
    }
    InternetCloseHandle(root);
  }
  return 0;
}
