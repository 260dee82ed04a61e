// Files and folders by path, the known folders under the root, the program
// file and its version resource. Paths come with "\" separators and are mapped to "/".
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/posix_env_impl.h"

#ifndef INKORA_VERSION_COMMAS
#define INKORA_VERSION_COMMAS "1, 0, 0, 0"
#endif

namespace platform {

Status WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t w = ::write(fd, data.data() + done, data.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return StatusFromErrno(errno);
    }
    done += static_cast<size_t>(w);
  }
  return kSuccess;
}

namespace {
std::atomic<unsigned> g_tempCounter{0};

// Takes the write lock of an open file as deny-write sharing does: another
// writer holds it only for one write, so it is asked for again every 10 ms for
// about a second, as the Windows backend retries a refused open; after that
// the caller gives up rather than wait on a holder that may never let go.
bool LockForWriting(int fd) {
  constexpr int kTries = 100;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    ::usleep(10000);
  }
  return false;
}

}  // namespace

Status ReadAll(int fd, uint64_t size, uint64_t maxSize, std::string* data) {
  if (size > maxSize) return kErrorInvalidData;
  std::string out;
  out.reserve(static_cast<size_t>(size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n < 0) {
      if (errno == EINTR) continue;
      return StatusFromErrno(errno);
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > maxSize) return kErrorInvalidData;  // grew while read
    out.append(buf, static_cast<size_t>(n));
  }
  data->swap(out);
  return kSuccess;
}

Status RenameNoReplace(int fromFolder, const char* from, int toFolder, const char* to) {
  // Windows' rename never replaces an existing destination.
  if (::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0) return kSuccess;
  if (errno != EINVAL && errno != ENOSYS) return StatusFromErrno(errno);
  // A file system without the flag: a second name (never a link's target), then the first goes.
  if (::linkat(fromFolder, from, toFolder, to, 0) != 0) return StatusFromErrno(errno);
  ::unlinkat(fromFolder, from, 0);
  return kSuccess;
}

namespace {

// The program's version resource, as the Windows build carries it.
class BuiltinVersionResource : public VersionResource {
 public:
  bool HasFixedInfo() override { return true; }
  bool QueryTranslation(std::string* table) override {
    const unsigned char t[4] = {0x09, 0x04, 0xB0, 0x04};  // language 0409, code page 04B0
    table->assign(reinterpret_cast<const char*>(t), 4);
    return true;
  }
  bool QueryString(const std::string& subBlock, std::string* value) override {
    if (subBlock == "\\StringFileInfo\\040904B0\\FileVersion") {
      *value = INKORA_VERSION_COMMAS;
      return true;
    }
    if (subBlock == "\\StringFileInfo\\040904B0\\ProductName") {
      *value = "Inkora Updater";
      return true;
    }
    return false;
  }
};

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(std::string root) : root_(std::move(root)) {}

  Status OpenFolder(const std::string& path, std::unique_ptr<Folder>* folder) override {
    return OpenPosixFolder(path, folder);
  }

  bool PathExists(const std::string& path) override {
    struct stat st;
    return !path.empty() && ::stat(ToPosixPath(path).c_str(), &st) == 0;
  }
  Status CreateFolder(const std::string& path) override {
    if (::mkdir(ToPosixPath(path).c_str(), 0755) != 0) return StatusFromErrno(errno);
    return kSuccess;
  }
  Status ReadFile(const std::string& path, std::string* data, uint64_t maxSize) override {
    const int fd = ::open(ToPosixPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return StatusFromErrno(errno);
    struct stat st;
    const Status s = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)
                         ? kErrorAccessDenied
                         : ReadAll(fd, static_cast<uint64_t>(st.st_size), maxSize, data);
    ::close(fd);
    return s;
  }
  Status WriteFileAtomic(const std::string& path, const std::string& data) override {
    std::string target = ToPosixPath(path);
    std::string tmp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return StatusFromErrno(errno);
    Status s = WriteAll(fd, data);
    if (s == kSuccess && ::fsync(fd) != 0) s = StatusFromErrno(errno);
    if (::close(fd) != 0 && s == kSuccess) s = StatusFromErrno(errno);
    if (s == kSuccess && ::rename(tmp.c_str(), target.c_str()) != 0) s = StatusFromErrno(errno);
    if (s != kSuccess) ::unlink(tmp.c_str());
    return s;
  }
  Status AppendFile(const std::string& path, const std::string& data) override {
    int fd = ::open(ToPosixPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return StatusFromErrno(errno);
    if (!LockForWriting(fd)) {
      ::close(fd);
      return kErrorSharingViolation;
    }
    Status s = WriteAll(fd, data);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return s;
  }
  Status GetFileSize(const std::string& path, uint64_t* size) override {
    struct stat st;
    if (::stat(ToPosixPath(path).c_str(), &st) != 0) return StatusFromErrno(errno);
    *size = static_cast<uint64_t>(st.st_size);
    return kSuccess;
  }
  Status RotateFile(const std::string& path, const std::string& aside) override {
    const std::string from = ToPosixPath(path), to = ToPosixPath(aside);
    if (::rename(from.c_str(), to.c_str()) == 0) return kSuccess;
    // A hardened unit may write the two files but not the folder (each is bound
    // into a read-only tree): copy over aside, then empty path, under its lock.
    if (errno != EBUSY && errno != EXDEV && errno != EROFS && errno != EACCES && errno != EPERM)
      return StatusFromErrno(errno);
    const int in = ::open(from.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) return StatusFromErrno(errno);
    const int out = ::open(to.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    Status s = out < 0 ? StatusFromErrno(errno) : LockForWriting(in) ? kSuccess : kErrorSharingViolation;
    char buf[65536];
    ssize_t n = 0;
    while (s == kSuccess && (n = ::read(in, buf, sizeof buf)) != 0) {
      if (n < 0 && errno == EINTR) continue;
      s = n < 0 ? StatusFromErrno(errno) : WriteAll(out, std::string(buf, static_cast<size_t>(n)));
    }
    if (s == kSuccess && ::ftruncate(in, 0) != 0) s = StatusFromErrno(errno);
    if (out >= 0) ::close(out);
    ::close(in);  // lets go of the lock
    return s;
  }
  Status DeleteFile(const std::string& path) override {
    if (::unlink(ToPosixPath(path).c_str()) != 0) return StatusFromErrno(errno);
    return kSuccess;
  }
  Status GetKnownFolder(KnownFolder folder, std::string* path) override {
    switch (folder) {
      case KnownFolder::kCommonAppData:
      case KnownFolder::kCommonAppDataCurrent:
        *path = root_ + "/ProgramData";
        return kSuccess;
      case KnownFolder::kPublicDocuments:
        *path = root_ + "/Users/Public/Documents";
        return kSuccess;
    }
    return kErrorInvalidParameter;
  }
  Status GetModulePath(std::string* path) override {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n < 0) return StatusFromErrno(errno);
    path->assign(buf, static_cast<size_t>(n));
    return kSuccess;
  }
  Status LoadVersionResource(const std::string& path, std::unique_ptr<VersionResource>* res) override {
    // Only the running program carries the resource.
    std::string self;
    if (GetModulePath(&self) != kSuccess || ToPosixPath(path) != self) return kErrorResourceTypeNotFound;
    res->reset(new BuiltinVersionResource);
    return kSuccess;
  }

 private:
  std::string root_;
};

}  // namespace

std::unique_ptr<FileSystem> NewBackendFileSystem(const std::string& root) {
  return std::make_unique<PosixFileSystem>(root);
}

}  // namespace platform
