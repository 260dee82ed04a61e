// The envelope against independent tools: openssl for DES-CBC and base64,
// gzip for the member. Skipped where the tools are missing.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "settings/testing/settings_fixture.h"
#include "transport/utility.h"

namespace {

const char kKey[] = "5e83c0d7a91f2b64";
const char kDesCbc[] = "openssl enc -des-cbc -provider legacy -provider default";

class Oracle : public settings_testing::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    if (!Run("gzip --version") || !Run("printf 12345678 | " + std::string(kDesCbc) + " -K " + kKey +
                                       " -iv 0000000000000000 -out " + Path("probe"))) {
      GTEST_SKIP() << "openssl with the legacy provider, or gzip, is not available";
    }
  }
  std::string Path(const std::string& name) const { return tmp_ + "/" + name; }
  static bool Run(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
  }
  void Write(const std::string& name, const std::string& data) {
    std::ofstream(Path(name), std::ios::binary) << data;
  }
  std::string Read(const std::string& name) {
    std::stringstream s;
    s << std::ifstream(Path(name), std::ios::binary).rdbuf();
    return s.str();
  }
};

std::string Text(size_t n) {
  std::mt19937 random(static_cast<unsigned>(n));
  std::string s;
  while (s.size() < n) s += "{\"mid\":\"" + std::to_string(random()) + "\",\"lang\":\"de-DE\"}";
  return s.substr(0, n);
}

// Requests decipher with openssl and pass "gzip -t"; answers made by gzip (with
// and without a name) and openssl read back.
TEST_F(Oracle, RequestsAndAnswersAgainstOpensslAndGzip) {
  for (size_t n : {1, 77, 4096, 200000}) {
    const std::string text = Text(n);
    SCOPED_TRACE(n);
    std::string request, base64, out;
    ASSERT_TRUE(CUtility::TransformDataToSend(text, request));
    for (size_t at = 0; at < request.size(); ++at) {
      const std::string esc = request.substr(at, 3);
      const bool escaped = esc == "%2B" || esc == "%2F" || esc == "%3D";
      base64 += !escaped ? request[at] : esc == "%2B" ? '+' : esc == "%2F" ? '/' : '=';
      at += escaped ? 2 : 0;
    }
    Write("b64", base64);
    ASSERT_TRUE(Run("openssl base64 -d -A -in " + Path("b64") + " -out " + Path("env")));
    ASSERT_TRUE(Run("head -c 8 " + Path("env") + " | od -An -tx1 | tr -d ' \\n' > " + Path("iv") +
                    " && tail -c +9 " + Path("env") + " > " + Path("cipher")));
    ASSERT_TRUE(Run(std::string(kDesCbc) + " -d -K " + kKey + " -iv " + Read("iv") + " -in " +
                    Path("cipher") + " -out " + Path("member.gz")));
    ASSERT_TRUE(
        Run("gzip -t " + Path("member.gz") + " && gzip -dc " + Path("member.gz") + " > " + Path("plain")));
    EXPECT_TRUE(text == Read("plain"));  // large texts: no dump on failure
    // Line-broken base64 of IV and cipher text, as a web server may send it.
    const char* gzip = n == 1 ? "gzip -6 -n -c" : n == 77 ? "gzip -9 -n -c" : "gzip -6 -c";
    ASSERT_TRUE(Run(std::string(gzip) + " " + Path("plain") + " | " + kDesCbc + " -K " + kKey +
                    " -iv 0f1e2d3c4b5a6978 -out " + Path("cipher") +
                    " && (printf '\\017\\036\\055\\074\\113\\132\\151\\170'; cat " + Path("cipher") +
                    ") | openssl base64 -out " + Path("b64")));
    ASSERT_TRUE(CUtility::TransformData_Decrypt(Read("b64"), out));
    EXPECT_TRUE(text == out);
  }
}

}  // namespace

#endif  // !_WIN32
