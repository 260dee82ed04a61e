// The Windows backend's entry points and its one error-code helper.
#include "platform/win32/win32_env.h"

#include "platform/win32/windows_clean.h"

namespace platform {

namespace {
constexpr Status kErrorGenFailure = 31;  // ERROR_GEN_FAILURE
}

Status StatusFromLastError() {
  DWORD code = ::GetLastError();
  return code == ERROR_SUCCESS ? kErrorGenFailure : static_cast<Status>(code);
}

Status StatusFromHresult(long hr) {
  if (hr >= 0) return kSuccess;
  if (HRESULT_FACILITY(hr) == FACILITY_WIN32) return static_cast<Status>(HRESULT_CODE(hr));
  return kErrorGenFailure;
}

Win32Env::Win32Env(std::string root) : root_(std::move(root)) {
  while (root_.size() > 3 && (root_.back() == '\\' || root_.back() == '/')) root_.pop_back();
}

Env* NewBackendEnv() {
  return new Win32Env(std::string());
}

std::unique_ptr<Env> NewIsolatedEnv(const std::string& root) {
  return std::unique_ptr<Env>(new Win32Env(root));
}

}  // namespace platform
