// The foreground service host: its wait has no time-out, so each way of
// stopping must wake it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/posix/posix_env.h"

namespace platform {
namespace {

enum class Stop { kSignal, kOwnReport, kBeforeTheWait };

struct Run {
  Env* env = nullptr;
  Stop stop = Stop::kSignal;
  int signal = SIGTERM;
  ServiceStatusHandle handle = 0;
  std::atomic<int> controls{0};
};
Run g_run;

void ReportState(uint32_t state) {
  ServiceStatus s;
  s.currentState = state;
  g_run.env->SetServiceStatus(g_run.handle, s);
}

uint32_t Handler(uint32_t control, uint32_t, void*, void*) {
  if (control == kServiceControlStop) {
    g_run.controls++;
    ReportState(kServiceStopped);
  }
  return 0;
}

void Main(uint32_t, char**) {
  ASSERT_EQ(kSuccess, g_run.env->RegisterServiceCtrlHandlerEx("Svc", Handler, nullptr, &g_run.handle));
  ReportState(kServiceRunning);
  if (g_run.stop == Stop::kBeforeTheWait) {
    ReportState(kServiceStopped);
    return;
  }
  // Sent once the host has gone into its wait.
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (g_run.stop == Stop::kSignal) {
      ::kill(::getpid(), g_run.signal);
    } else {
      ReportState(kServiceStopped);
    }
  }).detach();
}

void Marker(int) {}

TEST(ServiceHost, EveryStopEndsTheWaitWithinASecond) {
  const struct {
    const char* label;
    Stop stop;
    int signal;
    int controls;  // stop controls the service's handler is given
  } cases[] = {
      {"SIGTERM", Stop::kSignal, SIGTERM, 1},
      {"SIGINT", Stop::kSignal, SIGINT, 1},
      {"the service reports stopped", Stop::kOwnReport, 0, 0},
      {"stopped before the wait", Stop::kBeforeTheWait, 0, 0},
  };
  std::unique_ptr<Env> env = NewPosixEnv("/nonexistent");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    struct sigaction marker = {}, before = {}, after = {};
    marker.sa_handler = Marker;
    ::sigaction(SIGTERM, &marker, &before);
    g_run.env = env.get();
    g_run.stop = c.stop;
    g_run.signal = c.signal;
    g_run.controls = 0;
    auto done = std::make_shared<std::promise<Status>>();
    std::future<Status> result = done->get_future();
    std::thread([&env, done] { done->set_value(env->StartServiceCtrlDispatcher("Svc", Main)); }).detach();
    if (result.wait_for(std::chrono::seconds(1) + std::chrono::milliseconds(100)) !=
        std::future_status::ready) {
      ADD_FAILURE() << "the host is still waiting";
      return;  // its thread stays blocked; the other cases would meet it
    }
    EXPECT_EQ(kSuccess, result.get());
    EXPECT_EQ(c.controls, g_run.controls.load());
    // The program's own signal handling is back once the host has returned.
    ::sigaction(SIGTERM, &before, &after);
    EXPECT_EQ(reinterpret_cast<void*>(Marker), reinterpret_cast<void*>(after.sa_handler));
  }
}

}  // namespace
}  // namespace platform
