#include "platform/folder.h"

namespace platform {

const char* EntryKindText(EntryKind kind) {
  switch (kind) {
    case EntryKind::kFile:
      return "a regular file";
    case EntryKind::kFolder:
      return "a folder";
    case EntryKind::kLink:
      return "a symbolic link";
    case EntryKind::kReparsePoint:
      return "a reparse point";
    case EntryKind::kSpecial:
      return "a FIFO, socket or device";
    case EntryKind::kHardLinks:
      return "a file with more than one name";
    case EntryKind::kBadName:
      return "a name that is no plain file name";
  }
  return "unknown";
}

Status FileRefusal(EntryKind kind) {
  switch (kind) {
    case EntryKind::kFile:
      return kSuccess;
    case EntryKind::kFolder:
      return kErrorAccessDenied;
    case EntryKind::kLink:
    case EntryKind::kReparsePoint:
      return kErrorStoppedOnSymlink;
    case EntryKind::kSpecial:
      return kErrorBadFileType;
    case EntryKind::kHardLinks:
      return kErrorTooManyLinks;
    case EntryKind::kBadName:
      return kErrorInvalidName;
  }
  return kErrorInvalidParameter;
}

bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '\\' || c == '/' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

std::vector<std::string> PathParts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

Status WalkFolders(std::unique_ptr<Folder> start, const std::string& path, std::unique_ptr<Folder>* folder) {
  for (const std::string& part : PathParts(path)) {
    std::unique_ptr<Folder> next;
    Status s = start->OpenFolder(part, &next);
    if (s != kSuccess) return s;
    start = std::move(next);
  }
  *folder = std::move(start);
  return kSuccess;
}

}  // namespace platform
