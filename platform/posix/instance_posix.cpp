// One service instance per root: an advisory lock on a file under the root,
// held by an open descriptor, so it goes with the process however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_env_impl.h"

namespace platform {
namespace {

class FileInstanceLock : public InstanceLock {
 public:
  explicit FileInstanceLock(int fd) : fd_(fd) {}
  ~FileInstanceLock() override { ::close(fd_); }
  FileInstanceLock(const FileInstanceLock&) = delete;
  FileInstanceLock& operator=(const FileInstanceLock&) = delete;

 private:
  int fd_;
};

}  // namespace

Status LockInstanceFile(const std::string& root, const std::string& name,
                        std::unique_ptr<InstanceLock>* lock) {
  if (name.empty() || name.find_first_of("/\\") != std::string::npos) return kErrorInvalidParameter;
  if (::mkdir(root.c_str(), 0755) != 0 && errno != EEXIST) return StatusFromErrno(errno);
  // No link is followed and nothing but a plain file is locked; the open
  // never blocks (a FIFO put in its place would hold an open for writing).
  const std::string path = root + "/" + name + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return StatusFromErrno(errno);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kErrorAccessDenied;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? kErrorAlreadyExists : StatusFromErrno(err);
  }
  lock->reset(new FileInstanceLock(fd));
  return kSuccess;
}

}  // namespace platform
