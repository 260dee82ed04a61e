// The POSIX backend's root, and the one place where a POSIX error becomes the
// Windows code of the same failure.
#include <cerrno>
#include <cstdlib>

#include "platform/posix/posix_env_impl.h"

namespace platform {

std::string DefaultPosixRoot() {
  const char* root = std::getenv("INKORA_ROOT");
  return (root != nullptr && *root != '\0') ? std::string(root) : std::string("/var/lib/inkoraupdater");
}

std::string BackendRoot() {
  return DefaultPosixRoot();
}

std::string NormalizeRoot(const std::string& root) {
  std::string out = root;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string ToPosixPath(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

Status StatusFromErrno(int err) {
  switch (err) {
    case 0:
      return kSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EEXIST:
    case ENOTEMPTY:
      return kErrorAlreadyExists;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
      return 112;  // ERROR_DISK_FULL
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EIO:
      return kErrorWriteFault;
    case ELOOP:  // O_NOFOLLOW met a link
      return kErrorStoppedOnSymlink;
    case ENXIO:  // a socket, or a device without its driver
      return kErrorBadFileType;
    case ETIMEDOUT:
      return kErrorTimeout;
    case ENOSYS:
      return kErrorCallNotImplemented;
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

}  // namespace platform
