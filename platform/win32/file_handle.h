// A file or folder HANDLE that CloseHandle closes. Private to platform/win32/.
#pragma once

#include "platform/win32/windows_clean.h"

namespace platform {

class FileHandle {
 public:
  explicit FileHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  void reset(HANDLE h) {
    Close();
    h_ = h;
  }
  // CloseHandle's own result: a deferred write error can surface here.
  bool Close() {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    return ::CloseHandle(release()) != FALSE;
  }

 private:
  HANDLE h_;
};

}  // namespace platform
