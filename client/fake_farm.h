// A web farm faked at the HTTP layer of the Env for the upload tests and the
// upload benchmark: every posted form is deciphered the way the web farm does
// it, every answer is a real envelope, and each request can be made to fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "transport/utility.h"

namespace upload_testing {

std::string UrlDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else if (text[i] == '+') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

// How the fake web farm treats one request.
enum class Mode { kAnswer, kRefused, kNotFound, kGarbage, kTruncated, kEmpty, kBrokenRead };

struct Reply {
  Mode mode = Mode::kAnswer;
  int code = 0;
};

// The web farm's side: what it received (deciphered) and how it answers.
struct FakeFarm {
  std::deque<Reply> script;  // one per request; when empty, `fallback`
  Reply fallback;
  std::vector<std::string> stored;  // texts the farm deciphered from posts it answered
  std::string getBody;              // the body of a GET (definition file)
  int posts = 0;
  int unreadable = 0;                    // posts the farm could not decipher
  std::function<void(bool)> onFarmSide;  // called with true on entering farm code, false on leaving

  Reply Next() {
    if (script.empty()) return fallback;
    Reply r = script.front();
    script.pop_front();
    return r;
  }
  static std::string Envelope(const std::string& json) {
    std::string encoded;
    if (!CUtility::TransformDataToSend(json, encoded)) return std::string();
    return UrlDecode(encoded);  // answers carry no URL encoding
  }
};

// Marks the farm's own work, so a memory count can leave it out.
struct FarmSide {
  explicit FarmSide(FakeFarm* farm) : farm_(farm) {
    if (farm_->onFarmSide) farm_->onFarmSide(true);
  }
  ~FarmSide() {
    if (farm_->onFarmSide) farm_->onFarmSide(false);
  }
  FakeFarm* farm_;
};

class FakeRequest : public platform::HttpRequest {
 public:
  FakeRequest(FakeFarm* farm, bool isPost, Reply reply) : farm_(farm), isPost_(isPost), reply_(reply) {
    if (!isPost) Prepare(farm_->getBody);
  }
  platform::Status Send(const std::string&, const std::string& data) override {
    FarmSide side(farm_);
    ++farm_->posts;
    const std::string prefix = "query=";
    std::string text;
    bool readable = data.compare(0, prefix.size(), prefix) == 0 &&
                    CUtility::TransformData_Decrypt(UrlDecode(data.substr(prefix.size())), text);
    if (!readable) ++farm_->unreadable;
    if (readable && reply_.mode != Mode::kRefused) farm_->stored.push_back(text);
    std::string json = "{\"code\":\"" + std::to_string(reply_.code) + "\",\"msg\":\"message " +
                       std::to_string(reply_.code) + "\"}";
    Prepare(FakeFarm::Envelope(json));
    return platform::kSuccess;
  }
  platform::Status QueryStatusCode(uint32_t* code) override {
    *code = reply_.mode == Mode::kNotFound ? 404 : 200;
    return platform::kSuccess;
  }
  platform::Status QueryContentLength(uint64_t* length) override {
    *length = announced_;
    return platform::kSuccess;
  }
  platform::Status Read(void* buffer, uint32_t size, uint32_t* read) override {
    size_t n = std::min<size_t>(size, body_.size() - pos_);
    if (n == 0 && reply_.mode == Mode::kBrokenRead) {
      *read = 0;
      return platform::kErrorInternetConnectionReset;
    }
    std::copy(body_.data() + pos_, body_.data() + pos_ + n, static_cast<char*>(buffer));
    pos_ += n;
    *read = static_cast<uint32_t>(n);
    return platform::kSuccess;
  }

 private:
  void Prepare(const std::string& full) {
    body_ = full;
    announced_ = full.size();
    switch (reply_.mode) {
      case Mode::kGarbage:
        body_ = "<html>Sign in to the hotel network</html>";
        announced_ = body_.size();
        break;
      case Mode::kTruncated:
        body_ = full.substr(0, full.size() / 2);
        break;
      case Mode::kBrokenRead:
        body_ = full.substr(0, full.size() / 3);
        break;
      case Mode::kEmpty:
        body_.clear();
        announced_ = 0;
        break;
      default:
        break;
    }
  }
  FakeFarm* farm_;
  bool isPost_;
  Reply reply_;
  std::string body_;
  uint64_t announced_ = 0;
  size_t pos_ = 0;
};

class FakeSession : public platform::HttpSession {
 public:
  explicit FakeSession(FakeFarm* farm) : farm_(farm) {}
  platform::Status SetTimeouts(uint32_t, uint32_t) override { return platform::kSuccess; }
  platform::Status OpenUrl(const std::string&, const std::string&, uint32_t,
                           std::unique_ptr<platform::HttpRequest>* request) override {
    // A plain GET, or the status probe of a POST: one session is one request,
    // so both handles share its fate.
    if (!pending_) pending_.reset(new Reply(farm_->Next()));
    if (pending_->mode == Mode::kRefused) return platform::kErrorInternetCannotConnect;
    request->reset(new FakeRequest(farm_, false, *pending_));
    return platform::kSuccess;
  }
  platform::Status OpenRequest(const std::string&, uint16_t, const std::string&, const std::string&, uint32_t,
                               std::unique_ptr<platform::HttpRequest>* request) override {
    if (!pending_) pending_.reset(new Reply(farm_->Next()));
    if (pending_->mode == Mode::kRefused) return platform::kErrorInternetCannotConnect;
    request->reset(new FakeRequest(farm_, true, *pending_));
    return platform::kSuccess;
  }

 private:
  FakeFarm* farm_;
  std::unique_ptr<Reply> pending_;  // the fate of this session's request
};

class FakeFarmEnv : public platform::EnvWrapper {
 public:
  FakeFarmEnv(platform::Env* target, FakeFarm* farm) : EnvWrapper(target), farm_(farm) {}
  platform::Status InternetOpen(const std::string&,
                                std::unique_ptr<platform::HttpSession>* session) override {
    session->reset(new FakeSession(farm_));
    return platform::kSuccess;
  }
  bool InternetGetConnectedState() override { return connected; }
  // Symbol files live in the test tree's profiles.
  bool GetVersionEx(platform::OsVersionInfo* info) override {
    info->majorVersion = 6;
    return true;
  }
  platform::Status GetKnownFolder(platform::KnownFolder folder, std::string* path) override {
    if (folder == platform::KnownFolder::kPublicDocuments && !publicDocuments.empty()) {
      *path = publicDocuments;
      return platform::kSuccess;
    }
    return EnvWrapper::GetKnownFolder(folder, path);
  }
  bool connected = true;
  std::string publicDocuments;

 private:
  FakeFarm* farm_;
};

}  // namespace upload_testing
