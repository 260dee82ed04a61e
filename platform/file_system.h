// Files and folders by path, for the program's own folders: its log beside the
// program file, the known folders, the program file and its version resource.
// Paths use "\" as the separator on both backends (the POSIX backend maps it to
// "/"). In folders that ordinary users can write the service works only through
// a Folder handle (platform/folder.h), which follows no link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/folder.h"
#include "platform/status.h"

namespace platform {

// Folders the updater reads files from.
enum class KnownFolder {
  kCommonAppData,         // CSIDL_COMMON_APPDATA ("C:\ProgramData"), its default path (SHGetFolderPathA)
  kCommonAppDataCurrent,  // the same as it is now, never created (SHGetSpecialFolderPathA)
  kPublicDocuments,       // FOLDERID_PublicDocuments ("C:\Users\Public\Documents")
};

// The pieces of a program file's version resource that the updater reads (VerQueryValueA).
class VersionResource {
 public:
  virtual ~VersionResource() = default;
  // "\" : the fixed record exists and is not empty.
  virtual bool HasFixedInfo() = 0;
  // "\VarFileInfo\Translation": the raw translation table.
  virtual bool QueryTranslation(std::string* table) = 0;
  // A string sub-block, e.g. "\StringFileInfo\040904B0\FileVersion".
  virtual bool QueryString(const std::string& subBlock, std::string* value) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens a folder that users may write: from the root of the path (or the
  // current folder for a relative one) every part is opened in turn, and none
  // may be a link or reparse point (kErrorStoppedOnSymlink) or "..".
  virtual Status OpenFolder(const std::string& path, std::unique_ptr<Folder>* folder) = 0;
  // The path names an existing file or folder; "*" and "?" are no wildcards.
  virtual bool PathExists(const std::string& path) = 0;
  // Makes one folder; kErrorAlreadyExists when it is there. (CreateDirectoryA)
  virtual Status CreateFolder(const std::string& path) = 0;
  // The whole of a regular file; kErrorInvalidData when it is larger than
  // maxSize bytes. *data is changed only on success.
  virtual Status ReadFile(const std::string& path, std::string* data, uint64_t maxSize) = 0;
  // Writes a temporary file beside path, flushes it and renames it over path,
  // so a reader sees the old content or the new, never a torn file.
  virtual Status WriteFileAtomic(const std::string& path, const std::string& data) = 0;
  // Appends under a write lock that keeps other writers out while it is open
  // (fopen "a" with deny-write sharing), creating the file when missing. A lock
  // another holder keeps is waited for about a second, then
  // kErrorSharingViolation: nothing is written.
  virtual Status AppendFile(const std::string& path, const std::string& data) = 0;
  virtual Status DeleteFile(const std::string& path) = 0;
  // The path of a known folder, as it is; nothing is created.
  virtual Status GetKnownFolder(KnownFolder folder, std::string* path) = 0;
  // The size of a file in bytes.
  virtual Status GetFileSize(const std::string& path, uint64_t* size) = 0;
  // Moves path over aside, replacing it, so that the next AppendFile begins
  // path anew. Where the folder may not be changed but both files may be
  // written (a hardened service), aside gets a copy and path is emptied.
  virtual Status RotateFile(const std::string& path, const std::string& aside) = 0;
  // The program file of this process. (GetModuleFileNameA(NULL))
  virtual Status GetModulePath(std::string* path) = 0;
  // The version resource of a program file. (GetFileVersionInfoA)
  virtual Status LoadVersionResource(const std::string& path, std::unique_ptr<VersionResource>* res) = 0;
};

// Forwards every call to another FileSystem; a test derives from it to fail calls.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem* target) : target_(target) {}
  FileSystem* target() const { return target_; }
  Status OpenFolder(const std::string& p, std::unique_ptr<Folder>* f) override {
    return target_->OpenFolder(p, f);
  }
  bool PathExists(const std::string& p) override { return target_->PathExists(p); }
  Status CreateFolder(const std::string& p) override { return target_->CreateFolder(p); }
  Status ReadFile(const std::string& p, std::string* d, uint64_t m) override {
    return target_->ReadFile(p, d, m);
  }
  Status WriteFileAtomic(const std::string& p, const std::string& d) override {
    return target_->WriteFileAtomic(p, d);
  }
  Status AppendFile(const std::string& p, const std::string& d) override { return target_->AppendFile(p, d); }
  Status DeleteFile(const std::string& p) override { return target_->DeleteFile(p); }
  Status GetKnownFolder(KnownFolder f, std::string* p) override { return target_->GetKnownFolder(f, p); }
  Status GetFileSize(const std::string& p, uint64_t* s) override { return target_->GetFileSize(p, s); }
  Status RotateFile(const std::string& p, const std::string& a) override { return target_->RotateFile(p, a); }
  Status GetModulePath(std::string* p) override { return target_->GetModulePath(p); }
  Status LoadVersionResource(const std::string& p, std::unique_ptr<VersionResource>* r) override {
    return target_->LoadVersionResource(p, r);
  }

 private:
  FileSystem* target_;
};

}  // namespace platform
