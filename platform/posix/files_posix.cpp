// Files and folders. Paths come with "\" separators and are mapped to "/".
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/posix_env_impl.h"

namespace platform {
namespace {

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

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

Status PosixEnv::ListDirectory(const std::string& folder, std::vector<DirEntry>* entries) {
  std::string dir = ToPosixPath(folder);
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return StatusFromErrno(errno);
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = name;
    struct stat st;
    std::string full = dir;
    full.append("/").append(name);
    entry.isDirectory = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries->push_back(std::move(entry));
  }
  ::closedir(d);
  return kSuccess;
}

bool PosixEnv::PathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(ToPosixPath(path).c_str(), &st) == 0;
}

Status PosixEnv::CreateDirectory(const std::string& path) {
  if (::mkdir(ToPosixPath(path).c_str(), 0755) != 0) return StatusFromErrno(errno);
  return kSuccess;
}

Status PosixEnv::ReadFile(const std::string& path, std::string* data, uint64_t maxSize) {
  int fd = ::open(ToPosixPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return StatusFromErrno(errno);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kErrorAccessDenied;
  }
  if (static_cast<uint64_t>(st.st_size) > maxSize) {
    ::close(fd);
    return kErrorInvalidData;
  }
  data->clear();
  data->reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      return StatusFromErrno(err);
    }
    if (n == 0) break;
    if (data->size() + static_cast<size_t>(n) > maxSize) {  // grew while we read
      ::close(fd);
      return kErrorInvalidData;
    }
    data->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return kSuccess;
}

Status PosixEnv::WriteFileAtomic(const std::string& path, const std::string& data) {
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

Status PosixEnv::AppendFile(const std::string& path, const std::string& data) {
  int fd = ::open(ToPosixPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return StatusFromErrno(errno);
  // Other writers wait while this entry is written (deny-write sharing).
  ::flock(fd, LOCK_EX);
  Status s = WriteAll(fd, data);
  ::flock(fd, LOCK_UN);
  ::close(fd);
  return s;
}

Status PosixEnv::MoveFile(const std::string& from, const std::string& to) {
  std::string a = ToPosixPath(from), b = ToPosixPath(to);
  // Windows' rename never replaces an existing destination.
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return kSuccess;
  if (errno != EINVAL && errno != ENOSYS) return StatusFromErrno(errno);
  if (::link(a.c_str(), b.c_str()) != 0) return StatusFromErrno(errno);
  ::unlink(a.c_str());
  return kSuccess;
}

Status PosixEnv::DeleteFile(const std::string& path) {
  if (::unlink(ToPosixPath(path).c_str()) != 0) return StatusFromErrno(errno);
  return kSuccess;
}

Status PosixEnv::GetKnownFolder(KnownFolder folder, std::string* path) {
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

Status PosixEnv::GetModulePath(std::string* path) {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n < 0) return StatusFromErrno(errno);
  path->assign(buf, static_cast<size_t>(n));
  return kSuccess;
}

}  // namespace platform
