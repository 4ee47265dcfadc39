// The "Kestrin" service installed for a test: the program under test installs
// and starts it with "-i", the fixture waits until it runs, and teardown
// always stops and deletes it again (an automatic-start service would start
// with every later Wine session otherwise). The SCM is queried directly.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dbwin_monitor.h"
#include "process_runner.h"

struct ServiceQuery {
  bool installed;  // false when the manager has no service "Kestrin"
  SERVICE_STATUS_PROCESS status;
};

// The service's status and process id as the manager sees it.
ServiceQuery QueryKestrinService();
// Waits until the service is in state (SERVICE_RUNNING, ...); false at the timeout.
bool WaitForServiceState(DWORD state, DWORD timeoutMs);
// Waits until the manager no longer knows the service.
bool WaitForServiceGone(DWORD timeoutMs);
// Sends a control; returns 0 when the manager passed it on, else its error.
DWORD SendServiceControl(DWORD control, SERVICE_STATUS* status = nullptr);
// Starts the installed service again (after a stop); true when the manager
// accepted the start.
bool StartKestrinService();
// Stops the service when it runs (terminating its process when it does not
// stop in time), deletes it and waits until it is gone. True when nothing of
// it is left.
bool RemoveKestrinService();

class ServiceFixture : public ::testing::Test {
 protected:
  // program: the service program (Unix or Windows path), e.g. KestrinSvc.exe.
  explicit ServiceFixture(std::string program) : program_(WinePath(program)) {}

  // Removes a service left behind, starts the debug-output monitor, runs
  // "program -i" and waits for SERVICE_RUNNING.
  void SetUp() override;
  // Always stops and deletes the service, however the test ended.
  void TearDown() override;

  // Runs the program with these arguments (e.g. "-u"), 30 s at most.
  RunResult Run(const std::string& arguments) const;

  std::string program_;  // Windows path, as the manager stores it
  DebugMonitor monitor_;
  RunResult install_ = {};
  DWORD servicePid_ = 0;  // the running service's process
};
