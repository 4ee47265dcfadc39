// AgentLatencyBench: how long a device state takes from the simulator's
// report to the focused client's window, through KestrinSvcSim.exe, the pipe
// and the installed agent; what the agent costs while the device streams; and
// how often it wakes while the device rests. Prints figures, judges nothing.
//
// The floor beside the latency, from the same run: the road's two hops done
// bare (bare_relay.h), a pipe client that reads the same state message and at
// once posts it to a window of another process (this one) that stamps its
// arrival; the ratio says what the agent's own work adds. One pipe hop alone
// (a pipe client in this process) is printed beside them.
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>

#include <vector>

#include "agent_install.h"
#include "bare_relay.h"
#include "client_process.h"
#include "dbwin_monitor.h"
#include "latency_figures.h"
#include "pipe_client.h"
#include "process_runner.h"
#include "report_bytes.h"
#include "service_fixture.h"
#include "service_pipe.h"
#include "sim_core.h"
#include "unix_processes.h"

namespace {

constexpr int kSamples = 200;  // state changes: half start moving, half come to rest
constexpr DWORD kStreamMs = 3000;
constexpr DWORD kRestMs = 3000;
constexpr DWORD kClosedMs = 7000;  // a little over two reopen retries

bool WaitNotices(const ClientProcess& client, const DebugMonitor& monitor, size_t count,
                 DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (client.StateNotices(monitor).size() < count) {
    if (GetTickCount64() >= end) return false;
    Sleep(1);
  }
  return true;
}

int Fail(const char* what) {
  fprintf(stderr, "AgentLatencyBench: %s\n", what);
  StopAgent();
  RemoveKestrinService();
  SimStop();
  return 1;
}

}  // namespace

int main() {
  timeBeginPeriod(1);
  const int moving[6] = {0, 0, 300, 0, 0, 0};
  const int still[6] = {0, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> reports[2] = {BallReport(moving), BallReport(still)};

  if (!RemoveKestrinService()) return Fail("a service \"Kestrin\" was left and cannot be removed");
  if (!SimStart()) return Fail("the simulator does not start");
  const int ball = SimAddDevice(L"KS00000000000098", 0x200, 0x98);
  SimPlug(ball, 0);
  SimPlug(ball + 1, 0);
  RunResult install = RunProgram("\"" + WinePath(KESTRIN_SVC_SIM_EXE) + "\" -i", 30000);
  if (install.exitCode != 0 || !WaitForServiceState(SERVICE_RUNNING, 20000) ||
      !SimWaitOpen(ball, 20000) || !SimWaitOpen(ball + 1, 20000))
    return Fail("KestrinSvcSim.exe did not start or open the device");

  DebugMonitor monitor;
  if (!monitor.Start()) return Fail("no debug-output monitor");
  if (!InstallAgent(KESTRIN_ELF_EXE) || !StartAgent()) return Fail("the agent does not start");
  ClientProcess client;
  if (!client.Start(KESTRIN_TEST_CLIENT_EXE)) return Fail("the client does not start");
  client.TakeForeground();
  if (!WaitNotices(client, monitor, 1, 10000)) return Fail("the client got no state");
  BareRelayFloor floor;
  if (!floor.Start(KESTRIN_BARE_RELAY_EXE)) return Fail("the bare relay does not connect");
  PipeTestClient pipe;
  if (!pipe.Connect(5000)) return Fail("no pipe");
  pipe.ReceiveUntilQuiet(200);  // the device's state on connect

  // ---- latency of each state change ----
  std::vector<double> agentUs, floorUs, pipeUs;
  int agentLost = 0, floorLost = 0, pipeLost = 0;
  for (int i = 0; i < kSamples; ++i) {
    const size_t before = client.StateNotices(monitor).size();
    const size_t floorBefore = floor.Count();
    const double sent = MicrosecondsNow();
    SimSend(ball, reports[i & 1].data(), static_cast<uint32_t>(reports[i & 1].size()));
    PipeMessage m;
    if (pipe.ReceiveMessage(&m, 1000) == PipeTestClient::Receive::Message)
      pipeUs.push_back(MicrosecondsNow() - sent);
    else
      ++pipeLost;
    if (floor.WaitCount(floorBefore + 1, 1000))
      floorUs.push_back(floor.At(floorBefore).us - sent);
    else
      ++floorLost;
    if (WaitNotices(client, monitor, before + 1, 1000))
      agentUs.push_back(client.StateNotices(monitor)[before].us - sent);
    else
      ++agentLost;
    Sleep(5);
  }
  PrintLatency("report to focused client's DeviceStateNotice", agentUs, agentLost);
  PrintLatency("floor: pipe read + post to another process", floorUs, floorLost);
  PrintRatio("ratio: agent road / two-hop floor", agentUs, floorUs);
  PrintLatency("beside it: one pipe hop (pipe client)", pipeUs, pipeLost);
  floor.Stop();

  // ---- CPU while the ball streams (moving all the time: no state changes) ----
  const std::vector<std::string> agentPids = UnixProcesses("KestrinElf.exe");
  const std::vector<std::string> servicePids = UnixProcesses("KestrinSvcSim.exe");
  if (agentPids.empty()) return Fail("the agent's Unix process was not found");
  const size_t noticesBefore = client.StateNotices(monitor).size();
  const double agentCpu0 = UnixCpuSeconds(agentPids), serviceCpu0 = UnixCpuSeconds(servicePids);
  const double start = MicrosecondsNow();
  int sent = 0;
  while (MicrosecondsNow() - start < kStreamMs * 1000.0) {
    SimSend(ball, reports[0].data(), static_cast<uint32_t>(reports[0].size()));
    ++sent;
    Sleep(1);
  }
  const double seconds = (MicrosecondsNow() - start) / 1e6;
  const double agentCpu = UnixCpuSeconds(agentPids) - agentCpu0;
  const double serviceCpu = UnixCpuSeconds(servicePids) - serviceCpu0;
  printf("%-46s %8.2f %% of a core (%d reports in %.1f s, %zu notices)\n",
         "agent CPU while the ball streams", 100.0 * agentCpu / seconds, sent, seconds,
         client.StateNotices(monitor).size() - noticesBefore);
  printf("%-46s %8.2f %% of a core\n", "beside it: the service's CPU",
         100.0 * serviceCpu / seconds);
  SimSend(ball, reports[1].data(), static_cast<uint32_t>(reports[1].size()));
  Sleep(300);

  // ---- wake-ups while the device rests, with the pipe open and closed ----
  unsigned long long switches = UnixContextSwitches(agentPids);
  Sleep(kRestMs);
  printf("%-46s %8llu in %lu ms (all of its threads)\n", "agent wake-ups at rest, pipe open",
         UnixContextSwitches(agentPids) - switches, kRestMs);
  pipe.Close();
  RemoveKestrinService();
  Sleep(500);
  switches = UnixContextSwitches(agentPids);
  Sleep(kClosedMs);
  printf("%-46s %8llu in %lu ms (reopen tried every %u ms)\n",
         "agent wake-ups, service gone (pipe closed)", UnixContextSwitches(agentPids) - switches,
         kClosedMs, kReopenIntervalMs);

  client.Stop();
  StopAgent();
  SimStop();
  timeEndPeriod(1);
  return 0;
}
