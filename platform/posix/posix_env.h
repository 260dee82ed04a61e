// The POSIX backend: the same behaviour the Windows calls give, on Linux.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/http.h"
#include "platform/status.h"

namespace platform {

// The root of the default backend: $INKORA_ROOT, else /var/lib/inkoraupdater.
std::string DefaultPosixRoot();

// Windows paths ("\" separators) as POSIX paths.
std::string ToPosixPath(const std::string& path);
// errno as the Windows error code the same failure gives there.
Status StatusFromErrno(int err);

// The system's name from an os-release file: PRETTY_NAME, else NAME, else
// "Linux" (the format's default). False when the file cannot be read.
bool ReadOsReleaseName(const std::string& path, std::string* name);

// InternetCrackUrlA's results for http and https URLs (url_posix.cpp).
Status PosixCrackUrl(const std::string& url, UrlComponents* parts);

// One hive file: keys in creation order, each with its values.
struct HiveValue {
  std::string name;
  uint32_t type = 0;
  std::string data;
};
struct HiveKey {
  std::string path;  // as created, e.g. "SOFTWARE\Quorvex\Inkora"
  std::vector<HiveValue> values;
};
struct Hive {
  std::vector<HiveKey> keys;
};
// The text form of a hive; Parse refuses anything malformed (false, *error set).
std::string SerializeHive(const Hive& hive);
bool ParseHive(const std::string& text, Hive* hive, std::string* error);

}  // namespace platform
