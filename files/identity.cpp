// Identity repair: keeps the machine GUID of the registry and of the identity
// file in step, and fills empty identifiers into the product's log files.
#include "files/identity.h"

#include "files/file_helpers.h"
#include "files/path_helpers.h"
#include "files/utility.h"
#include "platform/ascii.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/registry.h"

namespace files {

std::string IdentityFilePath() {
  std::string path;
  if (platform::Env::Default()->files()->GetKnownFolder(platform::KnownFolder::kCommonAppDataCurrent,
                                                        &path) != platform::kSuccess) {
    return std::string();
  }
  if (!PathAppend(path, "Quorvex\\Inkora\\") || !PathAppend(path, "Inkora.ID")) return std::string();
  return path;
}

bool FindIdentityValue(const std::string& text, const std::string& key, size_t* start, size_t* length) {
  size_t pos = text.find(key);
  if (pos == std::string::npos) return false;
  *start = pos + key.size();
  // The value ends at the line's end, whichever line end the file uses; a
  // carriage return further down must not pull the next lines into the value.
  size_t end = text.find_first_of("\r\n", *start);
  if (end == std::string::npos) end = text.size();
  *length = end - *start;
  return true;
}

std::string JsonEscape(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out;
}

size_t ReplaceAll(std::string& text, const std::string& pattern, const std::string& replacement) {
  if (pattern.empty()) return 0;
  size_t count = 0;
  size_t pos = 0;
  while ((pos = text.find(pattern, pos)) != std::string::npos) {
    text.replace(pos, pattern.size(), replacement);
    pos += replacement.size();
    ++count;
  }
  return count;
}

}  // namespace files

namespace {

const char kCidKey[] = "CID=";
const char kUidKey[] = "UID=";
const char kTemplate[] = "CID=\r\nUID=";
const char kEmptyCid[] = "\"cid\":\"\"";
const char kEmptyUid[] = "\"uid\":\"\"";

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool CUtility::IsValidGuid(const std::string& text) {
  // The braced registry form only, on every platform: {8-4-4-4-12}.
  static const char kShape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (text.size() != sizeof(kShape) - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] == 'x') {
      if (!IsHex(text[i])) return false;
    } else if (text[i] != kShape[i]) {
      return false;
    }
  }
  return true;
}

bool CUtility::IsLogFilePopulated(const std::string& text) {
  return text.find(kEmptyCid) == std::string::npos && text.find(kEmptyUid) == std::string::npos;
}

void CUtility::FixUpComputerIDRegKey() {
  const char* const kFn = "CUtility::FixUpComputerIDRegKey()";
  const std::string path = files::IdentityFilePath();
  if (path.empty()) {
    WriteLog(kFn, "Error: Could not get the InkoraID file path.");
    return;
  }

  // The whole file, NUL bytes included, so that a rewrite keeps every byte but the GUID.
  std::string text;
  platform::Status status = files::ReadWholeFile(path, &text);
  if (status != platform::kSuccess) {
    if (!files::IsMissingFileStatus(status)) {
      // A file that is there but unreadable, or no plain file (a link's target
      // must never reach a file users can read), is not replaced.
      WriteLogF(kFn, "Error: Could not read the InkoraID file, error code = %d", static_cast<int>(status));
      return;
    }
    text.clear();
  }
  if (text.find(kCidKey) == std::string::npos) {
    // Without a CID line the template stands in; what the file held is kept after it.
    if (text.find(kUidKey) != std::string::npos) {
      text = "CID=\r\n" + text;
    } else if (!text.empty()) {
      text = std::string(kTemplate) + "\r\n" + text;
    } else {
      text = kTemplate;
    }
  }

  size_t cidStart = 0, cidLength = 0;
  files::FindIdentityValue(text, kCidKey, &cidStart, &cidLength);
  const std::string fileGuid = text.substr(cidStart, cidLength);
  const std::string regGuid = GetRegValue_String(kProductKey, RegValueNames[kComputerID], true);
  const bool regValid = IsValidGuid(regGuid);
  const bool fileValid = IsValidGuid(fileGuid);

  if (regValid && platform::EqualsNoCase(regGuid, fileGuid)) {
    WriteLog(kFn, "Case 1 - Reg guid is valid, and both guids are identical.  No action needed");
    return;
  }
  WriteLogF(kFn, "Registry GUID = %s", regGuid.c_str());
  WriteLogF(kFn, "File GUID =     %s", fileGuid.c_str());

  if (!regValid && !fileValid) {
    WriteLog(
        kFn,
        "Case 2 - Neither reg or file contained valid guids.  Do nothing and wait for the app to fix the "
        "file with a good guid.");
    return;
  }
  if (!regValid) {
    WriteLog(kFn,
             "Case 4 - File guid is good, reg guid isn't.  Update the registry with the guid from the file.");
    SetRegValue_String(kProductKey, RegValueNames[kComputerID], fileGuid);
    return;
  }
  if (!fileValid) {
    WriteLog(kFn, "Case 3 - Reg guid is good, but the file isn't.  Updating the file to match the registry.");
  } else {
    WriteLog(kFn,
             "Case 5 - Both GUIDs are valid but different.  The registry wins.  Updating the file to match.");
  }
  text.replace(cidStart, cidLength, regGuid);
  // Written whole and in binary: the old file stays intact until the new one is
  // complete, and a CR LF stays CR LF.
  status = files::ReplaceWholeFile(path, text);
  if (status != platform::kSuccess) {
    WriteLogF(kFn, "Error: Could not write the InkoraID file, error code = %d", static_cast<int>(status));
  }
}

void CUtility::FixUpLogFile(std::string path) {
  const char* const kFn = "CUtility::FixUpLogFile()";
  // Every byte, so the rewrite changes only the two fields.
  std::string text;
  files::ReadWholeFile(path, &text);
  if (IsLogFilePopulated(text)) {
    WriteLog(kFn, "FixUp not needed.");
    return;
  }
  WriteLog(kFn, "Fix up needed - userid or compid isn't populated.");

  std::string identity;
  const std::string identityPath = files::IdentityFilePath();
  if (!identityPath.empty()) files::ReadWholeFile(identityPath, &identity);
  size_t uidStart = 0, uidLength = 0;
  if (!files::FindIdentityValue(identity, kUidKey, &uidStart, &uidLength)) {
    WriteLog(kFn, "Fix up needed - but failed to get the UID from the InkoraID file.");
    return;
  }
  const std::string userID = identity.substr(uidStart, uidLength);
  const std::string computerID = GetRegValue_String(kProductKey, RegValueNames[kComputerID], true);

  WriteLog(kFn, text);
  // The identifiers go into JSON strings: escaped, so an odd value cannot break the text.
  files::ReplaceAll(text, kEmptyCid, "\"cid\":\"" + files::JsonEscape(computerID) + "\"");
  files::ReplaceAll(text, kEmptyUid, "\"uid\":\"" + files::JsonEscape(userID) + "\"");
  WriteLog(kFn, text);
  WriteToFile(path, text);
}
