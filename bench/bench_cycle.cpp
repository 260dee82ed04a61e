// One full client cycle: first call, metadata load, update check. Reports the
// time per cycle and the peak of the live heap during it, twice: against a web
// farm faked at the HTTP layer of the Env (its answers enciphered before the
// timed part, so the figures are the updater's own work), and against the
// reference web farm on loopback over the real HTTP backend (libcurl), whose
// heap is its own process's and not counted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "platform/env.h"
#include "platform/testing/fake_env.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "webfarm/testing/webfarm_fixture.h"

#include "bench/counting_heap.h"

namespace {

const char kMetadata[] =
    "{\"mv_ver\":\"1-0-8\",\"sv_ver\":\"1.0.14.0\",\"in_ver\":\"1.0.10\",\"df_ver\":\"3\","
    "\"uc_url\":\"http://farm.test/uc\",\"puc_url\":\"http://farm.test/puc\",\"log_url\":\"http://farm.test/"
    "log\","
    "\"log_diag\":\"off\",\"uc_freq\":12,\"in_url\":\"http://farm.test/setup-1.0.10.exe\","
    "\"sv_url\":\"http://farm.test/sv\",\"df_url\":\"http://farm.test/df\",\"cr_url\":\"http://farm.test/"
    "cr\"}";

void BM_FirstCallMetadataUpdateCheck(benchmark::State& state) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "inkora-bench-cycle";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::unique_ptr<platform::Env> isolated = platform::NewIsolatedEnv(dir.string());
  platform_testing::FakeEnv env(isolated.get());
  env.http.probes = true;
  platform::ScopedDefaultEnv scoped(&env.env);
  SetFixedField(szServiceVersion, sizeof(szServiceVersion), "1.0.13.0");
  SetRegValue_String(kProductKey, "ComputerID", "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}");
  SetRegValue_String(kProductKey, "ProductNumber", "P-42");
  SetRegValue_String(kProductKey, "CurrentVersion", "1.0.5");

  const auto first =
      client_testing::Answer("{\"code\":\"0\",\"msg\":\"\",\"mv_url\":\"http://farm.test/meta/1-0-8\"}");
  const auto metadata = client_testing::Answer(kMetadata);
  const auto check = client_testing::Answer(
      "{\"code\":\"0\",\"msg\":\"\",\"mv_url\":\"http://farm.test/meta/1-0-8\",\"upload_logs\":\"true\"}");

  CClientInfo client;
  client.Initialize();
  int64_t worstPeak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DeleteRegValue(kServiceKey, "MetadataVer");
    env.http.calls.clear();
    env.http.replies = {first, metadata, check};
    UpdateResultRecord result;
    int64_t base = g_live.load();
    g_peak.store(base);
    state.ResumeTiming();

    std::string mvUrl = client.MakeFirstCall();
    bool loaded = client.IsNewMetadata(mvUrl) && client.LoadMetadataFromServer(mvUrl);
    client.UpdateCheck(client.GetSetting(kUpdateCheckUrl), result);

    state.PauseTiming();
    if (!loaded || !result.upload_logs || env.http.calls.size() != 4) {
      state.SkipWithError("the cycle did not complete");
      break;
    }
    worstPeak = std::max(worstPeak, g_peak.load() - base);
    state.ResumeTiming();
  }
  state.counters["peak_heap_KB"] = static_cast<double>(worstPeak) / 1024.0;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FirstCallMetadataUpdateCheck)->Unit(benchmark::kMicrosecond);

void BM_CycleAgainstWebFarm(benchmark::State& state) {
  std::string error;
  std::unique_ptr<webfarm_testing::CWebFarm> farm = webfarm_testing::CWebFarm::Start(&error);
  if (farm == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "inkora-bench-cycle-farm";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::unique_ptr<platform::Env> env = platform::NewIsolatedEnv(dir.string());
  platform::ScopedDefaultEnv scoped(env.get());
  SetFixedField(szServiceVersion, sizeof(szServiceVersion), "1.0.13.0");
  SetRegValue_String(kServiceKey, "ProductionHost", farm->hostPort());
  SetRegValue_String(kProductKey, "ComputerID", "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}");
  SetRegValue_String(kProductKey, "ProductNumber", "P-42");
  SetRegValue_String(kProductKey, "CurrentVersion", "1.0.5");

  CClientInfo client;
  client.Initialize();
  int64_t worstPeak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DeleteRegValue(kServiceKey, "MetadataVer");
    UpdateResultRecord result;
    int64_t base = g_live.load();
    g_peak.store(base);
    state.ResumeTiming();

    std::string mvUrl = client.MakeFirstCall();
    bool loaded = client.IsNewMetadata(mvUrl) && client.LoadMetadataFromServer(mvUrl);
    client.UpdateCheck(client.GetSetting(kUpdateCheckUrl), result);

    state.PauseTiming();
    if (!loaded || !result.upload_logs) {
      state.SkipWithError("the cycle did not complete");
      break;
    }
    worstPeak = std::max(worstPeak, g_peak.load() - base);
    state.ResumeTiming();
  }
  state.counters["peak_heap_KB"] = static_cast<double>(worstPeak) / 1024.0;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CycleAgainstWebFarm)->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
