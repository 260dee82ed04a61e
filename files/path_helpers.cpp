#include "files/path_helpers.h"

namespace files {

bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

bool PathAppend(std::string& path, const std::string& more) {
  size_t start = 0;
  while (start < more.size() && IsPathSeparator(more[start])) ++start;
  std::string joined = path;
  if (!joined.empty() && !IsPathSeparator(joined.back()) && start < more.size()) joined += '\\';
  joined.append(more, start, std::string::npos);
  if (joined.size() >= kMaxPath) return false;
  path = joined;
  return true;
}

bool PathRenameExtension(std::string& path, const std::string& extension) {
  size_t nameStart = 0;
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) {
      nameStart = i;
      break;
    }
  }
  size_t dot = path.rfind('.');
  size_t cut = (dot != std::string::npos && dot >= nameStart) ? dot : path.size();
  std::string renamed = path.substr(0, cut) + extension;
  if (renamed.size() >= kMaxPath) return false;
  path = renamed;
  return true;
}

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) {
    *folder = ".";
    *name = path;
    return;
  }
  *folder = path.substr(0, slash == 0 ? 1 : slash);  // "\x" lies in the root
  *name = path.substr(slash + 1);
}

}  // namespace files
