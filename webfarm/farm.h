// The reference web farm: answers the updater's requests from a state folder
// in the same envelope the updater speaks, stores every request it receives,
// and can be told to fail in the ways a real web farm or network does.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "json/elements.h"
#include "webfarm/signer.h"

namespace webfarm {

// The endpoints, by what a request is for. The paths of all but the first
// call come from the metadata document the farm serves; a signature lies at
// the path of what it signs with ".sig" appended.
enum class Role {
  kFirstCall,
  kMetadata,
  kUpdateCheck,
  kUsage,
  kCrash,
  kInstaller,
  kDefinition,
  kMetadataSignature,
  kDefinitionSignature,
  kUnknown
};
const char* RoleName(Role role);
bool RoleFromName(const std::string& name, Role* role);

// kRedirect: a 302 to the same target on the plain http listener.
// Hostile answers, well formed in the envelope: kForged, metadata for another
// version ("mv_ver" 99999-0-0) with an installer on another host; kHuge,
// values far beyond what the updater stores (a 1,116-character "uc_url", a
// 20 MiB "in_url", "uc_freq" 1e12, a 30 MiB "msg"); kControl, URLs and
// versions with CR, LF and tab in them; kTrickle, the answer one byte per
// stall time.
// The last three hit only signatures: one by a key the updater does not hold,
// one of other bytes than those served, and none at all (404).
enum class FaultMode {
  kNone,
  kRefuse,
  kNotFound,
  kServerError,
  kGarbage,
  kTruncated,
  kStall,
  kOversized,
  kRedirect,
  kForged,
  kHuge,
  kControl,
  kTrickle,
  kWrongSignature,
  kOtherBytes,
  kUnsigned
};
bool FaultFromName(const std::string& name, FaultMode* mode);

struct Fault {
  FaultMode mode = FaultMode::kNone;
  int remaining = -1;  // requests it applies to; -1 for all until cleared
  uint32_t stallMs = 0;
};

// One request as the farm understood it.
struct Record {
  uint64_t sequence = 0;
  Role role = Role::kUnknown;
  std::string method;
  std::string path;
  std::string payload;   // the deciphered JSON or log text; empty when none
  bool readable = true;  // false when a query or form was sent but could not be deciphered
  int status = 200;
  std::string fault;  // the fault applied, if any
};

// What a strict test expects next.
struct Expectation {
  Role role = Role::kUnknown;
  std::string method;
};

// The answer to one request, before faults.
struct Reply {
  int status = 200;
  std::string contentType = "text/plain";
  std::string body;
};

class CFarm {
 public:
  // Given a signer, the farm signs the metadata and the definition file it serves.
  explicit CFarm(std::string stateFolder, std::unique_ptr<CSigner> signer = nullptr);

  // A request in: method, path, raw query text (after '?'), body, and the
  // form's "query" field. Returns the reply and the fault to apply.
  Reply Handle(const std::string& method, const std::string& path, const std::string& rawQuery,
               const std::string& body, Fault* fault);

  // The control API (JSON texts in and out).
  void Reset();
  bool SetFault(const std::string& json, std::string* error);
  bool Expect(const std::string& json, std::string* error);
  std::string RequestsJson();
  std::string VerifyJson(bool* ok);
  // A public key as PEM: "signing" (empty when the farm does not sign) or
  // "other", the key of the wrong_signature fault.
  std::string PublicKey(const std::string& which);
  // Writes a file of the state folder and loads the state files again.
  bool PutStateFile(const std::string& name, const std::string& content, std::string* error);

  const std::string& stateFolder() const { return m_state; }

 private:
  // The state files as loaded when they were last written (at start, or by
  // PutStateFile), so no request reads or parses them.
  struct State {
    std::string metadataText;  // served as it stands: the bytes its signature covers
    json::Object metadata;     // empty unless the text holds an object
    bool haveMetadata = false;
    json::Object answers;
    std::string definition;  // the file "df_url" names when there is one, else definitions.xml
  };

  Role RoleOf(const State& state, const std::string& method, const std::string& path);
  Reply SignatureFor(const State& state, Role role, FaultMode fault);
  void Store(const Record& record);
  std::string ReadState(const std::string& name);
  void LoadState();
  std::shared_ptr<const State> CurrentState();
  std::string ReceivedFolder() const { return m_state + "/received"; }

  std::string m_state;
  std::unique_ptr<CSigner> m_signer;
  std::unique_ptr<CSigner> m_otherSigner = CSigner::Generate();
  std::mutex m_writeMutex;  // one state file written and loaded at a time
  std::mutex m_mutex;
  std::shared_ptr<const State> m_loaded;
  uint64_t m_sequence = 0;
  std::vector<Record> m_records;
  std::map<Role, Fault> m_faults;
  Fault m_anyFault;
  bool m_strict = false;
  std::deque<Expectation> m_expected;
  std::vector<std::string> m_problems;
};

// Percent-decoding of a query or form value ('+' is a blank).
std::string UrlDecode(const std::string& text);
// The value of one field of a query or form text, still encoded.
bool FormField(const std::string& text, const std::string& name, std::string* value);
// The path of a URL ("http://host:port/a/b?c" gives "/a/b").
std::string PathOfUrl(const std::string& url);

}  // namespace webfarm
