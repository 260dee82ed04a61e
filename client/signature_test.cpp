// Signatures made outside this project, and keys that cannot serve.
#include "client/signature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "client/testing/update_keys.h"
#include "settings/testing/settings_fixture.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

using client_testing::Answer;
using platform_testing::Reply;

const char kUrl[] = "http://farm.test/Teko/metadata/1-0-8";
const char kDocument[] = R"({"mv_ver":"1-0-8","in_ver":"1.0.10","uc_url":"u/uc","in_url":"u/setup.exe"})";

class Signature : public settings_testing::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    env_->http.emplace();
    client_testing::PlayFarm(*env_->http);
    SetProduct("CurrentVersion", "1.0.5");
  }
  bool Load(const std::string& document, const std::string& signature) {
    env_->http->replies = {Answer(document), Reply::Body(signature)};
    env_->http->calls.clear();
    return client_.LoadMetadataFromServer(kUrl);
  }
  std::string Stored() {
    return Service("MetadataVer").value_or("-") + "|" + Service("UpdateCheckUrl").value_or("-") + "|" +
           Product("NextVersion").value_or("-");
  }
  CClientInfo client_;
};

#if !defined(_WIN32)
std::string ReadAll(const std::filesystem::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Key, public key and signature made by the openssl command, over the
// document's bytes as they leave the envelope: no code of this project signs.
TEST_F(Signature, OpensslSignedDocumentIsTakenAndOneChangedByteIsNot) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("inkora-sig-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "doc.json", std::ios::binary) << kDocument;
  const std::string d = dir.string();
  const std::string script =
      "cd '" + d +
      "' && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 "
      "-out key.pem && openssl pkey -in key.pem -pubout -out pub.pem && openssl dgst "
      "-sha256 -sign key.pem -out doc.der doc.json && openssl base64 -in doc.der -out doc.sig";
  const int rc = std::system((script + " 2>/dev/null").c_str());
  const std::string pub = ReadAll(dir / "pub.pem"), signature = ReadAll(dir / "doc.sig");
  std::filesystem::remove_all(dir);
  if (rc != 0) GTEST_SKIP() << "no openssl command";
  ASSERT_NE(std::string::npos, signature.find('\n'));  // wrapped as openssl writes it
  client_testing::ScopedUpdateKeys keys({pub});

  std::string changed = kDocument;
  changed[changed.find("1.0.10") + 5] = '9';
  EXPECT_FALSE(Load(changed, signature));
  EXPECT_EQ("-|-|-", Stored());
  EXPECT_TRUE(Logged(std::string("Refused ") + kUrl + ": the signature does not fit it")) << LogText();
  ASSERT_EQ(2u, env_->http->calls.size());
  EXPECT_EQ(std::string(kUrl) + ".sig", env_->http->calls[1].url);

  EXPECT_TRUE(Load(kDocument, signature));
  EXPECT_EQ("1-0-8|u/uc|1.0.10", Stored());
}
#endif

// A key of the build that cannot be read lets nothing in, and says why.
TEST_F(Signature, AKeyThatCannotBeReadRefusesEverything) {
  client_testing::ScopedUpdateKeys keys({"-----BEGIN PUBLIC KEY-----\nMFkw\n-----END PUBLIC KEY-----\n"});
  EXPECT_FALSE(Load(kDocument, "MAYCAQECAQE="));  // r = s = 1: well formed
  EXPECT_EQ("-|-|-", Stored());
  EXPECT_TRUE(Logged(std::string("Refused ") + kUrl + ": the signature could not be checked, error 13"))
      << LogText();
  for (size_t n : {0, 2}) {
    client_testing::ScopedUpdateKeys some(std::vector<std::string>(n, "k"));
    CUpdateSignature::LogState("T()");
  }
  EXPECT_EQ(1u, CountLogged("Update signatures are not checked: this build holds no vendor key"));
  EXPECT_EQ(1u, CountLogged("Update signatures are checked against 2 built-in key(s)"));
}

}  // namespace
