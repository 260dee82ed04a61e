#include "settings/process_state.h"

#include <cstring>

std::string strServiceName;
char szModulePath[500] = {};
char szLogPath[500] = {};
char szServiceVersion[32] = {};
std::recursive_mutex csLog;

std::string strTestPath;
std::string strTestSendNow;

bool SetFixedField(char* field, size_t size, const std::string& text) {
  if (size == 0) return false;
  // A text with an embedded NUL or one that does not fit whole is refused: a cut
  // path would name another file.
  if (text.size() >= size || text.find('\0') != std::string::npos) {
    field[0] = '\0';
    return false;
  }
  std::memcpy(field, text.data(), text.size());
  field[text.size()] = '\0';
  return true;
}
