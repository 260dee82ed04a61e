// The registry as a hive file per view under <root>/registry, with the Windows
// rules the updater relies on: names compare without regard to ASCII case,
// keys are created with their parents, values carry a type, the 32-bit view is
// a hive of its own. Every write locks the hive, re-reads it, changes it and
// renames a new file into place, so a second process never sees a torn hive.
// Reads are served from a parsed copy kept per hive file, taken again only when
// the file's identity or change time says another hive was renamed into place.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>

#include "platform/ascii.h"
#include "platform/posix/posix_env_impl.h"

namespace platform {
namespace {

// "a\\b\" and "a\b" name the same key.
std::string NormalizeKeyPath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out.push_back(c);
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

class HiveStore {
 public:
  HiveStore(const std::string& root, bool view32)
      : dir_(root + "/registry"),
        file_(dir_ + (view32 ? "/HKLM32.hive" : "/HKLM.hive")),
        lock_(dir_ + "/.lock") {}

  // Runs fn on the hive; with write, under the lock, and stores the result
  // when fn returns kSuccess and says the hive changed. A reader takes no
  // lock: the hive file is only ever replaced whole by a rename, so it reads
  // either the old hive or the new one (and the debug switch is read before
  // every log entry).
  template <typename Fn>
  Status With(bool write, Fn fn) {
    int lockFd = -1;
    if (write) {
      Status s = EnsureDir();
      if (s != kSuccess) return s;
      lockFd = ::open(lock_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (lockFd < 0) return StatusFromErrno(errno);
      ::flock(lockFd, LOCK_EX);
    }
    Status s;
    {
      // One copy per hive file in the process, shared by the monitor thread
      // and the service control thread: the lock covers the use of the copy.
      std::lock_guard<std::mutex> guard(CacheLock());
      std::map<std::string, Cached>& cache = Cache();
      if (cache.size() > kCachedHives && cache.count(file_) == 0) cache.clear();  // tests use many roots
      Cached& cached = cache[file_];
      s = Load(&cached);
      bool changed = false;
      if (s == kSuccess) {
        if (write) {
          Hive copy = cached.hive;  // the copy stays as the file is until the new hive is stored
          s = fn(copy, changed);
          if (s == kSuccess && changed) s = Store(copy, &cached);
        } else {
          s = fn(cached.hive, changed);
        }
      }
    }
    if (lockFd >= 0) {
      ::flock(lockFd, LOCK_UN);
      ::close(lockFd);
    }
    return s;
  }

  // The hive may be changed by this process (the account may write it).
  bool Writable() const {
    if (::access(file_.c_str(), W_OK) == 0) return true;
    if (errno != ENOENT) return false;
    std::string d = dir_;
    while (::access(d.c_str(), F_OK) != 0) {
      size_t slash = d.rfind('/');
      if (slash == std::string::npos || slash == 0) return true;
      d.resize(slash);
    }
    return ::access(d.c_str(), W_OK) == 0;
  }

 private:
  Status EnsureDir() {
    std::string partial;
    for (size_t i = 1; i <= dir_.size(); ++i) {
      if (i == dir_.size() || dir_[i] == '/') {
        partial = dir_.substr(0, i);
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return StatusFromErrno(errno);
      }
    }
    return kSuccess;
  }

  static constexpr size_t kCachedHives = 16;

  // The parsed hive and the state of the file it was read from: the file is
  // only ever replaced by a rename (a new inode) and never written in place, so
  // an unchanged identity and change time mean an unchanged hive.
  struct Cached {
    bool valid = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {0, 0}, changed = {0, 0};
    Hive hive;
  };
  static std::mutex& CacheLock() {
    static std::mutex lock;
    return lock;
  }
  static std::map<std::string, Cached>& Cache() {
    static std::map<std::string, Cached> cache;
    return cache;
  }

  static bool Same(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  }
  static bool Matches(const Cached& cached, const struct stat& st) {
    return cached.valid && cached.device == st.st_dev && cached.inode == st.st_ino &&
           cached.size == st.st_size && Same(cached.modified, st.st_mtim) && Same(cached.changed, st.st_ctim);
  }
  static void Remember(Cached* cached, const struct stat& st) {
    cached->valid = true;
    cached->device = st.st_dev;
    cached->inode = st.st_ino;
    cached->size = st.st_size;
    cached->modified = st.st_mtim;
    cached->changed = st.st_ctim;
  }

  // Brings the copy up to the file: nothing is read while the file is the one
  // the copy came from. A missing file is an empty hive.
  Status Load(Cached* cached) {
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      cached->valid = false;
      cached->hive = Hive();
      return errno == ENOENT ? kSuccess : StatusFromErrno(errno);
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && Matches(*cached, st)) {
      ::close(fd);
      return kSuccess;
    }
    cached->valid = false;
    // Read to the end, sized by fstat: a hive file is replaced, never grown
    // in place, so one read usually does it.
    std::string text;
    // One byte over the size: the short read then tells the end was reached.
    size_t want = st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096;
    ssize_t n = 0;
    for (;;) {
      const size_t have = text.size();
      text.resize(have + want);
      do {
        n = ::read(fd, &text[have], want);
      } while (n < 0 && errno == EINTR);
      text.resize(have + (n > 0 ? static_cast<size_t>(n) : 0));
      if (n <= 0 || static_cast<size_t>(n) < want) break;
      want = 65536;  // the file was longer than fstat said
    }
    int err = errno;
    ::close(fd);
    if (n < 0) return StatusFromErrno(err);
    Hive hive;
    std::string error;
    if (!ParseHive(text, &hive, &error)) return kErrorInvalidData;  // refused whole: never half-read
    cached->hive = std::move(hive);
    if (static_cast<size_t>(st.st_size) == text.size()) Remember(cached, st);
    return kSuccess;
  }

  // Writes the hive and renames it into place; the copy then is the new hive.
  Status Store(Hive& hive, Cached* cached) {
    std::string text = SerializeHive(hive);
    std::string tmp = file_ + ".tmp." + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return StatusFromErrno(errno);
    size_t done = 0;
    while (done < text.size()) {
      ssize_t w = ::write(fd, text.data() + done, text.size() - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return StatusFromErrno(err);
      }
      done += static_cast<size_t>(w);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
      int err = errno;
      ::unlink(tmp.c_str());
      return StatusFromErrno(err);
    }
    if (::rename(tmp.c_str(), file_.c_str()) != 0) {
      int err = errno;
      ::unlink(tmp.c_str());
      return StatusFromErrno(err);
    }
    // Every writer holds the hive lock, so the file now in place is this hive
    // (its state read after the rename, which may touch the change time).
    cached->hive = std::move(hive);
    struct stat st;
    cached->valid = false;
    if (::stat(file_.c_str(), &st) == 0) Remember(cached, st);
    return kSuccess;
  }

  std::string dir_, file_, lock_;
};

HiveKey* FindKey(Hive& hive, const std::string& path) {
  for (HiveKey& k : hive.keys)
    if (EqualsNoCase(k.path, path)) return &k;
  return nullptr;
}

HiveValue* FindValue(HiveKey& key, const std::string& name) {
  for (HiveValue& v : key.values)
    if (EqualsNoCase(v.name, name)) return &v;
  return nullptr;
}

bool IsView32(uint32_t sam) {
  return (sam & kKeyWow64_32Key) != 0;
}
bool WantsWrite(uint32_t sam) {
  return (sam & (kKeySetValue | kKeyCreateSubKey)) != 0;
}

class PosixRegKey : public RegKey {
 public:
  PosixRegKey(const std::string& root, std::string path, uint32_t sam)
      : store_(root, IsView32(sam)), path_(std::move(path)), sam_(sam) {}

  Status QueryValue(const std::string& name, uint32_t* type, void* data, uint32_t* size) override {
    if ((sam_ & kKeyQueryValue) == 0) return kErrorAccessDenied;
    return store_.With(false, [&](Hive& hive, bool&) -> Status {
      HiveKey* key = FindKey(hive, path_);
      if (key == nullptr) return kErrorFileNotFound;  // deleted since it was opened
      HiveValue* v = FindValue(*key, name);
      if (v == nullptr) return kErrorFileNotFound;
      if (type != nullptr) *type = v->type;
      if (size == nullptr) return data == nullptr ? kSuccess : kErrorInvalidParameter;
      uint32_t have = *size;
      *size = static_cast<uint32_t>(v->data.size());
      if (data == nullptr) return kSuccess;
      if (have < v->data.size()) return kErrorMoreData;
      if (!v->data.empty()) std::memcpy(data, v->data.data(), v->data.size());
      return kSuccess;
    });
  }

  Status SetValue(const std::string& name, uint32_t type, const void* data, uint32_t size) override {
    if ((sam_ & kKeySetValue) == 0) return kErrorAccessDenied;
    if (name.size() > 16383) return kErrorInvalidParameter;
    return store_.With(true, [&](Hive& hive, bool& changed) -> Status {
      HiveKey* key = FindKey(hive, path_);
      if (key == nullptr) return kErrorFileNotFound;
      HiveValue* v = FindValue(*key, name);
      if (v == nullptr) {
        key->values.push_back(HiveValue{name, 0, std::string()});
        v = &key->values.back();
      }
      v->type = type;
      v->data.assign(static_cast<const char*>(data), size);
      changed = true;
      return kSuccess;
    });
  }

  Status DeleteValue(const std::string& name) override {
    if ((sam_ & kKeySetValue) == 0) return kErrorAccessDenied;
    return store_.With(true, [&](Hive& hive, bool& changed) -> Status {
      HiveKey* key = FindKey(hive, path_);
      if (key == nullptr) return kErrorFileNotFound;
      for (size_t i = 0; i < key->values.size(); ++i) {
        if (EqualsNoCase(key->values[i].name, name)) {
          key->values.erase(key->values.begin() + static_cast<std::ptrdiff_t>(i));
          changed = true;
          return kSuccess;
        }
      }
      return kErrorFileNotFound;
    });
  }

  Status EnumKey(uint32_t index, std::string* name, uint32_t maxLength) override {
    if ((sam_ & kKeyEnumerateSubKeys) == 0) return kErrorAccessDenied;
    return store_.With(false, [&](Hive& hive, bool&) -> Status {
      if (FindKey(hive, path_) == nullptr) return kErrorFileNotFound;
      std::string prefix = path_ + "\\";
      uint32_t n = 0;
      for (const HiveKey& k : hive.keys) {
        if (k.path.size() <= prefix.size() || !EqualsNoCase(k.path.substr(0, prefix.size()), prefix))
          continue;
        std::string rest = k.path.substr(prefix.size());
        if (rest.find('\\') != std::string::npos) continue;
        if (n++ == index) {
          if (rest.size() >= maxLength) return kErrorMoreData;
          *name = rest;
          return kSuccess;
        }
      }
      return kErrorNoMoreItems;
    });
  }

 private:
  HiveStore store_;
  std::string path_;
  uint32_t sam_;
};

class PosixRegistry : public Registry {
 public:
  explicit PosixRegistry(std::string root) : root_(std::move(root)) {}
  Status CreateKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) override;
  Status OpenKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) override;
  Status DeleteTree(const std::string& path, uint32_t sam) override;

 private:
  std::string root_;
};

}  // namespace

std::unique_ptr<Registry> NewBackendRegistry(const std::string& root) {
  return std::make_unique<PosixRegistry>(root);
}

Status PosixRegistry::CreateKey(const std::string& rawPath, uint32_t sam, std::unique_ptr<RegKey>* key) {
  std::string path = NormalizeKeyPath(rawPath);
  if (path.empty()) return kErrorInvalidParameter;
  HiveStore store(root_, IsView32(sam));
  const bool writable = store.Writable();
  // A key that is there is opened without the hive lock (every read of a
  // setting creates its key first).
  const bool exists = store.With(false, [&](Hive& hive, bool&) -> Status {
    return FindKey(hive, path) != nullptr ? kSuccess : kErrorFileNotFound;
  }) == kSuccess;
  Status s = exists ? kSuccess : store.With(writable, [&](Hive& hive, bool& changed) -> Status {
    if (FindKey(hive, path) != nullptr) return kSuccess;
    if (!writable) return kErrorAccessDenied;
    // The key and every missing parent, outermost first.
    for (size_t i = 0; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == '\\') {
        std::string part = path.substr(0, i);
        if (FindKey(hive, part) == nullptr) {
          hive.keys.push_back(HiveKey{part, {}});
          changed = true;
        }
      }
    }
    return kSuccess;
  });
  if (s != kSuccess) return s;
  if (WantsWrite(sam) && !writable) return kErrorAccessDenied;
  key->reset(new PosixRegKey(root_, path, sam));
  return kSuccess;
}

Status PosixRegistry::OpenKey(const std::string& rawPath, uint32_t sam, std::unique_ptr<RegKey>* key) {
  std::string path = NormalizeKeyPath(rawPath);
  if (path.empty()) return kErrorInvalidParameter;
  HiveStore store(root_, IsView32(sam));
  Status s = store.With(false, [&](Hive& hive, bool&) -> Status {
    return FindKey(hive, path) != nullptr ? kSuccess : kErrorFileNotFound;
  });
  if (s != kSuccess) return s;
  if (WantsWrite(sam) && !store.Writable()) return kErrorAccessDenied;
  key->reset(new PosixRegKey(root_, path, sam));
  return kSuccess;
}

Status PosixRegistry::DeleteTree(const std::string& rawPath, uint32_t sam) {
  std::string path = NormalizeKeyPath(rawPath);
  HiveStore store(root_, IsView32(sam));
  return store.With(true, [&](Hive& hive, bool& changed) -> Status {
    std::string prefix = path + "\\";
    size_t before = hive.keys.size();
    std::vector<HiveKey> kept;
    for (HiveKey& k : hive.keys) {
      bool below = EqualsNoCase(k.path, path) ||
                   (k.path.size() > prefix.size() && EqualsNoCase(k.path.substr(0, prefix.size()), prefix));
      if (!below) kept.push_back(std::move(k));
    }
    hive.keys.swap(kept);
    if (hive.keys.size() == before) return kErrorFileNotFound;
    changed = true;
    return kSuccess;
  });
}

}  // namespace platform
