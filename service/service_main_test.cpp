// The service main and the control handler: the states reported, the log
// lines, and the failures of the manager calls.
#include "service/service_main.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "service/service_test_env.h"

namespace {

using service_testing::ServiceFixture;

class ServiceMainTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    UseLogFile();
    strServiceName = "InkoraUpdater";
    ResetServiceStatus();
    hServiceStatus = 0;
  }
  std::vector<uint32_t> ReportedStates() const {
    std::vector<uint32_t> states;
    for (const auto& s : env_->reported) states.push_back(s.currentState);
    return states;
  }
};

TEST_F(ServiceMainTest, ReportsRunningAtOnceWithTheRecordsStartValues) {
  ServiceMain(0, nullptr);
  ASSERT_EQ(1u, env_->reported.size());
  const platform::ServiceStatus& s = env_->reported[0];
  EXPECT_EQ(platform::kServiceRunning, s.currentState);
  EXPECT_EQ(0x30u, s.serviceType);
  EXPECT_EQ(7u, s.controlsAccepted);
  EXPECT_EQ(0u, s.win32ExitCode);
  EXPECT_EQ(0u, s.serviceSpecificExitCode);
  EXPECT_EQ(0u, s.checkPoint);
  EXPECT_EQ(0u, s.waitHint);
  EXPECT_EQ(ServiceControlHandler, env_->handler);
  EXPECT_EQ((std::vector<std::string>{"---START---", "---END---"}), Messages("ServiceMain()"));
}

TEST_F(ServiceMainTest, FailedRegistrationReportsNothingAndEndsWithoutEndLine) {
  env_->registerResult = 1063;
  ServiceMain(0, nullptr);
  EXPECT_TRUE(env_->reported.empty());
  EXPECT_EQ(
      (std::vector<std::string>{"---START---", "RegisterServiceCtrlHandler failed, error code = 1063\n"}),
      Messages("ServiceMain()"));
}

TEST_F(ServiceMainTest, FailedStatusReportIsLogged) {
  env_->setStatusResult = 6;
  ServiceMain(0, nullptr);
  EXPECT_EQ(
      (std::vector<std::string>{"---START---", "SetServiceStatus failed, error code = 6\n", "---END---"}),
      Messages("ServiceMain()"));
  ServiceControlHandler(platform::kServiceControlInterrogate, 0, nullptr, nullptr);
  EXPECT_EQ(
      (std::vector<std::string>{"SERVICE_CONTROL_INTERROGATE ", "SetServiceStatus failed, error code = 6\n"}),
      Messages("ServiceControlHandler()"));
}

TEST_F(ServiceMainTest, StopDuringStartUpIsNotUndoneByTheRunningReport) {
  env_->controlDuringRegister = platform::kServiceControlStop;
  ServiceMain(0, nullptr);
  EXPECT_EQ((std::vector<uint32_t>{platform::kServiceStopped}), ReportedStates());
  EXPECT_EQ(platform::kServiceStopped, ServiceStatus.currentState);
  // The handler could not report without the handle; ServiceMain does.
  EXPECT_EQ((std::vector<std::string>{"SERVICE_CONTROL_STOP ", "SetServiceStatus failed, error code = 6\n"}),
            Messages("ServiceControlHandler()"));
}

// A run of controls after start-up: the state after each, the messages, and a
// report after every control (also an unknown one).
struct ControlCase {
  const char* label;
  std::vector<uint32_t> controls;
  std::vector<uint32_t> states;  // reported after each control
  std::vector<std::string> messages;
};
// gtest names the case by its label (the struct has padding bytes it would print).
void PrintTo(const ControlCase& c, std::ostream* os) {
  *os << c.label;
}

const std::vector<ControlCase> kControlCases = {
    {"stop", {1}, {platform::kServiceStopped}, {"SERVICE_CONTROL_STOP "}},
    {"shutdown_logs_the_stop_message", {5}, {platform::kServiceStopped}, {"SERVICE_CONTROL_STOP "}},
    {"pause", {2}, {platform::kServicePaused}, {"SERVICE_CONTROL_PAUSE "}},
    {"pause_then_continue",
     {2, 3},
     {platform::kServicePaused, platform::kServiceRunning},
     {"SERVICE_CONTROL_PAUSE ", "SERVICE_CONTROL_CONTINUE "}},
    {"interrogate_while_paused",
     {2, 4},
     {platform::kServicePaused, platform::kServicePaused},
     {"SERVICE_CONTROL_PAUSE ", "SERVICE_CONTROL_INTERROGATE "}},
    {"user_control", {128}, {platform::kServiceRunning}, {"Unrecognized opcode 128\n"}},
    {"paused_then_stopped",
     {2, 1},
     {platform::kServicePaused, platform::kServiceStopped},
     {"SERVICE_CONTROL_PAUSE ", "SERVICE_CONTROL_STOP "}},
    {"zero_control", {0}, {platform::kServiceRunning}, {"Unrecognized opcode 0\n"}},
};

class ControlTest : public ServiceMainTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ControlTest, ChangesAndReportsTheState) {
  const ControlCase& c = GetParam();
  ServiceMain(0, nullptr);
  env_->reported.clear();
  for (uint32_t control : c.controls) {
    EXPECT_EQ(0u, ServiceControlHandler(control, 0, nullptr, nullptr));
  }
  EXPECT_EQ(c.states, ReportedStates());
  EXPECT_EQ(c.messages, Messages("ServiceControlHandler()"));
  for (const auto& s : env_->reported) {
    EXPECT_EQ(0u, s.win32ExitCode);
    EXPECT_EQ(7u, s.controlsAccepted);
  }
}

INSTANTIATE_TEST_SUITE_P(Controls, ControlTest, ::testing::ValuesIn(kControlCases),
                         [](const ::testing::TestParamInfo<ControlCase>& info) {
                           return std::string(info.param.label);
                         });

}  // namespace
