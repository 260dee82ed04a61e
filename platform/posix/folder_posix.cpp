// The folder handle over a directory descriptor: every call is an *at() call
// relative to it, and nothing follows a link (O_NOFOLLOW, AT_SYMLINK_NOFOLLOW).
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/posix_env_impl.h"

namespace platform {
namespace {

std::atomic<unsigned> g_tempCounter{0};

// A descriptor that closes with the object; Close reports a deferred write error.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

EntryKind KindOf(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
  if (!S_ISREG(st.st_mode)) return EntryKind::kSpecial;
  return st.st_nlink == 1 ? EntryKind::kFile : EntryKind::kHardLinks;
}

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

// The only flags a file of a served folder is opened with: no link, no wait on
// a FIFO, no controlling terminal from a device.
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

Status OpenFolderAt(int parent, const char* name, std::unique_ptr<Folder>* folder);

class PosixFolder : public Folder {
 public:
  explicit PosixFolder(int fd) : fd_(fd) {}
  ~PosixFolder() override { ::close(fd_); }

  Status List(std::vector<FolderEntry>* entries) override {
    // A descriptor of its own for the stream, which closedir closes; it shares
    // the position with fd_, so the listing starts again at the beginning.
    const int dup = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (dup < 0) return StatusFromErrno(errno);
    DIR* dir = ::fdopendir(dup);
    if (dir == nullptr) {
      const int err = errno;
      ::close(dup);
      return StatusFromErrno(err);
    }
    ::rewinddir(dir);
    Status s = kSuccess;
    for (size_t count = 0;; ++count) {
      if (count == kMaxFolderEntries) {
        s = kErrorMoreData;
        break;
      }
      errno = 0;
      const struct dirent* e = ::readdir(dir);
      if (e == nullptr) {
        s = StatusFromErrno(errno);  // 0 at the end
        break;
      }
      FolderEntry entry{e->d_name, EntryKind::kBadName};
      if (entry.name == "." || entry.name == "..") continue;
      if (IsPlainName(entry.name)) {
        struct stat st;
        if (::fstatat(fd_, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone since
        entry.kind = KindOf(st);
      }
      entries->push_back(std::move(entry));
    }
    ::closedir(dir);
    return s;
  }

  Status OpenFolder(const std::string& name, std::unique_ptr<Folder>* folder) override {
    if (!IsPlainName(name)) return kErrorInvalidName;
    return OpenFolderAt(fd_, name.c_str(), folder);
  }

  Status ReadFile(const std::string& name, uint64_t maxSize, std::string* data,
                  FileIdentity* identity) override {
    struct stat st;
    Status s = Check(name, &st);  // a special file is not even opened
    if (s != kSuccess) return s;
    Fd file(::openat(fd_, name.c_str(), O_RDONLY | kOpenFlags));
    if (file.get() < 0) return StatusFromErrno(errno);
    // What was opened is checked again: the entry may have been swapped since.
    if (::fstat(file.get(), &st) != 0) return StatusFromErrno(errno);
    if ((s = FileRefusal(KindOf(st))) != kSuccess) return s;
    if ((s = ReadAll(file.get(), static_cast<uint64_t>(st.st_size), maxSize, data)) != kSuccess) return s;
    if (identity != nullptr) *identity = IdentityOf(st);
    return kSuccess;
  }

  Status Identify(const std::string& name, FileIdentity* identity) override {
    struct stat st;
    const Status s = Check(name, &st);
    if (s == kSuccess) *identity = IdentityOf(st);
    return s;
  }

  Status ReplaceFile(const std::string& name, const std::string& data) override {
    struct stat old;
    Status s = Check(name, &old);
    const bool exists = s == kSuccess;
    if (!exists && s != kErrorFileNotFound) return s;
    const std::string tmp =
        name + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++);
    Fd file(::openat(fd_, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0600));
    if (file.get() < 0) return StatusFromErrno(errno);
    s = WriteAll(file.get(), data);
    // The owner first: a change of owner clears the mode's special bits, and
    // those are never copied anyway.
    if (s == kSuccess && exists && ::fchown(file.get(), old.st_uid, old.st_gid) != 0)
      s = StatusFromErrno(errno);
    if (s == kSuccess && ::fchmod(file.get(), exists ? (old.st_mode & 0777) : 0644) != 0)
      s = StatusFromErrno(errno);
    if (s == kSuccess && ::fsync(file.get()) != 0) s = StatusFromErrno(errno);
    if (!file.Close() && s == kSuccess) s = StatusFromErrno(errno);
    if (s == kSuccess && ::renameat(fd_, tmp.c_str(), fd_, name.c_str()) != 0) s = StatusFromErrno(errno);
    if (s != kSuccess) ::unlinkat(fd_, tmp.c_str(), 0);
    return s;
  }

  Status RenameFile(const std::string& name, const std::string& newName, Folder* target) override {
    struct stat st;
    Status s = Check(name, &st);
    if (s != kSuccess) return s;
    if (!IsPlainName(newName)) return kErrorInvalidName;
    int to = fd_;
    if (target != nullptr) {
      auto* folder = dynamic_cast<PosixFolder*>(target->Backend());
      if (folder == nullptr) return kErrorInvalidHandle;
      to = folder->fd_;
    }
    return RenameNoReplace(fd_, name.c_str(), to, newName.c_str());
  }

  Status DeleteFile(const std::string& name) override {
    struct stat st;
    const Status s = Check(name, &st);
    if (s != kSuccess) return s;
    return ::unlinkat(fd_, name.c_str(), 0) == 0 ? kSuccess : StatusFromErrno(errno);
  }

 private:
  // The entry itself (never a link's target) when it is a file the folder acts on.
  Status Check(const std::string& name, struct stat* st) {
    if (!IsPlainName(name)) return kErrorInvalidName;
    if (::fstatat(fd_, name.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) return StatusFromErrno(errno);
    return FileRefusal(KindOf(*st));
  }

  int fd_;
};

Status OpenFolderAt(int parent, const char* name, std::unique_ptr<Folder>* folder) {
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | kOpenFlags);
  if (fd < 0) {
    // A link to a folder is no folder here (ENOTDIR): say it is a link.
    struct stat st;
    if (errno == ENOTDIR && ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
      return kErrorStoppedOnSymlink;
    return StatusFromErrno(errno);
  }
  folder->reset(new PosixFolder(fd));
  return kSuccess;
}

}  // namespace

Status OpenPosixFolder(const std::string& path, std::unique_ptr<Folder>* folder) {
  if (path.empty()) return kErrorPathNotFound;
  std::unique_ptr<Folder> start;
  const bool absolute = path[0] == '\\' || path[0] == '/';
  const Status s = OpenFolderAt(AT_FDCWD, absolute ? "/" : ".", &start);
  return s != kSuccess ? s : WalkFolders(std::move(start), path, folder);
}

}  // namespace platform
