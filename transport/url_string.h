// Percent-encoding of query values, and URL splitting.
#pragma once

#include <cstdint>
#include <string>

class CUrlString {
 public:
  CUrlString();
  virtual ~CUrlString() = default;
  std::string Encode(std::string text) const;
  const std::string& reserved() const { return strReserved; }

 private:
  std::string strReserved;  // 186 bytes: the escaped set, in order
};

struct UrlParts {
  explicit UrlParts(const std::string& url);
  bool CrackUrl(const std::string& url);

  std::string scheme;
  int32_t nScheme = 0;
  std::string host;
  uint16_t nPort = 0;
  bool bPortGiven = false;
  std::string user;
  std::string password;
  std::string path;
  std::string extra;
};
