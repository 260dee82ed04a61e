// Files and folders, the known folders, the program path and its version resource.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

#include "platform/win32/file_handle.h"
#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {

Status WriteAll(HANDLE h, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(h, data.data() + done, chunk, &written, nullptr)) return StatusFromLastError();
    if (written == 0) return kErrorWriteFault;
    done += written;
  }
  return kSuccess;
}

Status ReadAll(HANDLE h, uint64_t size, uint64_t maxSize, std::string* data) {
  if (size > maxSize) return kErrorInvalidData;
  std::string out;
  try {
    out.reserve(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buf, sizeof(buf), &got, nullptr)) return StatusFromLastError();
    if (got == 0) break;
    if (out.size() + got > maxSize) return kErrorInvalidData;  // grew while it was read
    out.append(buf, got);
  }
  data->swap(out);
  return kSuccess;
}

namespace {

std::atomic<unsigned> g_tempCounter{0};

// FOLDERID_PublicDocuments, {ED4824AF-DCE4-45A8-81E2-FC7965083634}.
const GUID kFolderIdPublicDocuments = {
    0xED4824AF, 0xDCE4, 0x45A8, {0x81, 0xE2, 0xFC, 0x79, 0x65, 0x08, 0x36, 0x34}};

using SHGetKnownFolderPathFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);

// Reached through GetProcAddress, so the program still starts on systems
// that lack the call.
Status PublicDocumentsFolder(std::string* path) {
  HMODULE shell = ::LoadLibraryA("shell32.dll");
  if (shell == nullptr) return StatusFromLastError();
  auto fn = reinterpret_cast<SHGetKnownFolderPathFn>(
      reinterpret_cast<void*>(::GetProcAddress(shell, "SHGetKnownFolderPath")));
  if (fn == nullptr) {
    ::FreeLibrary(shell);
    return kErrorCallNotImplemented;
  }
  PWSTR wide = nullptr;
  HRESULT hr = fn(kFolderIdPublicDocuments, 0, nullptr, &wide);
  Status s = StatusFromHresult(hr);
  if (s == kSuccess && wide != nullptr) {
    *path = WideToThreadAnsi(wide);
    if (path->empty()) s = kErrorPathNotFound;
  } else if (s == kSuccess) {
    s = kErrorPathNotFound;
  }
  ::CoTaskMemFree(wide);
  ::FreeLibrary(shell);
  return s;
}

}  // namespace

std::string WideToThreadAnsi(const wchar_t* wide) {
  int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::vector<char> buf(static_cast<size_t>(n));
  if (::WideCharToMultiByte(CP_THREAD_ACP, 0, wide, -1, buf.data(), n, nullptr, nullptr) != n)
    return std::string();
  return std::string(buf.data());
}

namespace {

class Win32VersionResource : public VersionResource {
 public:
  explicit Win32VersionResource(std::vector<char> block) : block_(std::move(block)) {}

  bool HasFixedInfo() override {
    void* p = nullptr;
    UINT length = 0;
    return ::VerQueryValueA(block_.data(), "\\", &p, &length) && length > 0;
  }
  bool QueryTranslation(std::string* table) override {
    void* p = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block_.data(), "\\VarFileInfo\\Translation", &p, &length) || p == nullptr)
      return false;
    table->assign(static_cast<const char*>(p), length);
    return true;
  }
  bool QueryString(const std::string& subBlock, std::string* value) override {
    void* p = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block_.data(), subBlock.c_str(), &p, &length) || p == nullptr) return false;
    // The length counts characters, the NUL included or not by the resource
    // compiler's taste: end at the first NUL within it.
    const char* text = static_cast<const char*>(p);
    value->assign(text, strnlen(text, length));
    return true;
  }

 private:
  std::vector<char> block_;
};

class Win32FileSystem : public FileSystem {
 public:
  // root empty: the known folders are the system's; otherwise they are mapped
  // to root\ProgramData and root\Users\Public\Documents (tests).
  explicit Win32FileSystem(std::string root) : root_(std::move(root)) {}

  Status OpenFolder(const std::string& path, std::unique_ptr<Folder>* folder) override {
    return OpenWin32Folder(path, folder);
  }

  bool PathExists(const std::string& path) override {
    // Attributes rather than a search: a search would take "*" and "?" in the
    // path as wildcards and report a match as existing.
    if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  Status CreateFolder(const std::string& path) override {
    return ::CreateDirectoryA(path.c_str(), nullptr) ? kSuccess : StatusFromLastError();
  }

  Status ReadFile(const std::string& path, std::string* data, uint64_t maxSize) override {
    // Other programs may go on writing the file (the product's logs) while it is read.
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return StatusFromLastError();
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return StatusFromLastError();
    return ReadAll(file.get(), static_cast<uint64_t>(size.QuadPart), maxSize, data);
  }

  Status WriteFileAtomic(const std::string& path, const std::string& data) override {
    std::string tmp =
        path + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(g_tempCounter++);
    Status s;
    {
      FileHandle file(
          ::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid()) return StatusFromLastError();
      s = WriteAll(file.get(), data);
      if (s == kSuccess && !::FlushFileBuffers(file.get())) s = StatusFromLastError();
      if (!file.Close() && s == kSuccess) s = StatusFromLastError();
    }
    if (s == kSuccess &&
        !::MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      s = StatusFromLastError();
    if (s != kSuccess) ::DeleteFileA(tmp.c_str());
    return s;
  }

  Status AppendFile(const std::string& path, const std::string& data) override {
    // Readers may share the file; another writer is refused while it is open.
    // A writer that finds it refused waits for its turn a little rather than
    // lose its entry: the other side holds the file only for one write.
    constexpr int kTries = 100;
    constexpr DWORD kPauseMs = 10;
    for (int attempt = 0;; ++attempt) {
      FileHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid()) {
        Status s = StatusFromLastError();
        if (s == ERROR_SHARING_VIOLATION && attempt + 1 < kTries) {
          ::Sleep(kPauseMs);
          continue;
        }
        return s;
      }
      // The caller wrote its line ends already: the bytes go in unchanged.
      Status s = WriteAll(file.get(), data);
      if (!file.Close() && s == kSuccess) s = StatusFromLastError();
      return s;
    }
  }

  Status GetFileSize(const std::string& path, uint64_t* size) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return StatusFromLastError();
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return kSuccess;
  }

  Status RotateFile(const std::string& path, const std::string& aside) override {
    if (::MoveFileExA(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) return kSuccess;
    return StatusFromLastError();
  }

  Status DeleteFile(const std::string& path) override {
    return ::DeleteFileA(path.c_str()) ? kSuccess : StatusFromLastError();
  }

  Status GetKnownFolder(KnownFolder folder, std::string* path) override {
    if (!root_.empty()) {
      switch (folder) {
        case KnownFolder::kCommonAppData:
        case KnownFolder::kCommonAppDataCurrent:
          *path = root_ + "\\ProgramData";
          return kSuccess;
        case KnownFolder::kPublicDocuments:
          *path = root_ + "\\Users\\Public\\Documents";
          return kSuccess;
      }
      return kErrorInvalidParameter;
    }
    switch (folder) {
      case KnownFolder::kCommonAppData: {
        char buf[MAX_PATH + 1] = {0};
        Status s = StatusFromHresult(
            ::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, buf));
        if (s != kSuccess) return s;
        path->assign(buf);
        return kSuccess;
      }
      case KnownFolder::kCommonAppDataCurrent: {
        char buf[MAX_PATH + 1] = {0};
        if (!::SHGetSpecialFolderPathA(nullptr, buf, CSIDL_COMMON_APPDATA, FALSE)) return kErrorPathNotFound;
        path->assign(buf);
        return kSuccess;
      }
      case KnownFolder::kPublicDocuments:
        return PublicDocumentsFolder(path);
    }
    return kErrorInvalidParameter;
  }

  Status GetModulePath(std::string* path) override {
    // A path longer than the buffer comes back cut and without error on some
    // systems: grow until the text fits with room to spare.
    for (DWORD size = MAX_PATH + 1; size <= 32768 * 2; size *= 2) {
      std::vector<char> buf(size, '\0');
      DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), size);
      if (n == 0) return StatusFromLastError();
      if (n < size) {  // n characters and the NUL fit
        path->assign(buf.data(), n);
        return kSuccess;
      }
    }
    return kErrorInsufficientBuffer;
  }

  Status LoadVersionResource(const std::string& path, std::unique_ptr<VersionResource>* res) override {
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return StatusFromLastError();
    std::vector<char> block;
    try {
      block.resize(size);
    } catch (const std::bad_alloc&) {
      return kErrorNotEnoughMemory;
    }
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return StatusFromLastError();
    res->reset(new Win32VersionResource(std::move(block)));
    return kSuccess;
  }

 private:
  std::string root_;
};

}  // namespace

std::unique_ptr<FileSystem> NewBackendFileSystem(const std::string& root) {
  return std::make_unique<Win32FileSystem>(root);
}

}  // namespace platform
