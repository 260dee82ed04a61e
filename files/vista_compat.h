// The operating system's major version and the public documents folder, which
// decide where the per-profile files lie.
#pragma once

#include <string>

class CVistaCompat {
 public:
  // 5 for XP and Server 2003, 6 for Vista, Server 2008 and 7; 0 when unknown.
  static int GetMajorOSVersion();
  // The public documents folder from major version 6 on, empty before.
  static std::string GetPublicDocumentsPath();
};
