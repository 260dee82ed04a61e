// A deciphered answer of any shape fed to the client's answer readers and to
// the metadata load (through a web farm faked at the HTTP layer): none of them
// may crash, and a load that fails may leave no setting changed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "platform/env.h"
#include "platform/testing/fake_env.h"
#include "settings/process_state.h"
#include "settings/registry.h"

namespace {

struct World {
  World() {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "inkora-fuzz-answers";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    isolated = platform::NewIsolatedEnv(dir.string());
    fake = std::make_unique<platform_testing::FakeEnv>(isolated.get());
    fake->clock.now = 1000000000;
    fake->http.probes = true;
    platform::Env::SetDefault(&fake->env);
    SetRegValue_String(kProductKey, "CurrentVersion", "1.0.5");
  }
  std::unique_ptr<platform::Env> isolated;
  std::unique_ptr<platform_testing::FakeEnv> fake;
};

std::string Settings() {
  std::string all;
  for (int row : {kUpdateFreq, kLastCheck, kMetadataVer, kPostInstUrl, kUpdateCheckUrl, kUsgLogUrl,
                  kCrashLogUrl, kDefinitionUrl}) {
    all += GetRegValue_String(kServiceKey, RegValueNames[row], false) + "\n";
  }
  return all + GetRegValue_String(kProductKey, "NextVersion", false) + "\n" +
         GetRegValue_String(kProductKey, "NextVersionURL", false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CClientInfo client;

  ServerResult result;
  client.ParseResult(text, result);
  client.getResp(text, "mv_url");

  // The metadata load: the envelope of the text, then the same text cut at a
  // random-looking point (a truncated body).
  *world.fake->clock.now += 61;
  const std::string before = Settings();
  world.fake->http.replies.push_back(client_testing::Answer(text));
  if (!client.LoadMetadataFromServer("http://farm.test/meta/1-0-8") && Settings() != before) std::abort();

  const std::string after = Settings();
  world.fake->http.replies.push_back(platform_testing::Reply::Truncated(client_testing::Sealed(text)));
  if (!client.LoadMetadataFromServer("http://farm.test/meta/1-0-8") && Settings() != after) std::abort();
  world.fake->http.calls.clear();
  return 0;
}
