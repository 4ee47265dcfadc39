// DeviceLatencyBench: how long a report takes from the simulator's write to
// a reader that polls record 1 of the shared section, through
// KestrinSvcSim.exe installed as the service; the service's CPU time at 1000
// ball and 1000 scroll-hat reports a second; and how often the service's
// threads wake while the device rests. Beside each figure, its floor measured
// in the same run: a bare thread of this process that waits on two
// overlapped named-pipe reads and re-arms them like the service does, fed at
// the same rate.
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "latency_figures.h"
#include "motion_section.h"
#include "section_view.h"
#include "sim_core.h"

namespace {

constexpr int kSamples = 10000;  // at 1 kHz: ten seconds
constexpr double kIntervalMs = 1.0;

void WaitUntil(double us) {
  while (MicrosecondsNow() < us) {
    if (us - MicrosecondsNow() > 1500) Sleep(1);
  }
}

double FileTimeSeconds(const FILETIME& a, const FILETIME& b) {
  ULARGE_INTEGER x, y;
  x.LowPart = a.dwLowDateTime;
  x.HighPart = a.dwHighDateTime;
  y.LowPart = b.dwLowDateTime;
  y.HighPart = b.dwHighDateTime;
  return static_cast<double>(x.QuadPart + y.QuadPart) / 1e7;
}

int Run(const std::string& commandLine) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -1;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return static_cast<int>(code);
}

// ---- CPU time of Unix processes, read from /proc through Wine's drive Z: ----
// (GetProcessTimes of another process gives no usable figure under Wine.)
std::string ReadWhole(const std::string& path) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got) text.append(buffer, got);
  CloseHandle(f);
  return text;
}

// Unix process ids whose command line contains program and whose
// environment holds this prefix's WINEPREFIX (other prefixes run the same
// programs at the same time).
std::vector<std::string> UnixProcesses(const char* program) {
  std::vector<std::string> found;
  char prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) return found;
  std::string wanted = std::string("WINEPREFIX=") + prefix;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("Z:\\proc\\*", &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    std::string name = data.cFileName;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string base = "Z:\\proc\\" + name + "\\";
    std::string command = ReadWhole(base + "cmdline");
    if (command.find(program) == std::string::npos) continue;
    std::string environment = ReadWhole(base + "environ");
    environment.push_back('\0');
    if (environment.find(wanted + std::string(1, '\0')) == std::string::npos) continue;
    found.push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return found;
}

// utime + stime of the processes, in seconds (USER_HZ 100).
double UnixCpuSeconds(const std::vector<std::string>& pids) {
  double total = 0;
  for (const std::string& pid : pids) {
    std::string stat = ReadWhole("Z:\\proc\\" + pid + "\\stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    // Fields after the command name: state is field 3; utime 14, stime 15.
    unsigned long long utime = 0, stime = 0;
    const char* p = stat.c_str() + close + 2;
    for (int field = 3; field < 14 && *p; ++field) {
      p = strchr(p, ' ');
      if (!p) break;
      ++p;
    }
    if (p && sscanf(p, "%llu %llu", &utime, &stime) == 2) total += (utime + stime) / 100.0;
  }
  return total;
}

// Context switches (voluntary and not) of every thread of the processes: each
// wake-up of a waiting thread is one.
unsigned long long UnixContextSwitches(const std::vector<std::string>& pids) {
  unsigned long long total = 0;
  for (const std::string& pid : pids) {
    WIN32_FIND_DATAA data;
    std::string tasks = "Z:\\proc\\" + pid + "\\task\\";
    HANDLE find = FindFirstFileA((tasks + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      if (data.cFileName[0] == '.') continue;
      std::string status = ReadWhole(tasks + data.cFileName + "\\status");
      for (const char* key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
        size_t at = status.find(key);
        if (at != std::string::npos) total += strtoull(status.c_str() + at + strlen(key), nullptr, 10);
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  return total;
}

// ---- the floor: a bare overlapped pipe between two threads ----
struct Floor {
  std::vector<double> m_Latency;
  double m_ReaderCpuSeconds = 0;
  double m_ServerCpuSeconds = 0;
  int m_Lost = 0;
};

Floor MeasureFloor() {
  Floor floor;
  const char* names[2] = {"\\\\.\\pipe\\KestrinLatencyFloor0", "\\\\.\\pipe\\KestrinLatencyFloor1"};
  HANDLE server[2], client[2];
  for (int k = 0; k < 2; ++k) {
    server[k] = CreateNamedPipeA(names[k], PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    client[k] = CreateFileA(names[k], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (server[k] == INVALID_HANDLE_VALUE || client[k] == INVALID_HANDLE_VALUE) {
      fprintf(stderr, "floor pipe: error %lu\n", GetLastError());
      return floor;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(client[k], &mode, nullptr, nullptr);
  }
  volatile LONG seen = 0;  // reads completed on the first pipe
  volatile LONG stop = 0;
  HANDLE readerThread = nullptr;
  // One thread, two pending reads, one wait over both events: what the
  // service does for one device, without anything else.
  std::thread reader([&] {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &readerThread,
                    0, FALSE, DUPLICATE_SAME_ACCESS);
    OVERLAPPED overlapped[2] = {};
    HANDLE events[2];
    uint8_t buffer[2][35];
    for (int k = 0; k < 2; ++k) events[k] = overlapped[k].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto arm = [&](int k) {
      DWORD bytes = 0;
      while (ReadFile(client[k], buffer[k], sizeof buffer[k], &bytes, &overlapped[k])) {
        if (k == 0) InterlockedIncrement(&seen);
      }
      return GetLastError() == ERROR_IO_PENDING;
    };
    if (!arm(0) || !arm(1)) return;
    while (!stop) {
      DWORD which = WaitForMultipleObjects(2, events, FALSE, INFINITE) - WAIT_OBJECT_0;
      if (which > 1) break;
      DWORD bytes = 0;
      if (!GetOverlappedResult(client[which], &overlapped[which], &bytes, FALSE)) break;
      if (which == 0) InterlockedIncrement(&seen);
      if (!arm(static_cast<int>(which))) break;
    }
    for (HANDLE e : events) CloseHandle(e);
  });
  while (!readerThread) Sleep(1);
  OVERLAPPED write = {};
  write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  uint8_t report[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  auto send = [&](int k, DWORD bytes) {
    DWORD written = 0;
    if (!WriteFile(server[k], report, bytes, &written, &write) && GetLastError() == ERROR_IO_PENDING)
      GetOverlappedResult(server[k], &write, &written, TRUE);
  };
  FILETIME created, exited, kernel0, user0, kernel1, user1;
  GetThreadTimes(readerThread, &created, &exited, &kernel0, &user0);
  std::vector<std::string> wineservers = UnixProcesses("wineserver");
  double server0 = UnixCpuSeconds(wineservers);
  double start = MicrosecondsNow();
  for (int i = 0; i < kSamples; ++i) {
    WaitUntil(start + i * kIntervalMs * 1000);
    LONG before = seen;
    double t0 = MicrosecondsNow();
    send(0, 9);
    while (seen == before && MicrosecondsNow() - t0 < 1e6) {
    }
    if (seen == before)
      ++floor.m_Lost;
    else
      floor.m_Latency.push_back(MicrosecondsNow() - t0);
    send(1, 5);
  }
  double elapsed = (MicrosecondsNow() - start) / 1e6;
  GetThreadTimes(readerThread, &created, &exited, &kernel1, &user1);
  floor.m_ReaderCpuSeconds =
      (FileTimeSeconds(kernel1, user1) - FileTimeSeconds(kernel0, user0)) / elapsed;
  floor.m_ServerCpuSeconds = (UnixCpuSeconds(wineservers) - server0) / elapsed;
  stop = 1;
  send(0, 9);  // wakes the reader
  reader.join();
  CloseHandle(readerThread);
  CloseHandle(write.hEvent);
  for (int k = 0; k < 2; ++k) {
    CloseHandle(client[k]);
    CloseHandle(server[k]);
  }
  return floor;
}

}  // namespace

int main() {
  timeBeginPeriod(1);
  if (!SimStart()) {
    fprintf(stderr, "DeviceLatencyBench: the simulator's pipes cannot be created\n");
    return 1;
  }
  int ball = SimAddDevice(L"KS00000000000099", 0x200, 0x99);
  SimPlug(ball, 0);
  SimPlug(ball + 1, 0);
  std::string service = std::string("\"") + KESTRIN_SVC_SIM_WIN_EXE + "\"";
  Run(service + " -u");  // one left from an earlier run
  if (Run(service + " -i") != 0 || !SimWaitOpen(ball, 20000) || !SimWaitOpen(ball + 1, 20000)) {
    fprintf(stderr, "DeviceLatencyBench: KestrinSvcSim.exe did not open the device\n");
    Run(service + " -u");
    SimStop();
    return 1;
  }
  SectionView section;
  if (!section.Open()) {
    fprintf(stderr, "DeviceLatencyBench: no section\n");
    Run(service + " -u");
    SimStop();
    return 1;
  }
  const DeviceMotionRecord* record = section.Record(1);
  const uint16_t* header = BallDoubleBuffer(record).m_Header;

  std::vector<std::string> servicePids = UnixProcesses("KestrinSvcSim.exe");
  std::vector<std::string> serverPids = UnixProcesses("wineserver");
  uint8_t reports[2][9] = {{0, 0, 0, 0xC8, 0, 0, 0, 0, 0}, {0, 0, 0, 0xC0, 0, 0, 0, 0, 0}};
  // Scroll-hat reports beside them, x pushed to either side.
  uint8_t scrolls[2][5] = {{0, 0xC8, 0, 0, 0}, {0, 0x38, 0x03, 0, 0}};
  std::vector<double> latency;
  int lost = 0;
  double service0 = UnixCpuSeconds(servicePids), server0 = UnixCpuSeconds(serverPids);
  double start = MicrosecondsNow();
  for (int i = 0; i < kSamples; ++i) {
    WaitUntil(start + i * kIntervalMs * 1000);
    uint16_t before = LoadMotionHeader(header);
    double t0 = MicrosecondsNow();
    SimSend(ball, reports[i & 1], 9);
    while (LoadMotionHeader(header) == before && MicrosecondsNow() - t0 < 1e6) {
    }
    if (LoadMotionHeader(header) == before)
      ++lost;
    else
      latency.push_back(MicrosecondsNow() - t0);
    SimSend(ball + 1, scrolls[i & 1], 5);
  }
  double elapsed = (MicrosecondsNow() - start) / 1e6;
  double serviceCpu = (UnixCpuSeconds(servicePids) - service0) / elapsed;
  double serverCpu = (UnixCpuSeconds(serverPids) - server0) / elapsed;

  // The device rests: nothing arrives, so nothing should wake the service.
  uint8_t still[9] = {};
  uint8_t stillScroll[5] = {};
  SimSend(ball, still, 9);
  SimSend(ball + 1, stillScroll, 5);
  Sleep(500);
  constexpr DWORD kRestMs = 3000;
  unsigned long long switches0 = UnixContextSwitches(servicePids);
  Sleep(kRestMs);
  unsigned long long restSwitches = UnixContextSwitches(servicePids) - switches0;

  Floor floor = MeasureFloor();

  printf("DeviceLatencyBench: %d ball and %d scroll-hat reports at 1 kHz each\n", kSamples,
         kSamples);
  PrintLatency("simulator write -> reader sees new header", latency, lost);
  PrintLatency("floor: bare overlapped pipe write -> read", floor.m_Latency, floor.m_Lost);
  if (servicePids.empty())
    printf("service CPU at 1 kHz: the service's Unix process was not found\n");
  printf("%-44s %8.2f %% of a core\n", "service CPU at 1 kHz (KestrinSvcSim.exe)",
         100.0 * serviceCpu);
  printf("%-44s %8.2f %% of a core\n", "floor: bare two-read re-arming thread CPU",
         100.0 * floor.m_ReaderCpuSeconds);
  printf("%-44s %8.2f %% of a core (floor run: %.2f %%)\n", "wineserver CPU meanwhile",
         100.0 * serverCpu, 100.0 * floor.m_ServerCpuSeconds);
  printf("%-44s %8.2f\n", "ratio (service + wineserver) / floor's",
         (serviceCpu + serverCpu) / (floor.m_ReaderCpuSeconds + floor.m_ServerCpuSeconds));
  printf("%-44s %8llu in %lu ms (all of its threads)\n", "service wake-ups while the device rests",
         restSwitches, kRestMs);
  Run(service + " -u");
  SimStop();
  timeEndPeriod(1);
  return 0;
}
