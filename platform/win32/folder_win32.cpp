// The folder handle over a directory HANDLE. Windows opens files by path, so
// every file is opened with FILE_FLAG_OPEN_REPARSE_POINT below the folder's
// final path ("\\?\" form: no DOS device names) and then judged by its handle:
// a disk file, no reparse point, one link, and a final path that is the one
// asked for. Wine follows a link even with the flag, and shows a link to a file
// without the reparse attribute: the final path is what catches it there.
// Renames and deletes go through the same handle. The folder is held open
// without FILE_SHARE_DELETE, so it cannot be moved away while it is used.
#include <atomic>
#include <cstring>

#include "platform/win32/file_handle.h"
#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

std::atomic<unsigned> g_tempCounter{0};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;

std::string FinalPath(HANDLE h) {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD n = ::GetFinalPathNameByHandleA(h, &path[0], static_cast<DWORD>(path.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(n + 1);
  }
}

bool SamePath(const std::string& a, const std::string& b) {
  return !a.empty() &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// What the entry behind an open handle is, when the handle must have the path expected.
EntryKind KindOfHandle(HANDLE h, const std::string& expected, BY_HANDLE_FILE_INFORMATION* info) {
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, info))
    return EntryKind::kSpecial;
  if (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kReparsePoint;
  if (!SamePath(FinalPath(h), expected)) return EntryKind::kLink;
  if (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kFolder;
  return info->nNumberOfLinks == 1 ? EntryKind::kFile : EntryKind::kHardLinks;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {(static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
          static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                               info.ftLastWriteTime.dwLowDateTime)};
}

// Renames the file of the handle to a full path (in "\\?\" form), which the
// call wants as an NT path ("\??\").
Status RenameHandle(HANDLE h, const std::string& path, bool replace) {
  std::string nt = path;
  if (nt.compare(0, 4, "\\\\?\\") == 0) nt[1] = '?', nt[2] = '?';
  const int chars = ::MultiByteToWideChar(CP_ACP, 0, nt.data(), static_cast<int>(nt.size()), nullptr, 0);
  if (chars <= 0) return StatusFromLastError();
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + static_cast<size_t>(chars) * sizeof(WCHAR));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(chars * sizeof(WCHAR));
  ::MultiByteToWideChar(CP_ACP, 0, nt.data(), static_cast<int>(nt.size()), info->FileName, chars);
  if (::SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buffer.size())))
    return kSuccess;
  const Status s = StatusFromLastError();
  return s == kErrorFileExists ? kErrorAlreadyExists : s;
}

Status DeleteHandle(HANDLE h) {
  FILE_DISPOSITION_INFO info = {TRUE};
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof(info)) ? kSuccess
                                                                                   : StatusFromLastError();
}

class Win32Folder : public Folder {
 public:
  Win32Folder(HANDLE h, std::string path) : handle_(h), path_(std::move(path)) {}

  Status List(std::vector<FolderEntry>* entries) override {
    std::vector<char> buffer(64 * 1024);
    size_t count = 0;  // "." and ".." among them
    for (auto kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
      if (!::GetFileInformationByHandleEx(handle_.get(), kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size()))) {
        const Status s = StatusFromLastError();
        return s == ERROR_NO_MORE_FILES ? kSuccess : s;
      }
      for (size_t at = 0;;) {
        if (++count > kMaxFolderEntries) return kErrorMoreData;
        const auto* e = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
        Classify(e, entries);
        if (e->NextEntryOffset == 0) break;
        at += e->NextEntryOffset;
      }
    }
  }

  Status OpenFolder(const std::string& name, std::unique_ptr<Folder>* folder) override {
    if (!IsPlainName(name)) return kErrorInvalidName;
    const std::string path = Child(name);
    FileHandle h(::CreateFileA(path.c_str(), kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr));
    if (!h.valid()) return StatusFromLastError();
    BY_HANDLE_FILE_INFORMATION info;
    const EntryKind kind = KindOfHandle(h.get(), path, &info);
    if (kind == EntryKind::kFile || kind == EntryKind::kHardLinks) return kErrorPathNotFound;
    if (kind != EntryKind::kFolder) return FileRefusal(kind);
    std::string final = FinalPath(h.get());
    folder->reset(new Win32Folder(h.release(), std::move(final)));
    return kSuccess;
  }

  Status ReadFile(const std::string& name, uint64_t maxSize, std::string* data,
                  FileIdentity* identity) override {
    FileHandle h;
    BY_HANDLE_FILE_INFORMATION info;
    Status s = OpenChecked(name, GENERIC_READ, &h, &info);
    if (s != kSuccess) return s;
    const FileIdentity state = IdentityOf(info);
    if ((s = ReadAll(h.get(), state.size, maxSize, data)) != kSuccess) return s;
    if (identity != nullptr) *identity = state;
    return kSuccess;
  }

  Status Identify(const std::string& name, FileIdentity* identity) override {
    FileHandle h;
    BY_HANDLE_FILE_INFORMATION info;
    const Status s = OpenChecked(name, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &h, &info);
    if (s == kSuccess) *identity = IdentityOf(info);
    return s;
  }

  Status ReplaceFile(const std::string& name, const std::string& data) override {
    {
      FileHandle old;
      BY_HANDLE_FILE_INFORMATION info;
      const Status s = OpenChecked(name, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &old, &info);
      if (s != kSuccess && s != kErrorFileNotFound) return s;
    }
    const std::string tmp =
        name + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(g_tempCounter++);
    // The new file takes the folder's inherited security, as the old one had.
    FileHandle h(::CreateFileA(Child(tmp).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid()) return StatusFromLastError();
    BY_HANDLE_FILE_INFORMATION info;
    Status s = FileRefusal(KindOfHandle(h.get(), Child(tmp), &info));
    if (s == kSuccess) s = WriteAll(h.get(), data);
    if (s == kSuccess && !::FlushFileBuffers(h.get())) s = StatusFromLastError();
    if (s == kSuccess) s = RenameHandle(h.get(), Child(name), true);
    if (s != kSuccess) DeleteHandle(h.get());
    if (!h.Close() && s == kSuccess) s = StatusFromLastError();
    return s;
  }

  Status RenameFile(const std::string& name, const std::string& newName, Folder* target) override {
    if (!IsPlainName(newName)) return kErrorInvalidName;
    auto* to = target == nullptr ? this : dynamic_cast<Win32Folder*>(target->Backend());
    if (to == nullptr) return kErrorInvalidHandle;
    FileHandle h;
    BY_HANDLE_FILE_INFORMATION info;
    const Status s = OpenChecked(name, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &h, &info);
    return s != kSuccess ? s : RenameHandle(h.get(), to->Child(newName), false);
  }

  Status DeleteFile(const std::string& name) override {
    FileHandle h;
    BY_HANDLE_FILE_INFORMATION info;
    const Status s = OpenChecked(name, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &h, &info);
    return s != kSuccess ? s : DeleteHandle(h.get());
  }

 private:
  std::string Child(const std::string& name) const {
    return path_ + (!path_.empty() && path_.back() == '\\' ? "" : "\\") + name;
  }

  // Opens a file of the folder and keeps the handle only when it is a regular
  // file with one name at that very path.
  Status OpenChecked(const std::string& name, DWORD access, FileHandle* h, BY_HANDLE_FILE_INFORMATION* info) {
    if (!IsPlainName(name)) return kErrorInvalidName;
    FileHandle opened(::CreateFileA(Child(name).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!opened.valid()) return StatusFromLastError();
    const Status s = FileRefusal(KindOfHandle(opened.get(), Child(name), info));
    if (s == kSuccess) h->reset(opened.release());
    return s;
  }

  void Classify(const FILE_ID_BOTH_DIR_INFO* e, std::vector<FolderEntry>* entries) {
    const int chars = static_cast<int>(e->FileNameLength / sizeof(WCHAR));
    char name[MAX_PATH * 4];
    BOOL lossy = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, 0, e->FileName, chars, name, sizeof(name), nullptr, &lossy);
    FolderEntry entry{std::string(name, n > 0 ? static_cast<size_t>(n) : 0), EntryKind::kBadName};
    if (entry.name == "." || entry.name == "..") return;
    if (n <= 0 || lossy || !IsPlainName(entry.name)) {
      // kept as a bad name: a name this code page cannot spell cannot be opened again
    } else if (e->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // The tag stands in the EA size field of a reparse point.
      entry.kind = e->EaSize == IO_REPARSE_TAG_SYMLINK ? EntryKind::kLink : EntryKind::kReparsePoint;
    } else if (e->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      entry.kind = EntryKind::kFolder;
    } else {
      // The listing has no link count and no final path: the handle has.
      FileHandle h(::CreateFileA(Child(entry.name).c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      BY_HANDLE_FILE_INFORMATION info;
      if (h.valid()) {
        entry.kind = KindOfHandle(h.get(), Child(entry.name), &info);
      } else {
        const Status s = StatusFromLastError();
        if (s == kErrorFileNotFound) return;  // gone since
        // Held by another program: a file, to be tried again later. Anything
        // else that cannot be opened is no plain file (a socket under Wine).
        entry.kind =
            s == kErrorAccessDenied || s == ERROR_SHARING_VIOLATION ? EntryKind::kFile : EntryKind::kSpecial;
      }
    }
    entries->push_back(std::move(entry));
  }

  FileHandle handle_;
  std::string path_;  // final path, "\\?\C:\..."
};

}  // namespace

Status OpenWin32Folder(const std::string& path, std::unique_ptr<Folder>* folder) {
  if (path.empty()) return kErrorPathNotFound;
  // The root of the path (a drive, a share, or the current folder) as the
  // system resolves it; every part below it is walked.
  std::string rest = path;
  if (rest.compare(0, 4, "\\\\?\\") == 0)
    rest = rest.compare(4, 4, "UNC\\") == 0 ? "\\" + rest.substr(7) : rest.substr(4);
  std::string root = ".";
  if (rest.size() >= 2 && rest[1] == ':') {
    root = rest.substr(0, 2) + "\\";
    rest = rest.substr(2);
  } else if (rest.compare(0, 2, "\\\\") == 0) {
    size_t share = rest.find_first_of("\\/", 2);
    size_t end = share == std::string::npos ? std::string::npos : rest.find_first_of("\\/", share + 1);
    root = rest.substr(0, end) + "\\";
    rest = end == std::string::npos ? std::string() : rest.substr(end);
  } else if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) {
    root = "\\";
  }
  FileHandle h(::CreateFileA(root.c_str(), kFolderAccess, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return StatusFromLastError();
  const std::string final = FinalPath(h.get());
  if (final.empty()) return StatusFromLastError();
  return WalkFolders(std::unique_ptr<Folder>(new Win32Folder(h.release(), final)), rest, folder);
}

}  // namespace platform
