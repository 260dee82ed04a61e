// A web farm faked at the HTTP layer of the Env for the client tests, fuzz
// target and benchmark: every request recorded (deciphered the way the web
// farm does it on demand), every answer a real envelope, each one able to
// fail; and a fake clock, time zone, operating system and locale.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "transport/utility.h"

namespace client_testing {

inline std::string UrlDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
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

// The envelope of an answer: the request transform without its URL encoding.
inline std::string Envelope(const std::string& json) {
  std::string encoded;
  if (!CUtility::TransformDataToSend(json, encoded)) return std::string();
  return UrlDecode(encoded);
}

// The JSON text of a request's "query=" field, or "<undecipherable>".
inline std::string DecodeQuery(const std::string& text) {
  size_t at = text.find("query=");
  if (at == std::string::npos) return "<no query>";
  std::string json;
  if (!CUtility::TransformData_Decrypt(UrlDecode(text.substr(at + 6)), json)) return "<undecipherable>";
  return json;
}

// How the fake web farm answers one request.
struct Answer {
  enum Kind { kBody, kRefused, kStatus, kTruncated, kBrokenRead } kind = kBody;
  std::string body;  // sent as it is (use Envelope for a real answer)
  uint32_t status = 200;

  static Answer Json(const std::string& json) { return Answer{kBody, Envelope(json), 200}; }
  static Answer Raw(const std::string& body) { return Answer{kBody, body, 200}; }
  static Answer Refused() { return Answer{kRefused, "", 0}; }
  static Answer Status(uint32_t code) { return Answer{kStatus, "<html>error</html>", code}; }
  static Answer Truncated(const std::string& json) { return Answer{kTruncated, Envelope(json), 200}; }
  static Answer BrokenRead(const std::string& json) { return Answer{kBrokenRead, Envelope(json), 200}; }
};

struct Request {
  std::string verb;  // "GET" or "POST"
  std::string url;
  std::string data;  // the form text of a POST
};

struct FakeFarm {
  std::deque<Answer> script;  // one per request; when empty, Refused
  std::vector<Request> requests;
  Answer Next() {
    if (script.empty()) return Answer::Refused();
    Answer a = script.front();
    script.pop_front();
    return a;
  }
};

class FakeHttpRequest : public platform::HttpRequest {
 public:
  FakeHttpRequest(Answer answer, std::string* posted) : answer_(std::move(answer)), posted_(posted) {}
  platform::Status Send(const std::string&, const std::string& data) override {
    if (posted_) *posted_ = data;
    return platform::kSuccess;
  }
  platform::Status QueryStatusCode(uint32_t* code) override {
    *code = answer_.kind == Answer::kStatus ? answer_.status : 200;
    return platform::kSuccess;
  }
  platform::Status QueryContentLength(uint64_t* length) override {
    *length = answer_.body.size();
    return platform::kSuccess;
  }
  platform::Status Read(void* buffer, uint32_t size, uint32_t* read) override {
    size_t end = answer_.body.size();
    if (answer_.kind == Answer::kTruncated || answer_.kind == Answer::kBrokenRead) end /= 2;
    size_t n = std::min<size_t>(size, end - pos_);
    if (n == 0 && answer_.kind == Answer::kBrokenRead) {
      *read = 0;
      return platform::kErrorInternetConnectionReset;
    }
    std::copy(answer_.body.data() + pos_, answer_.body.data() + pos_ + n, static_cast<char*>(buffer));
    pos_ += n;
    *read = static_cast<uint32_t>(n);
    return platform::kSuccess;
  }

 private:
  Answer answer_;
  std::string* posted_;
  size_t pos_ = 0;
};

// One session is one request: a GET, or a POST with its status probe.
class FakeHttpSession : public platform::HttpSession {
 public:
  explicit FakeHttpSession(FakeFarm* farm) : farm_(farm) {}
  ~FakeHttpSession() override {
    if (!answer_) return;
    farm_->requests.push_back(posting_ ? Request{"POST", url_, posted_} : Request{"GET", url_, ""});
  }
  platform::Status SetTimeouts(uint32_t, uint32_t) override { return platform::kSuccess; }
  platform::Status OpenUrl(const std::string& url, const std::string&, uint32_t,
                           std::unique_ptr<platform::HttpRequest>* request) override {
    url_ = url;
    Take();
    if (answer_->kind == Answer::kRefused) return platform::kErrorInternetCannotConnect;
    request->reset(new FakeHttpRequest(*answer_, nullptr));
    return platform::kSuccess;
  }
  platform::Status OpenRequest(const std::string&, uint16_t, const std::string&, const std::string&, uint32_t,
                               std::unique_ptr<platform::HttpRequest>* request) override {
    posting_ = true;
    Take();
    if (answer_->kind == Answer::kRefused) return platform::kErrorInternetCannotConnect;
    request->reset(new FakeHttpRequest(*answer_, &posted_));
    return platform::kSuccess;
  }

 private:
  void Take() {
    if (!answer_) answer_.reset(new Answer(farm_->Next()));
  }
  FakeFarm* farm_;
  std::unique_ptr<Answer> answer_;
  bool posting_ = false;
  std::string url_;
  std::string posted_;
};

// Local calendar fields of a moment in a zone given by its offset function.
inline void CivilFields(int64_t seconds, platform::LocalTimeFields* f) {
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t rest = seconds - days * 86400;
  f->hour = static_cast<int>(rest / 3600);
  f->minute = static_cast<int>(rest % 3600 / 60);
  f->second = static_cast<int>(rest % 60);
  f->weekday = static_cast<int>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  // Days to civil date (proleptic Gregorian).
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  f->day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  f->month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  f->year = static_cast<int>(yoe + era * 400 + (f->month <= 2 ? 1 : 0));
}

// The Env of the client tests: HTTP to the fake farm, a settable clock and
// zone, and a described operating system; everything else goes to the tree.
class FakeClientEnv : public platform::EnvWrapper {
 public:
  FakeClientEnv(platform::Env* target, FakeFarm* farm) : EnvWrapper(target), farm_(farm) {}

  platform::Status InternetOpen(const std::string&, std::unique_ptr<platform::HttpSession>* s) override {
    s->reset(new FakeHttpSession(farm_));
    return platform::kSuccess;
  }
  int64_t Now() override { return now; }
  bool ToLocalTime(int64_t s, platform::LocalTimeFields* f) override {
    CivilFields(s + (zone ? zone(s) : 0), f);
    return true;
  }
  int32_t GetTimeZoneBias() override { return bias; }
  bool GetVersionEx(platform::OsVersionInfo* i) override {
    if (!versionOk) return false;
    *i = version;
    return true;
  }
  uint16_t GetNativeProcessorArchitecture() override { return arch; }
  bool GetProductInfo(uint32_t, uint32_t, uint32_t* t) override {
    if (!productInfoOk) return false;
    *t = productType;
    return true;
  }
  int GetSystemMetrics(int index) override { return index == 89 ? serverR2 : 0; }
  bool GetLocaleInfo(uint32_t type, std::string* v) override {
    auto it = locale.find(type);
    if (it == locale.end()) return false;
    *v = it->second;
    return true;
  }

  int64_t now = 1000000000;
  std::function<int64_t(int64_t)> zone;  // seconds to add to UTC for local time
  int32_t bias = 0;
  bool versionOk = true;
  platform::OsVersionInfo version;
  uint16_t arch = 9;
  bool productInfoOk = true;
  uint32_t productType = 0;
  int serverR2 = 0;
  std::map<uint32_t, std::string> locale{{0x59, "en"}, {0x5A, "US"}};

 private:
  FakeFarm* farm_;
};

}  // namespace client_testing
