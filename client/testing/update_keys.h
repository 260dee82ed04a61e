// The vendor keys a test puts in place of the build's, for the lifetime of the object.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "client/signature.h"

namespace client_testing {

class ScopedUpdateKeys {
 public:
  explicit ScopedUpdateKeys(std::vector<std::string> keys)
      : keys_(std::move(keys)), previous_(CUpdateSignature::SetKeys(&keys_)) {}
  ~ScopedUpdateKeys() { CUpdateSignature::SetKeys(previous_); }
  ScopedUpdateKeys(const ScopedUpdateKeys&) = delete;
  ScopedUpdateKeys& operator=(const ScopedUpdateKeys&) = delete;

 private:
  std::vector<std::string> keys_;
  const std::vector<std::string>* previous_;
};

}  // namespace client_testing
