// One service instance per machine: a mutex named in the global namespace, so
// an instance in any session finds it. It lives while a handle to it is open,
// and so goes with the process however it ends.
#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

class MutexInstanceLock : public InstanceLock {
 public:
  explicit MutexInstanceLock(HANDLE h) : h_(h) {}
  ~MutexInstanceLock() override { ::CloseHandle(h_); }
  MutexInstanceLock(const MutexInstanceLock&) = delete;
  MutexInstanceLock& operator=(const MutexInstanceLock&) = delete;

 private:
  HANDLE h_;
};

}  // namespace

Status LockInstanceMutex(const std::string& name, std::unique_ptr<InstanceLock>* lock) {
  if (name.empty() || name.find('\\') != std::string::npos) return kErrorInvalidParameter;
  HANDLE h = ::CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
  const DWORD error = ::GetLastError();
  if (h == nullptr) {
    // A mutex made by another account that this one may not open is held too.
    const Status s = StatusFromLastError();
    return s == kErrorAccessDenied ? kErrorAlreadyExists : s;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(h);
    return kErrorAlreadyExists;
  }
  lock->reset(new MutexInstanceLock(h));
  return kSuccess;
}

}  // namespace platform
