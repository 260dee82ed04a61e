// Shared pieces of the Windows backend tests: a scratch folder below the
// system's temporary folder, and a registry key per test process.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace win32_testing {

// A folder of its own for one test, removed with everything in it afterwards.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& tag) {
    char tmp[MAX_PATH + 1] = {0};
    ::GetTempPathA(sizeof(tmp), tmp);
    path_ = std::string(tmp) + "inkora-win32-" + tag + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(::GetTickCount64());
    ::CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { RemoveTree(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  static void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE h = ::FindFirstFileA((folder + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = folder + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveTree(full);
        else
          ::DeleteFileA(full.c_str());
      } while (::FindNextFileA(h, &data));
      ::FindClose(h);
    }
    ::RemoveDirectoryA(folder.c_str());
  }

 private:
  std::string path_;
};

// A file's bytes, read without the Env.
inline std::string RawRead(const std::string& path) {
  std::string out;
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return out;
  char buf[4096];
  DWORD got = 0;
  while (::ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) out.append(buf, got);
  ::CloseHandle(h);
  return out;
}

inline void RawWrite(const std::string& path, const std::string& data) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << path;
  DWORD written = 0;
  ::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  ::CloseHandle(h);
}

}  // namespace win32_testing
}  // namespace platform
