// The CUtility file helpers: list, rename, read, write, test, version text.
#include <cstring>

#include "files/file_helpers.h"
#include "files/path_helpers.h"
#include "platform/env.h"
#include "settings/log.h"
#include "transport/utility.h"

namespace files {

platform::Status ReadWholeFile(const std::string& path, std::string* data) {
  data->clear();
  return platform::Env::Default()->ReadFile(path, data, kMaxFileBytes);
}

bool IsMissingFileStatus(platform::Status status) {
  return status == platform::kErrorFileNotFound || status == platform::kErrorPathNotFound;
}

}  // namespace files

int CUtility::FindFiles(std::string folder, std::string extension, std::vector<std::string>& list,
                        bool fullPath) {
  if (!folder.empty() && files::IsPathSeparator(folder.back())) folder.pop_back();
  // An empty folder would search the root of the current drive.
  if (folder.empty()) return 0;

  std::vector<platform::DirEntry> entries;
  if (platform::Env::Default()->ListDirectory(folder, &entries) != platform::kSuccess) return 0;

  const std::string suffix = "." + extension;
  int count = 0;
  for (const platform::DirEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    if (!extension.empty()) {
      // The system's pattern search also matches longer extensions and short
      // names; only an exact, case-sensitive suffix counts. A folder is never a log.
      if (entry.isDirectory) continue;
      if (entry.name.size() < suffix.size() ||
          entry.name.compare(entry.name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        continue;
      }
    } else if (!entry.isDirectory) {
      continue;
    }
    list.push_back(fullPath ? folder + "\\" + entry.name : entry.name);
    ++count;
  }
  return count;
}

bool CUtility::CreateDirectoryForFile(std::string path) {
  platform::Env* env = platform::Env::Default();
  size_t last = std::string::npos;
  for (size_t i = 1; i < path.size(); ++i) {
    if (!files::IsPathSeparator(path[i])) continue;
    env->CreateDirectory(path.substr(0, i));  // an existing folder is fine
    last = i;
  }
  if (last == std::string::npos) return true;  // a bare name lives in the current folder
  return env->PathExists(path.substr(0, last));
}

bool CUtility::RenameFile(std::string source, std::string destination) {
  CreateDirectoryForFile(destination);
  std::string cleanSource;
  for (char c : source) {
    if (c != '"') cleanSource += c;
  }
  platform::Status status = platform::Env::Default()->MoveFile(cleanSource, destination);
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
  platform::Env* env = platform::Env::Default();
  // Only an existing file is rewritten; a missing one is not created.
  if (!env->PathExists(path)) return false;
  // The new content goes to a temporary file first, so a crash or a full disk
  // leaves the old content whole.
  platform::Status status = env->WriteFileAtomic(path, text);
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
  return platform::Env::Default()->PathExists(path);
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
  platform::Status status = platform::Env::Default()->WriteFileAtomic(path, onDisk);
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
