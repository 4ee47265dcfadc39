#include "service_fixture.h"

namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr DWORD kStopTimeoutMs = 10000;
constexpr DWORD kPollMs = 20;

// The manager and the service, each closed when the scope ends.
class ScmHandle {
 public:
  explicit ScmHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScmHandle() {
    if (handle_) CloseServiceHandle(handle_);  // nothing to do about a failure here
  }
  ScmHandle(const ScmHandle&) = delete;
  ScmHandle& operator=(const ScmHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

ScmHandle OpenManager() { return ScmHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

template <typename Done>
bool Poll(DWORD timeoutMs, Done done) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMs);
  }
}

}  // namespace

ServiceQuery QueryKestrinService() {
  ServiceQuery query = {};
  ScmHandle manager = OpenManager();
  if (!manager) return query;
  ScmHandle service(OpenServiceA(manager.get(), "Kestrin", SERVICE_QUERY_STATUS));
  if (!service) return query;
  DWORD needed = 0;
  query.installed = true;
  if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                            reinterpret_cast<BYTE*>(&query.status), sizeof query.status,
                            &needed))
    query.status.dwCurrentState = 0;  // known to the manager, state unreadable
  return query;
}

bool WaitForServiceState(DWORD state, DWORD timeoutMs) {
  return Poll(timeoutMs, [state] {
    ServiceQuery query = QueryKestrinService();
    return query.installed && query.status.dwCurrentState == state;
  });
}

bool WaitForServiceGone(DWORD timeoutMs) {
  return Poll(timeoutMs, [] { return !QueryKestrinService().installed; });
}

DWORD SendServiceControl(DWORD control, SERVICE_STATUS* status) {
  ScmHandle manager = OpenManager();
  if (!manager) return GetLastError();
  ScmHandle service(OpenServiceA(manager.get(), "Kestrin", SERVICE_ALL_ACCESS));
  if (!service) return GetLastError();
  SERVICE_STATUS ignored;
  if (ControlService(service.get(), control, status ? status : &ignored)) return 0;
  return GetLastError();
}

bool StartKestrinService() {
  ScmHandle manager = OpenManager();
  if (!manager) return false;
  ScmHandle service(OpenServiceA(manager.get(), "Kestrin", SERVICE_START));
  return service && StartServiceA(service.get(), 0, nullptr);
}

bool RemoveKestrinService() {
  ServiceQuery query = QueryKestrinService();
  if (!query.installed) return true;
  if (query.status.dwCurrentState != SERVICE_STOPPED) {
    SendServiceControl(SERVICE_CONTROL_STOP);  // refused when it is stopping already
    if (!WaitForServiceState(SERVICE_STOPPED, kStopTimeoutMs)) {
      // A service that does not stop must not outlive the test either.
      query = QueryKestrinService();
      HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, query.status.dwProcessId);
      if (process) {
        TerminateProcess(process, 1);
        CloseHandle(process);
      }
      WaitForServiceState(SERVICE_STOPPED, kStopTimeoutMs);
    }
  }
  {
    ScmHandle manager = OpenManager();
    if (!manager) return false;
    ScmHandle service(OpenServiceA(manager.get(), "Kestrin", DELETE));
    if (service) DeleteService(service.get());  // gone already when it fails
  }
  return WaitForServiceGone(kStopTimeoutMs);
}

RunResult ServiceFixture::Run(const std::string& arguments) const {
  return RunProgram("\"" + program_ + "\" " + arguments, 30000);
}

void ServiceFixture::SetUp() {
  ASSERT_TRUE(RemoveKestrinService()) << "a service \"Kestrin\" was left and cannot be removed";
  ASSERT_TRUE(monitor_.Start());
  install_ = Run("-i");
  ASSERT_TRUE(install_.started) << install_.output;
  ASSERT_EQ(install_.exitCode, 0u) << install_.output;
  ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING, kStartTimeoutMs));
  servicePid_ = QueryKestrinService().status.dwProcessId;
}

void ServiceFixture::TearDown() {
  EXPECT_TRUE(RemoveKestrinService());
  monitor_.Stop();
}
