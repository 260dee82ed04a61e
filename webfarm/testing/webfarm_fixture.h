// A running reference web farm and its control API over HTTP: a private one
// ($INKORA_WEBFARM or the build tree's) that ends with the object or with the
// thread that started it, or the one at $INKORA_WEBFARM_URL (the Wine suite).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace webfarm_testing {

struct FarmRequest {  // one request as the farm recorded it
  std::string
      role;  // first_call, metadata(_sig), update_check, usage, crash, installer, definition(_sig), unknown
  std::string method;
  std::string payload;  // deciphered JSON or log text
  int status = 0;
};

class CWebFarm {
 public:
  // Null, with the reason in *error, when no farm can be had; given PEM files, it also serves TLS.
  static std::unique_ptr<CWebFarm> Start(std::string* error, const std::string& tlsCert = std::string(),
                                         const std::string& tlsKey = std::string());
  ~CWebFarm();

  const std::string& base() const { return m_base; }              // "http://127.0.0.1:PORT"
  const std::string& secureBase() const { return m_secureBase; }  // "https://127.0.0.1:PORT" or ""
  std::string hostPort() const { return m_base.substr(m_base.find("://") + 3); }
  std::string url(const std::string& path) const { return m_base + path; }
  // No faults or requests; metadata 1-0-7 with every URL here.
  bool Reset();
  // Mode: none, refuse, 404, 500, garbage, truncated, stall, oversized, redirect,
  // and for signatures wrong_signature, other_bytes, unsigned; endpoint a
  // FarmRequest::role or "any"; count -1 for every request.
  bool SetFault(const std::string& endpoint, const std::string& mode, int count = -1,
                uint32_t stallMs = 5000);
  // State files; "@BASE@" in the text becomes base().
  bool SetMetadata(const std::string& json) { return SetStateFile("metadata.json", json); }
  bool SetAnswers(const std::string& json) { return SetStateFile("answers.json", json); }
  bool SetStateFile(const std::string& name, std::string text);
  std::vector<FarmRequest> Requests();
  // The PEM public key "signing" (empty when unsigned) or "other" (of the wrong_signature fault).
  std::string PublicKey(const std::string& which);

  static std::string StandardMetadata();  // with "@BASE@"

 private:
  CWebFarm() = default;
  bool Launch(const std::string& tlsCert, const std::string& tlsKey, std::string* error);
  bool Call(const std::string& path, const std::string& body, std::string* answer = nullptr);

  std::unique_ptr<platform::Env> m_env;  // its own, whatever the test makes the default
  std::string m_base, m_secureBase, m_state;
  long m_pid = 0;
};

#if !defined(_WIN32)
// fork() for a child killed when the thread that forked it ends (at once when
// that thread was already gone). The parent gets the pid (or -1), the child 0.
long ForkTiedToTest();
#endif

}  // namespace webfarm_testing
