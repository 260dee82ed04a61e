// The Windows backend's root and its error-code helpers.
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

std::string BackendRoot() {
  return std::string();  // the machine itself
}

std::string NormalizeRoot(const std::string& root) {
  std::string out = root;
  while (out.size() > 3 && (out.back() == '\\' || out.back() == '/')) out.pop_back();
  return out;
}

}  // namespace platform
