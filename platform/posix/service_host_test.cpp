// The foreground service host, whose wait has no time-out: each way of stopping
// must wake it. And the systemd units behind the manager calls.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/posix/posix_env.h"
#include "platform/testing/tree_fixture.h"

namespace platform {
namespace {

enum class Stop { kSignal, kPending, kOwnReport, kBeforeTheWait };

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
  if (control != kServiceControlStop) return 0;
  if (g_run.controls++ > 0 || g_run.stop != Stop::kPending) {
    ReportState(kServiceStopped);
    return 0;
  }
  // Stopped later: that report wakes the host, which asks nothing more.
  ReportState(kServiceStopPending);
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ReportState(kServiceStopped);
  }).detach();
  return 0;
}

void Main(uint32_t, char**) {
  ASSERT_EQ(kSuccess, g_run.env->RegisterServiceCtrlHandlerEx("Svc", Handler, nullptr, &g_run.handle));
  ReportState(kServiceRunning);
  if (g_run.stop == Stop::kBeforeTheWait) {
    ReportState(kServiceStopped);
    return;
  }
  // Once the host waits.
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (g_run.stop == Stop::kSignal || g_run.stop == Stop::kPending) {
      ::kill(::getpid(), g_run.signal);
    } else {
      ReportState(kServiceStopped);
    }
  }).detach();
}

void Marker(int) {}

TEST(ServiceHost, EveryStopEndsTheWaitWithinASecond) {
  const struct {
    Stop stop;
    int signal;
    int controls;  // stop controls the handler is given
  } cases[] = {{Stop::kSignal, SIGTERM, 1},
               {Stop::kSignal, SIGINT, 1},
               {Stop::kPending, SIGTERM, 1},
               {Stop::kOwnReport, 0, 0},
               {Stop::kBeforeTheWait, 0, 0}};
  std::unique_ptr<Env> env = NewPosixEnv("/nonexistent");
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.stop) * 100 + c.signal);
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
      return;  // the other cases would meet its blocked thread
    }
    EXPECT_EQ(kSuccess, result.get());
    EXPECT_EQ(c.controls, g_run.controls.load());
    // The program's own handler is back.
    ::sigaction(SIGTERM, &before, &after);
    EXPECT_EQ(reinterpret_cast<void*>(Marker), reinterpret_cast<void*>(after.sa_handler));
  }
}

// systemctl is a script that logs its arguments; "is-active" exits with INKORA_TEST_ACTIVE.
using SystemdTest = platform_testing::TreeFixture;

TEST_F(SystemdTest, ServicesAreUnitFilesStartedAndStoppedThroughSystemctl) {
  Put(tmp_ + "/systemctl",
      "#!/bin/sh\necho \"$*\" >>\"$0.log\"\n[ \"$1\" != is-active ] || exit $INKORA_TEST_ACTIVE\n");
  ::chmod((tmp_ + "/systemctl").c_str(), 0755);
  MakeDirs(tmp_ + "/units");
  ::setenv("INKORA_SYSTEMCTL", (tmp_ + "/systemctl").c_str(), 1);
  ::setenv("INKORA_UNIT_DIR", (tmp_ + "/units").c_str(), 1);
  std::unique_ptr<ScManager> manager;
  std::unique_ptr<ScService> service;
  ASSERT_EQ(kSuccess, base_->OpenSCManager(kScManagerAllAccess, &manager));
  ServiceConfig config;
  config.name = "inkora-test";
  config.displayName = "Inkora Test";
  config.binaryPath = "\"/opt/inkora updater/InkoraUpdater\" -r";
  ASSERT_EQ(kSuccess, manager->CreateService(config, &service));
  EXPECT_EQ(kErrorServiceExists, manager->CreateService(config, &service));
  EXPECT_EQ(kSuccess, service->SetDescription("Keeps it up to date."));
  const std::string unit = Get(tmp_ + "/units/inkora-test.service");
  for (const char* line :
       {"\nDescription=Keeps it up to date.\n", "\nExecStart=\"/opt/inkora updater/InkoraUpdater\" -r\n"})
    EXPECT_NE(std::string::npos, unit.find(line)) << line << " in " << unit;
  ServiceStatus status;
  const struct {
    const char* active;  // the exit code of "is-active"
    Status start, stop;
    uint32_t state;
  } cases[] = {{"3", kSuccess, kErrorServiceNotActive, kServiceStopped},
               {"0", kErrorServiceAlreadyRunning, kSuccess, kServiceRunning}};
  for (const auto& c : cases) {
    ::setenv("INKORA_TEST_ACTIVE", c.active, 1);
    EXPECT_EQ(c.start, service->Start()) << c.active;
    EXPECT_EQ(c.stop, service->Control(kServiceControlStop, &status)) << c.active;
    ASSERT_EQ(kSuccess, service->QueryStatus(&status));
    EXPECT_EQ(c.state, status.currentState) << c.active;
  }
  EXPECT_EQ(kSuccess, service->Delete());
  EXPECT_EQ(kErrorServiceDoesNotExist, manager->OpenService("inkora-test", kServiceAllAccess, &service));
  // An automatic start is an enabled unit; a removed one is disabled first.
  const std::string log = Get(tmp_ + "/systemctl.log");
  EXPECT_EQ(0u, log.find("daemon-reload\nenable inkora-test.service\n")) << log;
  EXPECT_NE(std::string::npos, log.find("\ndisable inkora-test.service\ndaemon-reload\n")) << log;
  ::setenv("INKORA_UNIT_DIR", (tmp_ + "/none").c_str(), 1);
  EXPECT_EQ(kErrorAccessDenied, base_->OpenSCManager(kScManagerAllAccess, &manager));
  ::unsetenv("INKORA_SYSTEMCTL");
  ::unsetenv("INKORA_UNIT_DIR");
}

}  // namespace
}  // namespace platform
