// The CUtility file helpers: list, rename, read, write, test, version text.
#include <cstring>

#include "files/file_helpers.h"
#include "files/path_helpers.h"
#include "files/utility.h"
#include "platform/env.h"
#include "settings/log.h"

namespace files {

platform::Status OpenFileFolder(const std::string& path, std::unique_ptr<platform::Folder>* folder,
                                std::string* name) {
  std::string dir;
  SplitPath(path, &dir, name);
  if (!platform::IsPlainName(*name)) return platform::kErrorInvalidName;
  return platform::Env::Default()->files()->OpenFolder(dir, folder);
}

platform::Status ReadWholeFile(const std::string& path, std::string* data, platform::FileIdentity* identity) {
  data->clear();
  std::unique_ptr<platform::Folder> folder;
  std::string name;
  platform::Status status = OpenFileFolder(path, &folder, &name);
  return status != platform::kSuccess ? status : folder->ReadFile(name, kMaxFileBytes, data, identity);
}

platform::Status IdentifyFile(const std::string& path, platform::FileIdentity* identity) {
  std::unique_ptr<platform::Folder> folder;
  std::string name;
  platform::Status status = OpenFileFolder(path, &folder, &name);
  return status != platform::kSuccess ? status : folder->Identify(name, identity);
}

platform::Status ReplaceWholeFile(const std::string& path, const std::string& data) {
  std::unique_ptr<platform::Folder> folder;
  std::string name;
  platform::Status status = OpenFileFolder(path, &folder, &name);
  return status != platform::kSuccess ? status : folder->ReplaceFile(name, data);
}

platform::Status DeleteFile(const std::string& path) {
  std::unique_ptr<platform::Folder> folder;
  std::string name;
  platform::Status status = OpenFileFolder(path, &folder, &name);
  return status != platform::kSuccess ? status : folder->DeleteFile(name);
}

bool IsMissingFileStatus(platform::Status status) {
  return status == platform::kErrorFileNotFound || status == platform::kErrorPathNotFound;
}

std::string PrintableName(const std::string& name) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    }
  }
  return out;
}

}  // namespace files

int CUtility::FindFiles(std::string folder, std::string extension, std::vector<std::string>& list,
                        bool fullPath) {
  const char* const kFn = "CUtility::FindFiles()";
  if (!folder.empty() && files::IsPathSeparator(folder.back())) folder.pop_back();
  // An empty folder would search the root of the current drive.
  if (folder.empty()) return 0;

  std::unique_ptr<platform::Folder> handle;
  platform::Status status = platform::Env::Default()->files()->OpenFolder(folder, &handle);
  if (status != platform::kSuccess) {
    if (!files::IsMissingFileStatus(status)) {
      WriteLogF(kFn, "Skipped %s, error code = %d", files::PrintableName(folder).c_str(),
                static_cast<int>(status));
    }
    return 0;
  }
  std::vector<platform::FolderEntry> entries;
  status = handle->List(&entries);
  if (status != platform::kSuccess) {  // the entries found before the error stay
    WriteLogF(kFn, "Listing %s stopped, error code = %d", files::PrintableName(folder).c_str(),
              static_cast<int>(status));
  }

  const std::string suffix = "." + extension;
  const platform::EntryKind kept =
      extension.empty() ? platform::EntryKind::kFolder : platform::EntryKind::kFile;
  int count = 0;
  for (const platform::FolderEntry& entry : entries) {
    // The system's pattern search also matches longer extensions and short
    // names; only an exact, case-sensitive suffix counts. A folder is never a
    // log, and a file never a profile.
    const bool candidate =
        extension.empty()
            ? entry.kind != platform::EntryKind::kFile && entry.kind != platform::EntryKind::kHardLinks &&
                  entry.kind != platform::EntryKind::kSpecial
            : entry.kind != platform::EntryKind::kFolder && entry.name.size() >= suffix.size() &&
                  entry.name.compare(entry.name.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!candidate) continue;
    if (entry.kind != kept) {
      WriteLogF(kFn, "Skipped %s\\%s: %s", files::PrintableName(folder).c_str(),
                files::PrintableName(entry.name).c_str(), platform::EntryKindText(entry.kind));
      continue;
    }
    list.push_back(fullPath ? folder + "\\" + entry.name : entry.name);
    ++count;
  }
  return count;
}

bool CUtility::CreateDirectoryForFile(std::string path) {
  platform::FileSystem* files = platform::Env::Default()->files();
  size_t last = std::string::npos;
  for (size_t i = 1; i < path.size(); ++i) {
    if (!files::IsPathSeparator(path[i])) continue;
    files->CreateFolder(path.substr(0, i));  // an existing folder is fine
    last = i;
  }
  if (last == std::string::npos) return true;  // a bare name lives in the current folder
  return files->PathExists(path.substr(0, last));
}

bool CUtility::RenameFile(std::string source, std::string destination) {
  std::string cleanSource;
  for (char c : source) {
    if (c != '"') cleanSource += c;
  }
  // The new name goes into the same open folder; another folder is made first.
  std::string sourceFolder, destinationFolder, name, newName;
  files::SplitPath(cleanSource, &sourceFolder, &name);
  files::SplitPath(destination, &destinationFolder, &newName);
  std::unique_ptr<platform::Folder> from, to;
  platform::Status status = files::OpenFileFolder(cleanSource, &from, &name);
  if (status == platform::kSuccess && destinationFolder != sourceFolder) {
    CreateDirectoryForFile(destination);
    status = files::OpenFileFolder(destination, &to, &newName);
  }
  if (status == platform::kSuccess) status = from->RenameFile(name, newName, to.get());
  if (status == platform::kSuccess) return true;
  if (status == platform::kErrorFileNotFound) {
    WriteLog("CUtility::RenameFile()", "ERROR -- rename operation failed.  ERROR_FILE_NOT_FOUND");
  } else {
    WriteLogF("CUtility::RenameFile()", "ERROR -- rename operation failed.  Error %d",
              static_cast<int>(status));
  }
  WriteLogF("CUtility::RenameFile()", "Source file      \t %s", cleanSource.c_str());
  WriteLogF("CUtility::RenameFile()", "Destination file \t %s", destination.c_str());
  return false;
}

bool CUtility::WriteToFile(std::string path, std::string text) {
  std::unique_ptr<platform::Folder> folder;
  std::string name;
  platform::FileIdentity identity;
  platform::Status status = files::OpenFileFolder(path, &folder, &name);
  if (status == platform::kSuccess) status = folder->Identify(name, &identity);
  // Only an existing file is rewritten; a missing one is not created.
  if (files::IsMissingFileStatus(status)) return false;
  // The new content goes to a temporary file first, so a crash or a full disk
  // leaves the old content whole.
  if (status == platform::kSuccess) status = folder->ReplaceFile(name, text);
  if (status != platform::kSuccess) {
    WriteLogF("CUtility::WriteToFile()", "Failed to write %s, error code = %d", path.c_str(),
              static_cast<int>(status));
    return false;
  }
  return true;
}

std::string CUtility::ReadFromFile(std::string path) {
  std::string data;
  platform::Status status = files::ReadWholeFile(path, &data);
  if (status != platform::kSuccess) {
    if (status == platform::kErrorInvalidData) {
      WriteLogF("CUtility::ReadFromFile()", "File too large to read: %s", path.c_str());
    }
    return std::string();
  }
  // The text ends at the first NUL byte.
  data.resize(strnlen(data.c_str(), data.size()));
  return data;
}

bool CUtility::FileExists(std::string path) {
  // Only what the helpers would read counts: a regular file with one name.
  platform::FileIdentity identity;
  const platform::Status status = files::IdentifyFile(path, &identity);
  if (status != platform::kSuccess && !files::IsMissingFileStatus(status)) {
    WriteLogF("CUtility::FileExists()", "Skipped %s, error code = %d", files::PrintableName(path).c_str(),
              static_cast<int>(status));
  }
  return status == platform::kSuccess;
}

bool CUtility::WriteTextFile(std::string path, std::string text) {
#if defined(_WIN32)
  // The runtime's text mode writes each line feed as carriage return + line feed.
  std::string onDisk;
  onDisk.reserve(text.size());
  for (char c : text) {
    if (c == '\n') onDisk += '\r';
    onDisk += c;
  }
#else
  const std::string& onDisk = text;
#endif
  platform::Status status = files::ReplaceWholeFile(path, onDisk);
  if (status != platform::kSuccess) {
    WriteLogF("CUtility::WriteTextFile()", "Failed to write %s, error code = %d", path.c_str(),
              static_cast<int>(status));
    return false;
  }
  return true;
}

std::string CUtility::GetVersionFromText(std::string path, std::string text) {
  if (text.empty()) text = ReadFromFile(path);
  const std::string key = "version=";
  size_t pos = text.find(key);
  if (pos == std::string::npos) return std::string();
  std::string window = text.substr(pos + key.size(), 8);
  size_t quote = window.rfind('"');
  if (quote == std::string::npos) return std::string();
  window.resize(quote);
  std::string result;
  for (char c : window) {
    if (c != '"') result += c;
  }
  return result;
}
