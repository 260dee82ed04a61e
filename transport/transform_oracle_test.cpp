// The envelope against independent tools: openssl for DES-CBC and base64,
// gzip for the member. Skipped where the tools are missing.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "files/test_env.h"
#include "transport/utility.h"

namespace {

const char kKey[] = "5e83c0d7a91f2b64";
const char kDesCbc[] = "openssl enc -des-cbc -provider legacy -provider default";

class Oracle : public files_testing::EnvFixture {
 protected:
  void SetUp() override {
    files_testing::EnvFixture::SetUp();
    dir_ =
        std::filesystem::temp_directory_path() / ("inkora-oracle-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir_);
    if (!Run("gzip --version") || !Run("printf 12345678 | " + std::string(kDesCbc) + " -K " + kKey +
                                       " -iv 0000000000000000 -out " + Path("probe"))) {
      GTEST_SKIP() << "openssl with the legacy provider, or gzip, is not available";
    }
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    files_testing::EnvFixture::TearDown();
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static bool Run(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
  }
  void Write(const std::string& name, const std::string& data) {
    std::ofstream(Path(name), std::ios::binary) << data;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path dir_;
};

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += std::string{kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

std::string Texts(int i) {
  std::mt19937 random(static_cast<unsigned>(i));
  std::string s;
  size_t n = i == 0 ? 1 : i == 1 ? 77 : i == 2 ? 4096 : 200000;
  while (s.size() < n) s += "{\"mid\":\"" + std::to_string(random()) + "\",\"lang\":\"de-DE\"}";
  s.resize(n);
  return s;
}

TEST_F(Oracle, RequestsDecipherWithOpensslAndPassGzipTest) {
  for (int i = 0; i < 4; ++i) {
    const std::string text = Texts(i);
    SCOPED_TRACE(text.size());
    std::string request;
    ASSERT_TRUE(CUtility::TransformDataToSend(text, request));
    std::string base64;
    for (size_t at = 0; at < request.size(); ++at) {
      std::string esc = request.substr(at, 3);
      if (esc == "%2B" || esc == "%2F" || esc == "%3D") {
        base64 += esc == "%2B" ? '+' : esc == "%2F" ? '/' : '=';
        at += 2;
      } else {
        base64 += request[at];
      }
    }
    Write("b64", base64);
    ASSERT_TRUE(Run("openssl base64 -d -A -in " + Path("b64") + " -out " + Path("env")));
    const std::string envelope = Read("env");
    ASSERT_GT(envelope.size(), 8u);
    Write("cipher", envelope.substr(8));
    ASSERT_TRUE(Run(std::string(kDesCbc) + " -d -K " + kKey + " -iv " + Hex(envelope.substr(0, 8)) + " -in " +
                    Path("cipher") + " -out " + Path("member.gz")));
    ASSERT_TRUE(Run("gzip -t " + Path("member.gz")));
    ASSERT_TRUE(Run("gzip -dc " + Path("member.gz") + " > " + Path("plain")));
    EXPECT_TRUE(text == Read("plain"));  // large texts: no dump on failure
  }
}

TEST_F(Oracle, AnswersMadeByGzipAndOpensslReadBack) {
  const char* iv = "0f1e2d3c4b5a6978";
  struct Case {
    const char* name;
    const char* gzip;  // how the member is made
  } cases[] = {{"gzip -6 without name", "gzip -6 -n -c"},
               {"gzip with file name", "gzip -6 -c"},
               {"gzip -9", "gzip -9 -n -c"}};
  for (int i = 0; i < 4; ++i) {
    for (const Case& c : cases) {
      const std::string text = Texts(i);
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(text.size()));
      Write("plain", text);
      ASSERT_TRUE(Run(std::string(c.gzip) + " " + Path("plain") + " > " + Path("member.gz")));
      ASSERT_TRUE(Run(std::string(kDesCbc) + " -K " + kKey + " -iv " + iv + " -in " + Path("member.gz") +
                      " -out " + Path("cipher")));
      std::string envelope;
      for (int b = 0; b < 8; ++b)
        envelope += static_cast<char>(std::stoi(std::string(iv + 2 * b, 2), nullptr, 16));
      Write("env", envelope + Read("cipher"));
      // Line-broken base64, as a web server may send it.
      ASSERT_TRUE(Run("openssl base64 -in " + Path("env") + " -out " + Path("b64")));
      std::string out;
      ASSERT_TRUE(CUtility::TransformData_Decrypt(Read("b64"), out));
      EXPECT_TRUE(text == out);
    }
  }
}

}  // namespace

#endif  // !_WIN32
