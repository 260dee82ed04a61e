// The real registry: values in the 32-bit view, kept apart from the 64-bit one.
#include <algorithm>
#include <cstring>

#include "platform/win32/win32_test_util.h"

namespace platform {
namespace {

constexpr uint32_t kView32 = kKeyWow64_32Key;
constexpr uint32_t kView64 = kKeyWow64_64Key;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = "SOFTWARE\\InkoraWin32Test\\p" + std::to_string(::GetCurrentProcessId());
    Clean();
  }
  void TearDown() override {
    Clean();
    env_.RegDeleteTree("SOFTWARE\\InkoraWin32Test", kView32);
    env_.RegDeleteTree("SOFTWARE\\InkoraWin32Test", kView64);
  }
  void Clean() {
    env_.RegDeleteTree(root_, kView32);
    env_.RegDeleteTree(root_, kView64);
  }
  std::unique_ptr<RegKey> Create(const std::string& sub, uint32_t view = kView32) {
    std::unique_ptr<RegKey> key;
    EXPECT_EQ(kSuccess, env_.RegCreateKey(root_ + sub, kKeyRead | kKeyWrite | view, &key));
    return key;
  }
  Status SetString(RegKey* key, const std::string& name, const std::string& text) {
    return key->SetValue(name, kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
  }

  Win32Env env_{std::string()};
  std::string root_;
};

TEST_F(RegistryTest, StringWrittenInThe32BitViewIsAbsentFromThe64BitView) {
  {
    std::unique_ptr<RegKey> key = Create("\\Service");
    ASSERT_TRUE(key);
    ASSERT_EQ(kSuccess, SetString(key.get(), "MetadataVer", "1-0-7"));
  }
  std::unique_ptr<RegKey> key;
  ASSERT_EQ(kSuccess, env_.RegOpenKey(root_ + "\\Service", kKeyRead | kView32, &key));
  char buf[64] = {0};
  uint32_t type = 0, size = sizeof(buf);
  ASSERT_EQ(kSuccess, key->QueryValue("MetadataVer", &type, buf, &size));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(6u, size);  // the terminating zero is stored
  EXPECT_STREQ("1-0-7", buf);

  std::unique_ptr<RegKey> other;
  Status s = env_.RegOpenKey(root_ + "\\Service", kKeyRead | kView64, &other);
  if (s == kSuccess) {
    EXPECT_EQ(kErrorFileNotFound, other->QueryValue("MetadataVer", nullptr, nullptr, &size));
  } else {
    EXPECT_EQ(kErrorFileNotFound, s);
  }
}

TEST_F(RegistryTest, CreateMakesMissingParentsAndOpenThenFindsThem) {
  std::unique_ptr<RegKey> key;
  EXPECT_EQ(kErrorFileNotFound, env_.RegOpenKey(root_ + "\\A\\B\\C", kKeyRead | kView32, &key));
  EXPECT_FALSE(key);
  ASSERT_TRUE(Create("\\A\\B\\C"));
  EXPECT_EQ(kSuccess, env_.RegOpenKey(root_ + "\\A\\B", kKeyRead | kView32, &key));
  EXPECT_EQ(kSuccess, env_.RegOpenKey(root_ + "\\A\\B\\C", kKeyRead | kView32, &key));
  // A second create of an existing key opens it.
  EXPECT_TRUE(Create("\\A\\B\\C"));
}

TEST_F(RegistryTest, QueryReportsTypeSizeAndShortBuffers) {
  std::unique_ptr<RegKey> key = Create("");
  ASSERT_TRUE(key);
  const uint32_t dword = 0xDEADBEEF;
  ASSERT_EQ(kSuccess, key->SetValue("dw", kRegDword, &dword, sizeof(dword)));
  ASSERT_EQ(kSuccess, SetString(key.get(), "empty", ""));
  ASSERT_EQ(kSuccess, SetString(key.get(), "text", "0123456789"));
  ASSERT_EQ(kSuccess, key->SetValue("raw", kRegBinary, "\x01\x02\x03", 3));

  struct Case {
    const char* name;
    uint32_t bufferSize;  // 0: no data pointer
    Status status;
    uint32_t type;
    uint32_t size;
  } cases[] = {
      {"dw", 4, kSuccess, kRegDword, 4},        {"dw", 0, kSuccess, kRegDword, 4},  // size only
      {"dw", 2, kErrorMoreData, kRegDword, 4},  // too small: the needed size
      {"empty", 8, kSuccess, kRegSz, 1},        {"text", 11, kSuccess, kRegSz, 11},
      {"text", 10, kErrorMoreData, kRegSz, 11}, {"raw", 8, kSuccess, kRegBinary, 3},
      {"missing", 8, kErrorFileNotFound, 0, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.bufferSize));
    char buf[64];
    std::memset(buf, 0x55, sizeof(buf));
    uint32_t type = 0, size = c.bufferSize;
    Status s = key->QueryValue(c.name, &type, c.bufferSize == 0 ? nullptr : buf, &size);
    EXPECT_EQ(c.status, s);
    if (s == kSuccess || s == kErrorMoreData) {
      EXPECT_EQ(c.type, type);
      EXPECT_EQ(c.size, size);
    }
  }
  uint32_t back = 0, size = sizeof(back);
  ASSERT_EQ(kSuccess, key->QueryValue("dw", nullptr, &back, &size));
  EXPECT_EQ(dword, back);
}

TEST_F(RegistryTest, DeleteValueThenDeleteAgainFindsNothing) {
  std::unique_ptr<RegKey> key = Create("");
  ASSERT_TRUE(key);
  ASSERT_EQ(kSuccess, SetString(key.get(), "testpath", "C:\\x"));
  EXPECT_EQ(kSuccess, key->DeleteValue("testpath"));
  EXPECT_EQ(kErrorFileNotFound, key->DeleteValue("testpath"));
  EXPECT_EQ(kErrorFileNotFound, key->DeleteValue("never-there"));
}

TEST_F(RegistryTest, EnumKeyListsSubkeysAndReportsShortNames) {
  for (const char* sub : {"\\a", "\\bb", "\\ccc"}) ASSERT_TRUE(Create(sub));
  std::unique_ptr<RegKey> key;
  ASSERT_EQ(kSuccess, env_.RegOpenKey(root_, kKeyRead | kView32, &key));
  std::vector<std::string> names;
  std::string name;
  uint32_t i = 0;
  for (; key->EnumKey(i, &name, 255) == kSuccess; ++i) names.push_back(name);
  EXPECT_EQ(kErrorNoMoreItems, key->EnumKey(i, &name, 255));
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"a", "bb", "ccc"}), names);

  // A name of maxLength characters or more does not fit.
  bool sawMoreData = false;
  for (uint32_t j = 0; j < 3; ++j) {
    Status s = key->EnumKey(j, &name, 2);
    if (s == kErrorMoreData) {
      sawMoreData = true;
    } else {
      EXPECT_EQ(kSuccess, s);
    }
  }
  EXPECT_TRUE(sawMoreData);
}

TEST_F(RegistryTest, DeleteTreeRemovesOneViewOnly) {
  {
    std::unique_ptr<RegKey> k32 = Create("\\Deep\\Er", kView32);
    std::unique_ptr<RegKey> k64 = Create("\\Deep\\Er", kView64);
    ASSERT_TRUE(k32 && k64);
    ASSERT_EQ(kSuccess, SetString(k32.get(), "v", "32"));
    ASSERT_EQ(kSuccess, SetString(k64.get(), "v", "64"));
  }
  EXPECT_EQ(kSuccess, env_.RegDeleteTree(root_, kView64));
  std::unique_ptr<RegKey> key;
  EXPECT_EQ(kErrorFileNotFound, env_.RegOpenKey(root_, kKeyRead | kView64, &key));
  ASSERT_EQ(kSuccess, env_.RegOpenKey(root_ + "\\Deep\\Er", kKeyRead | kView32, &key));
  char buf[8] = {0};
  uint32_t size = sizeof(buf);
  ASSERT_EQ(kSuccess, key->QueryValue("v", nullptr, buf, &size));
  EXPECT_STREQ("32", buf);
  key.reset();
  EXPECT_EQ(kSuccess, env_.RegDeleteTree(root_, kView32));
  EXPECT_EQ(kErrorFileNotFound, env_.RegDeleteTree(root_, kView32));
  EXPECT_EQ(kErrorInvalidParameter, env_.RegDeleteTree("", kView32));
}

}  // namespace
}  // namespace platform
