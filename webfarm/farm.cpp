#include "webfarm/farm.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "files/utility.h"
#include "json/reader.h"
#include "json/writer.h"

namespace webfarm {

namespace {

namespace fs = std::filesystem;

struct RoleRow {
  Role role;
  const char* name;
  const char* metadataMember;  // the metadata member holding its URL
};

const RoleRow kRoles[] = {
    {Role::kFirstCall, "first_call", nullptr},
    {Role::kMetadata, "metadata", nullptr},
    {Role::kUpdateCheck, "update_check", "uc_url"},
    {Role::kUsage, "usage", "log_url"},
    {Role::kCrash, "crash", "cr_url"},
    {Role::kInstaller, "installer", "puc_url"},
    {Role::kDefinition, "definition", "df_url"},
    {Role::kMetadataSignature, "metadata_sig", nullptr},
    {Role::kDefinitionSignature, "definition_sig", nullptr},
    {Role::kUnknown, "unknown", nullptr},
};

const struct {
  FaultMode mode;
  const char* name;
} kFaults[] = {
    {FaultMode::kNone, "none"},
    {FaultMode::kRefuse, "refuse"},
    {FaultMode::kNotFound, "404"},
    {FaultMode::kServerError, "500"},
    {FaultMode::kGarbage, "garbage"},
    {FaultMode::kTruncated, "truncated"},
    {FaultMode::kStall, "stall"},
    {FaultMode::kOversized, "oversized"},
    {FaultMode::kRedirect, "redirect"},
    {FaultMode::kForged, "forged"},
    {FaultMode::kHuge, "huge"},
    {FaultMode::kControl, "control"},
    {FaultMode::kTrickle, "trickle"},
    {FaultMode::kWrongSignature, "wrong_signature"},
    {FaultMode::kOtherBytes, "other_bytes"},
    {FaultMode::kUnsigned, "unsigned"},
};

bool IsSignature(Role role) {
  return role == Role::kMetadataSignature || role == Role::kDefinitionSignature;
}
bool IsSignatureFault(FaultMode mode) {
  return mode == FaultMode::kWrongSignature || mode == FaultMode::kOtherBytes || mode == FaultMode::kUnsigned;
}

const char* FaultName(FaultMode mode) {
  for (const auto& f : kFaults) {
    if (f.mode == mode) return f.name;
  }
  return "none";
}

// A string member, or the fallback when absent or not a string.
std::string StringMember(const json::Object& object, const std::string& name, const std::string& fallback) {
  auto it = object.Find(name);
  if (it == object.End() || it->element.Type() != json::kStringType) return fallback;
  return json::json_cast<const json::String&>(it->element).Value();
}

// The envelope of an answer: the updater's transform, without the URL
// encoding (answers travel as bodies).
std::string Envelope(const std::string& jsonText) {
  std::string encoded;
  if (!CUtility::TransformDataToSend(jsonText, encoded)) return std::string();
  return UrlDecode(encoded);
}

bool IsHostile(FaultMode mode) {
  return mode == FaultMode::kForged || mode == FaultMode::kHuge || mode == FaultMode::kControl;
}

// An answer or the metadata changed as a hostile farm would send it; other
// modes change nothing.
void MakeHostile(FaultMode mode, Role role, json::Object& object) {
  const std::string base = "http://127.0.0.1:1";  // no one listens there
  if (role == Role::kMetadata) {
    if (mode == FaultMode::kForged) {
      object["mv_ver"] = json::String("99999-0-0");
      object["in_ver"] = json::String("99.0");
      object["in_url"] = json::String("http://elsewhere.example/InkoraSetup.exe");
    } else if (mode == FaultMode::kHuge) {
      object["uc_url"] = json::String(base + "/" + std::string(1116 - base.size() - 1, 'u'));
      object["in_ver"] = json::String("99.0");
      object["in_url"] = json::String(base + "/" + std::string(20u << 20, 'i'));
      object["uc_freq"] = json::Number(1e12);
    } else if (mode == FaultMode::kControl) {
      object["in_ver"] = json::String("99.0\r\n");
      object["in_url"] = json::String("javascript:alert(1)\r\n\t");
      object["uc_url"] = json::String(base + "/uc\r\n\tX-Injected: 1");
      object["log_url"] = json::String(base + "/\x01usage");
    }
  } else if (mode == FaultMode::kHuge) {
    object["msg"] = json::String(std::string(30u << 20, 'm'));
  } else if (mode == FaultMode::kControl && object.Find("mv_url") != object.End()) {
    object["mv_url"] = json::String(StringMember(object, "mv_url", "") + "\r\n");
  }
}

bool Decipher(const std::string& encodedField, std::string* text) {
  return CUtility::TransformData_Decrypt(UrlDecode(encodedField), *text);
}

// The answer to a request of the role, from answers.json.
json::Object AnswerFor(const json::Object& answers, Role role) {
  json::Object answer;
  answer["code"] = json::String(StringMember(answers, "code", "0"));
  answer["msg"] = json::String(StringMember(answers, "msg", "Success"));
  if (role == Role::kFirstCall || role == Role::kUpdateCheck) {
    answer["mv_url"] = json::String(StringMember(answers, "mv_url", ""));
  }
  if (role == Role::kUpdateCheck) {
    answer["upload_logs"] = json::String(StringMember(answers, "upload_logs", "false"));
    answer["crash_logs"] = json::String(StringMember(answers, "crash_logs", "false"));
  }
  // Per endpoint, members that replace or join the defaults, as they are
  // (a "code" sent as a number, say).
  auto special = answers.Find(RoleName(role));
  if (special != answers.End() && special->element.Type() == json::kObjectType) {
    const json::Object& members = json::json_cast<const json::Object&>(special->element);
    for (auto it = members.Begin(); it != members.End(); ++it) answer[it->name] = it->element;
  }
  return answer;
}

}  // namespace

const char* RoleName(Role role) {
  for (const RoleRow& row : kRoles) {
    if (row.role == role) return row.name;
  }
  return "unknown";
}

bool RoleFromName(const std::string& name, Role* role) {
  for (const RoleRow& row : kRoles) {
    if (name == row.name) {
      *role = row.role;
      return true;
    }
  }
  return false;
}

bool FaultFromName(const std::string& name, FaultMode* mode) {
  for (const auto& f : kFaults) {
    if (name == f.name) {
      *mode = f.mode;
      return true;
    }
  }
  return false;
}

std::string UrlDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else if (c == '+') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool FormField(const std::string& text, const std::string& name, std::string* value) {
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('&', at);
    if (end == std::string::npos) end = text.size();
    const std::string field = text.substr(at, end - at);
    if (field.compare(0, name.size() + 1, name + "=") == 0) {
      *value = field.substr(name.size() + 1);
      return true;
    }
    at = end + 1;
  }
  return false;
}

std::string PathOfUrl(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  const size_t slash = url.find('/', start);
  if (slash == std::string::npos) return "/";
  const size_t end = url.find_first_of("?#", slash);
  return url.substr(slash, end == std::string::npos ? std::string::npos : end - slash);
}

CFarm::CFarm(std::string stateFolder, std::unique_ptr<CSigner> signer)
    : m_state(std::move(stateFolder)), m_signer(std::move(signer)) {
  std::error_code ec;
  fs::create_directories(ReceivedFolder(), ec);
  LoadState();
}

std::string CFarm::ReadState(const std::string& name) {
  std::ifstream in(m_state + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void CFarm::LoadState() {
  auto state = std::make_shared<State>();
  state->metadataText = ReadState("metadata.json");
  json::ObjectRead metadata = json::Reader::ReadObject(state->metadataText);
  state->haveMetadata = metadata.ok;
  state->metadata = std::move(metadata.object);
  state->answers = std::move(json::Reader::ReadObject(ReadState("answers.json")).object);
  std::string name = fs::path(PathOfUrl(StringMember(state->metadata, "df_url", ""))).filename().string();
  if (name.empty() || !fs::exists(m_state + "/" + name)) name = "definitions.xml";
  state->definition = ReadState(name);
  std::lock_guard<std::mutex> lock(m_mutex);
  m_loaded = std::move(state);
}

std::shared_ptr<const CFarm::State> CFarm::CurrentState() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_loaded;
}

Role CFarm::RoleOf(const State& state, const std::string& method, const std::string& path) {
  if (path == "/Teko/UC.hsh") return Role::kFirstCall;
  const size_t n = path.size();
  if (n > 4 && path.compare(n - 4, 4, ".sig") == 0 && method == "GET") {
    switch (RoleOf(state, method, path.substr(0, n - 4))) {
      case Role::kMetadata:
        return Role::kMetadataSignature;
      case Role::kDefinition:
        return Role::kDefinitionSignature;
      default:
        return Role::kUnknown;
    }
  }
  std::string metadataPath = PathOfUrl(StringMember(state.answers, "mv_url", ""));
  if (metadataPath == "/" && state.haveMetadata)
    metadataPath = "/Teko/metadata/" + StringMember(state.metadata, "mv_ver", "");
  if (path == metadataPath && method == "GET") return Role::kMetadata;
  if (state.haveMetadata) {
    for (const RoleRow& row : kRoles) {
      if (row.metadataMember && PathOfUrl(StringMember(state.metadata, row.metadataMember, "")) == path)
        return row.role;
    }
  }
  return Role::kUnknown;
}

// The signature of the exact bytes the signed request is answered with.
Reply CFarm::SignatureFor(const State& state, Role role, FaultMode fault) {
  Reply reply;
  if (!m_signer || fault == FaultMode::kUnsigned) {
    reply.status = 404;
    reply.body = "not signed";
    return reply;
  }
  std::string bytes = role == Role::kMetadataSignature ? state.metadataText : state.definition;
  if (fault == FaultMode::kOtherBytes) bytes += "\n";
  const CSigner& signer = fault == FaultMode::kWrongSignature && m_otherSigner ? *m_otherSigner : *m_signer;
  reply.body = signer.Sign(bytes);
  return reply;
}

Reply CFarm::Handle(const std::string& method, const std::string& path, const std::string& rawQuery,
                    const std::string& body, Fault* fault) {
  const std::shared_ptr<const State> state = CurrentState();
  Record record;
  record.method = method;
  record.path = path;
  record.role = RoleOf(*state, method, path);
  Reply reply;

  // A GET of a POST endpoint is the updater's status probe before its POST.
  const bool postEndpoint = record.role == Role::kUpdateCheck || record.role == Role::kUsage ||
                            record.role == Role::kCrash || record.role == Role::kInstaller;
  const bool probe = postEndpoint && method == "GET";

  std::string field;
  if ((record.role == Role::kFirstCall && FormField(rawQuery, "query", &field)) ||
      (method == "POST" && FormField(body, "query", &field))) {
    record.readable = Decipher(field, &record.payload);
  } else if (method == "POST" || record.role == Role::kFirstCall) {
    record.readable = false;
  }

  {
    std::lock_guard<std::mutex> lock(m_mutex);
    record.sequence = ++m_sequence;
    // Faults: status faults hit the probe (where the updater looks for the
    // status), the others the request that carries the answer.
    Fault* active = nullptr;
    auto it = m_faults.find(record.role);
    if (it != m_faults.end() && it->second.mode != FaultMode::kNone && it->second.remaining != 0)
      active = &it->second;
    if (!active && m_anyFault.mode != FaultMode::kNone && m_anyFault.remaining != 0) active = &m_anyFault;
    if (active) {
      const bool statusFault =
          active->mode == FaultMode::kNotFound || active->mode == FaultMode::kServerError;
      const bool applies = IsSignatureFault(active->mode) ? IsSignature(record.role)
                           : postEndpoint                 ? (statusFault == probe)
                                                          : true;
      if (applies) {
        *fault = *active;
        record.fault = FaultName(active->mode);
        if (active->remaining > 0) --active->remaining;
      }
    }
    if (m_strict && !probe) {
      if (m_expected.empty()) {
        m_problems.push_back(std::string("unexpected ") + method + " " + RoleName(record.role) + " " + path);
        fault->mode = FaultMode::kServerError;
      } else {
        const Expectation next = m_expected.front();
        m_expected.pop_front();
        if (next.role != record.role || next.method != method) {
          m_problems.push_back(std::string("expected ") + next.method + " " + RoleName(next.role) + ", got " +
                               method + " " + RoleName(record.role) + " " + path);
          fault->mode = FaultMode::kServerError;
        }
      }
    }
  }

  if (probe) {
    reply.body = "OK";
  } else if (!record.readable) {
    reply.status = 400;
    reply.body = "the request could not be deciphered";
  } else {
    switch (record.role) {
      case Role::kFirstCall:
      case Role::kUpdateCheck:
      case Role::kUsage:
      case Role::kCrash:
      case Role::kInstaller:
        if (method == "POST" || record.role == Role::kFirstCall) {
          json::Object answer = AnswerFor(state->answers, record.role);
          MakeHostile(fault->mode, record.role, answer);
          reply.body = Envelope(json::Writer::ToString(answer));
        } else {
          reply.status = 405;
          reply.body = "POST expected";
        }
        break;
      case Role::kMetadata:
        if (IsHostile(fault->mode) && state->haveMetadata) {
          json::Object metadata = state->metadata;
          MakeHostile(fault->mode, record.role, metadata);
          reply.body = Envelope(json::Writer::ToString(metadata));
        } else {
          reply.body = Envelope(state->metadataText);  // the bytes its signature covers
        }
        break;
      case Role::kDefinition:
        reply.body = state->definition;
        reply.contentType = "text/xml";
        break;
      case Role::kMetadataSignature:
      case Role::kDefinitionSignature:
        reply = SignatureFor(*state, record.role, fault->mode);
        break;
      default:
        reply.status = 404;
        reply.body = "no such endpoint";
        break;
    }
  }
  switch (fault->mode) {
    case FaultMode::kNotFound:
      reply.status = 404;
      reply.body = "<html>not found</html>";
      break;
    case FaultMode::kServerError:
      reply.status = 500;
      reply.body = "<html>server error</html>";
      break;
    case FaultMode::kGarbage:
      reply.status = 200;
      reply.body = "<html>Sign in to the hotel network</html>";
      break;
    case FaultMode::kRedirect:
      reply.status = 302;
      reply.body.clear();
      break;
    default:
      break;
  }
  record.status = reply.status;
  Store(record);
  return reply;
}

void CFarm::Store(const Record& record) {
  char name[96];
  std::snprintf(name, sizeof name, "/%06llu-%s-%s.txt", static_cast<unsigned long long>(record.sequence),
                RoleName(record.role), record.method.c_str());
  {
    std::ofstream out(ReceivedFolder() + name, std::ios::binary);
    out << record.method << " " << record.path << "\nstatus " << record.status
        << (record.fault.empty() ? "" : " fault " + record.fault)
        << (record.readable ? "" : " undecipherable") << "\n\n"
        << record.payload;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_records.push_back(record);
}

void CFarm::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_records.clear();
  m_faults.clear();
  m_anyFault = Fault();
  m_strict = false;
  m_expected.clear();
  m_problems.clear();
}

bool CFarm::SetFault(const std::string& text, std::string* error) {
  json::ObjectRead read = json::Reader::ReadObject(text);
  if (!read.ok) {
    *error = "a JSON object is expected";
    return false;
  }
  const json::Object& request = read.object;
  const std::string endpoint = StringMember(request, "endpoint", "any");
  Fault fault;
  if (!FaultFromName(StringMember(request, "mode", ""), &fault.mode)) {
    *error = "unknown mode";
    return false;
  }
  auto count = request.Find("count");
  if (count != request.End() && count->element.Type() == json::kNumberType) {
    fault.remaining = static_cast<int>(json::json_cast<const json::Number&>(count->element).Value());
  }
  auto ms = request.Find("ms");
  fault.stallMs = 5000;
  if (ms != request.End() && ms->element.Type() == json::kNumberType) {
    fault.stallMs = static_cast<uint32_t>(json::json_cast<const json::Number&>(ms->element).Value());
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  if (endpoint == "any") {
    m_anyFault = fault;
    return true;
  }
  Role role;
  if (!RoleFromName(endpoint, &role)) {
    *error = "unknown endpoint";
    return false;
  }
  m_faults[role] = fault;
  return true;
}

bool CFarm::Expect(const std::string& text, std::string* error) {
  json::ObjectRead read = json::Reader::ReadObject(text);
  if (!read.ok) {
    *error = "a JSON object is expected";
    return false;
  }
  const json::Object& request = read.object;
  std::deque<Expectation> expected;
  auto list = request.Find("requests");
  if (list == request.End() || list->element.Type() != json::kArrayType) {
    *error = "\"requests\" must be an array";
    return false;
  }
  const json::Array& items = json::json_cast<const json::Array&>(list->element);
  for (auto it = items.Begin(); it != items.End(); ++it) {
    if (it->Type() != json::kObjectType) {
      *error = "every request is an object";
      return false;
    }
    json::Object item = json::json_cast<const json::Object&>(*it);
    Expectation e;
    if (!RoleFromName(StringMember(item, "role", ""), &e.role)) {
      *error = "unknown role";
      return false;
    }
    e.method = StringMember(item, "method", "GET");
    expected.push_back(e);
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strict = true;
  m_expected = std::move(expected);
  m_problems.clear();
  return true;
}

std::string CFarm::RequestsJson() {
  std::lock_guard<std::mutex> lock(m_mutex);
  json::Array list;
  for (const Record& r : m_records) {
    json::Object item;
    item["sequence"] = json::Number(static_cast<double>(r.sequence));
    item["role"] = json::String(RoleName(r.role));
    item["method"] = json::String(r.method);
    item["path"] = json::String(r.path);
    item["status"] = json::Number(r.status);
    item["readable"] = json::Boolean(r.readable);
    item["fault"] = json::String(r.fault);
    item["payload"] = json::String(r.payload);
    list.Insert(item);
  }
  return json::Writer::ToString(list);
}

std::string CFarm::VerifyJson(bool* ok) {
  std::lock_guard<std::mutex> lock(m_mutex);
  json::Array problems;
  for (const std::string& p : m_problems) problems.Insert(json::String(p));
  for (const Expectation& e : m_expected) {
    problems.Insert(json::String(std::string("never came: ") + e.method + " " + RoleName(e.role)));
  }
  *ok = problems.Empty();
  json::Object result;
  result["ok"] = json::Boolean(*ok);
  result["problems"] = problems;
  return json::Writer::ToString(result);
}

std::string CFarm::PublicKey(const std::string& which) {
  const CSigner* signer = which == "signing" ? m_signer.get()
                          : which == "other" ? m_otherSigner.get()
                                             : nullptr;
  return signer ? signer->PublicPem() : std::string();
}

bool CFarm::PutStateFile(const std::string& name, const std::string& content, std::string* error) {
  if (name.empty() || name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
      name[0] == '.') {
    *error = "a plain file name is expected";
    return false;
  }
  std::lock_guard<std::mutex> writing(m_writeMutex);
  const std::string path = m_state + "/" + name;
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
      *error = "cannot write " + path;
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    *error = "cannot write " + path;
    return false;
  }
  LoadState();
  return true;
}

}  // namespace webfarm
