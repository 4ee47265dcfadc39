// What the benchmarks read of other processes: CPU time and wake-ups of the
// Unix processes behind Wine programs, from /proc through Wine's drive Z:
// (GetProcessTimes of another process gives no usable figure under Wine).
#pragma once
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

inline std::string ReadWhole(const std::string& path) {
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
inline std::vector<std::string> UnixProcesses(const char* program) {
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
inline double UnixCpuSeconds(const std::vector<std::string>& pids) {
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
inline unsigned long long UnixContextSwitches(const std::vector<std::string>& pids) {
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

