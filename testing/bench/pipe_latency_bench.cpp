// PipeLatencyBench: from the device simulator's first moving ball report to
// a pipe client's receipt of the PipeDeviceState message with
// StateBallActive, through KestrinSvcSim.exe installed as the service. Beside
// it, the floors measured in the same run between threads of this process:
// one bare 12-byte message-pipe hop, and two hops through a relay thread that
// re-arms an overlapped read as the service does (the report reaches the
// service over one pipe, the state leaves it over another).
#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "latency_figures.h"
#include "pipe_client.h"
#include "pipe_protocol.h"
#include "process_runner.h"
#include "report_bytes.h"
#include "service_fixture.h"
#include "sim_core.h"

namespace {

constexpr int kSamples = 400;
constexpr int kFloorSamples = 2000;

// A message-mode pipe pair: server end (write) and client end (read).
bool MakePipe(const char* name, HANDLE* writer, HANDLE* reader) {
  *writer = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 120, 120,
                             0, nullptr);
  *reader = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (*writer == INVALID_HANDLE_VALUE || *reader == INVALID_HANDLE_VALUE) return false;
  DWORD mode = PIPE_READMODE_MESSAGE;
  return SetNamedPipeHandleState(*reader, &mode, nullptr, nullptr) != 0;
}

bool WriteOverlapped(HANDLE pipe, const void* bytes, DWORD count, OVERLAPPED* o) {
  DWORD written = 0;
  if (WriteFile(pipe, bytes, count, &written, o)) return true;
  return GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(pipe, o, &written, TRUE);
}

// hops 1: writer -> reader. hops 2: writer -> relay (overlapped read, then
// an overlapped write on) -> reader.
std::vector<double> MeasureFloor(int hops) {
  std::vector<double> us;
  HANDLE w1, r1, w2 = INVALID_HANDLE_VALUE, r2 = INVALID_HANDLE_VALUE;
  if (!MakePipe("\\\\.\\pipe\\KestrinPipeFloor1", &w1, &r1)) return us;
  if (hops == 2 && !MakePipe("\\\\.\\pipe\\KestrinPipeFloor2", &w2, &r2)) return us;
  std::thread relay;
  if (hops == 2) {
    relay = std::thread([&] {
      // The relay reads from the server end of pipe 1, as the service reads
      // a device, and writes to pipe 2, as the service writes to a client.
      OVERLAPPED in = {}, out = {};
      in.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      out.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      uint8_t buffer[12];
      for (;;) {
        DWORD got = 0;
        if (!ReadFile(w1, buffer, sizeof buffer, &got, &in)) {
          if (GetLastError() != ERROR_IO_PENDING) break;
          WaitForSingleObject(in.hEvent, INFINITE);
          if (!GetOverlappedResult(w1, &in, &got, FALSE)) break;
        }
        if (got == 1) break;  // the end
        WriteOverlapped(w2, buffer, sizeof buffer, &out);
      }
      CloseHandle(in.hEvent);
      CloseHandle(out.hEvent);
    });
  }
  OVERLAPPED o = {};
  o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const uint8_t message[12] = {3, 0, 1, 0, 0, 4};
  uint8_t got[12];
  for (int i = 0; i < kFloorSamples; ++i) {
    DWORD n = 0;
    double t0 = MicrosecondsNow();
    if (hops == 1) {
      WriteOverlapped(w1, message, sizeof message, &o);
      if (!ReadFile(r1, got, sizeof got, &n, nullptr)) break;
    } else {
      // r1 writes into pipe 1 toward the relay.
      if (!WriteFile(r1, message, sizeof message, &n, nullptr)) break;
      if (!ReadFile(r2, got, sizeof got, &n, nullptr)) break;
    }
    us.push_back(MicrosecondsNow() - t0);
  }
  if (hops == 2) {
    DWORD n = 0;
    WriteFile(r1, message, 1, &n, nullptr);  // ends the relay
    relay.join();
    CloseHandle(w2);
    CloseHandle(r2);
  }
  CloseHandle(o.hEvent);
  CloseHandle(w1);
  CloseHandle(r1);
  return us;
}

}  // namespace

int main() {
  printf("PipeLatencyBench: first moving report -> PipeDeviceState with StateBallActive\n");

  RemoveKestrinService();
  if (!SimStart()) {
    fprintf(stderr, "the device simulator does not start\n");
    return 1;
  }
  int ball = SimAddDevice(L"KS00000000000555", 0x201, 0x555);
  SimPlug(ball, 0);
  SimPlug(ball + 1, 0);
  RunResult install = RunProgram("\"" + WinePath(KESTRIN_SVC_SIM_EXE) + "\" -i", 30000);
  if (install.exitCode != 0 || !WaitForServiceState(SERVICE_RUNNING, 20000) ||
      !SimWaitOpen(ball, 10000)) {
    fprintf(stderr, "the simulated-device service does not start: %s\n", install.output.c_str());
    RemoveKestrinService();
    SimStop();
    return 1;
  }

  PipeTestClient client;
  std::vector<double> latency;
  int lost = 0;
  if (client.Connect(5000)) {
    client.ReceiveUntilQuiet(300);
    const int push[6] = {0, 0, 200, 0, 0, 0}, rest[6] = {};
    const std::vector<uint8_t> moving = BallReport(push), still = BallReport(rest);
    for (int i = 0; i < kSamples; ++i) {
      double t0 = MicrosecondsNow();
      SimSend(ball, moving.data(), static_cast<uint32_t>(moving.size()));
      PipeMessage message;
      bool seen = false;
      while (client.ReceiveMessage(&message, 2000) == PipeTestClient::Receive::Message) {
        if (message.m_Payload.m_DeviceState.m_State & StateBallActive) {
          seen = true;
          break;
        }
      }
      if (seen)
        latency.push_back(MicrosecondsNow() - t0);
      else
        ++lost;
      SimSend(ball, still.data(), static_cast<uint32_t>(still.size()));
      client.ReceiveMessage(&message, 2000);  // the release
      Sleep(2);
    }
  } else {
    fprintf(stderr, "cannot open the pipe: error %lu\n", client.lastError());
  }
  client.Close();
  RemoveKestrinService();
  SimStop();

  PrintLatency("report -> ball-active state message", latency, lost);
  PrintLatency("floor: one bare pipe hop (same process)", MeasureFloor(1), 0);
  PrintLatency("floor: two pipe hops through a relay thread", MeasureFloor(2), 0);
  return latency.empty() ? 1 : 0;
}
