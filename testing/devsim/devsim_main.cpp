// KestrinDeviceSim: plays a device script (see README.md) against the
// simulated HID access layer of KestrinSvcSim.exe, then reads further
// commands from standard input when asked to, answering each with one line
// ("ok" or "error: ...") so that a test can drive it step by step.
//
//   KestrinDeviceSim [script] [-i]
//     script  a file of commands, played first
//     -i      then take commands from standard input until "quit" or its end
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "report_bytes.h"
#include "sim_core.h"

namespace {

struct Device {
  int m_Ball;  // simulator index of MI_00; MI_01 is one more
};
std::map<std::string, Device> Devices;

struct Line {
  std::string m_Text;
  int m_Number;
};

// Splits "a b ; c d" into groups of numbers.
bool NumberGroups(std::istringstream& in, std::vector<std::vector<long>>* groups) {
  groups->assign(1, {});
  std::string word;
  while (in >> word) {
    if (word == ";") {
      groups->push_back({});
      continue;
    }
    char* end = nullptr;
    long v = strtol(word.c_str(), &end, 0);
    if (!end || *end) return false;
    groups->back().push_back(v);
  }
  return true;
}

Device* Find(const std::string& name, std::string* error) {
  auto it = Devices.find(name);
  if (it == Devices.end()) {
    *error = "no device " + name;
    return nullptr;
  }
  return &it->second;
}

// Runs one command; "" or the reason it failed.
std::string Run(const std::string& text, bool* quit) {
  std::istringstream in(text);
  std::string command, name, error;
  if (!(in >> command) || command[0] == '#') return "";
  if (command == "quit") {
    *quit = true;
    return "";
  }
  if (command == "sleep") {
    long ms = 0;
    if (!(in >> ms) || ms < 0) return "sleep needs milliseconds";
    Sleep(static_cast<DWORD>(ms));
    return "";
  }
  if (!(in >> name)) return command + " needs a device name";
  if (command == "device") {
    std::wstring serial = L"KS00000000000001";
    unsigned long firmware = 0x201, instance = Devices.size() + 1;
    std::string option;
    while (in >> option) {
      size_t eq = option.find('=');
      std::string key = option.substr(0, eq), value = eq == std::string::npos ? "" : option.substr(eq + 1);
      if (key == "serial")
        serial.assign(value.begin(), value.end());
      else if (key == "firmware")
        firmware = strtoul(value.c_str(), nullptr, 0);
      else if (key == "instance")
        instance = strtoul(value.c_str(), nullptr, 0);
      else
        return "unknown option " + key;
    }
    int ball = SimAddDevice(serial.c_str(), static_cast<uint16_t>(firmware),
                            static_cast<uint32_t>(instance));
    if (ball < 0) return "too many devices";
    Devices[name] = {ball};
    return "";
  }
  Device* d = Find(name, &error);
  if (!d) return error;
  if (command == "plug") {
    std::string notify;
    in >> notify;
    int send = notify != "quiet";
    return SimPlug(d->m_Ball, send) && SimPlug(d->m_Ball + 1, send) ? "" : "plug failed";
  }
  if (command == "unplug") {
    SimUnplug(d->m_Ball);
    SimUnplug(d->m_Ball + 1);
    return "";
  }
  if (command == "wait-open") {
    long ms = 10000;
    in >> ms;
    return SimWaitOpen(d->m_Ball, static_cast<DWORD>(ms)) &&
                   SimWaitOpen(d->m_Ball + 1, static_cast<DWORD>(ms))
               ? ""
               : "not opened in time";
  }
  std::vector<std::vector<long>> groups;
  if (command == "ball" || command == "scroll") {
    if (!NumberGroups(in, &groups)) return "numbers expected";
    std::vector<uint8_t> bytes;
    for (const auto& g : groups) {
      std::vector<uint8_t> report;
      if (command == "ball") {
        if (g.size() != 6) return "a ball report has six readings";
        report = BallReport(g.data());
      } else {
        if (g.size() != 3) return "a scroll-hat report is x y buttons";
        report = ScrollReport(g[0], g[1], g[2]);
      }
      bytes.insert(bytes.end(), report.begin(), report.end());
    }
    int index = command == "ball" ? d->m_Ball : d->m_Ball + 1;
    return SimSend(index, bytes.data(), static_cast<uint32_t>(bytes.size())) ? ""
                                                                             : "interface not open";
  }
  std::string which;
  if (command == "raw" || command == "error") {
    if (!(in >> which) || (which != "ball" && which != "scroll")) return "ball or scroll expected";
    int index = which == "ball" ? d->m_Ball : d->m_Ball + 1;
    if (command == "error") {
      unsigned long code = 0;
      if (!(in >> code)) return "error code expected";
      return SimSendError(index, static_cast<uint32_t>(code), nullptr, 0) ? "" : "interface not open";
    }
    std::vector<uint8_t> bytes;
    std::string hex;
    while (in >> hex) bytes.push_back(static_cast<uint8_t>(strtoul(hex.c_str(), nullptr, 16)));
    return SimSend(index, bytes.data(), static_cast<uint32_t>(bytes.size())) ? ""
                                                                             : "interface not open";
  }
  if (command == "identity-fault") {
    unsigned long attributes = 0, serial = 0;
    in >> attributes >> serial;
    SimFailIdentity(d->m_Ball, static_cast<uint32_t>(attributes), static_cast<uint32_t>(serial));
    return "";
  }
  if (command == "feature-fault") {
    std::string kind;
    unsigned long count = kSimAlways;
    if (!(in >> kind)) return "fault kind expected";
    in >> count;
    SimFirmware* f = SimFirmwareOf(d->m_Ball);
    if (kind == "refuse-sets")
      f->m_RefuseSets = static_cast<uint32_t>(count);
    else if (kind == "refuse-gets")
      f->m_RefuseGets = static_cast<uint32_t>(count);
    else if (kind == "wrong-check")
      f->m_WrongCheckBytes = static_cast<uint32_t>(count);
    else if (kind == "busy")
      f->m_BusyReplies = static_cast<uint32_t>(count);
    else
      return "unknown fault " + kind;
    return "";
  }
  if (command == "firmware-state") {
    SimFirmware* f = SimFirmwareOf(d->m_Ball);
    printf("restzone %u autozero %u sets %u gets %u\n", f->m_RestZone, f->m_AutoZeroCount,
           f->m_SetCalls, f->m_GetCalls);
    return "";
  }
  return "unknown command " + command;
}

// Plays lines, with "repeat N" ... "end" blocks (nested) expanded.
bool Play(const std::vector<Line>& lines, size_t* at, size_t end, bool* quit, const char* source) {
  while (*at < end && !*quit) {
    const Line& line = lines[*at];
    std::istringstream in(line.m_Text);
    std::string command;
    in >> command;
    if (command == "repeat") {
      long times = 0;
      in >> times;
      size_t body = ++*at, depth = 1, close = body;
      for (; close < end; ++close) {
        std::istringstream w(lines[close].m_Text);
        std::string c;
        w >> c;
        if (c == "repeat") ++depth;
        if (c == "end" && --depth == 0) break;
      }
      if (close >= end) {
        fprintf(stderr, "%s:%d: repeat without end\n", source, line.m_Number);
        return false;
      }
      for (long i = 0; i < times && !*quit; ++i) {
        size_t inner = body;
        if (!Play(lines, &inner, close, quit, source)) return false;
      }
      *at = close + 1;
      continue;
    }
    std::string error = Run(line.m_Text, quit);
    if (!error.empty()) {
      fprintf(stderr, "%s:%d: %s\n", source, line.m_Number, error.c_str());
      return false;
    }
    ++*at;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* script = nullptr;
  bool interactive = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-i") == 0)
      interactive = true;
    else
      script = argv[i];
  }
  if (!script && !interactive) {
    fprintf(stderr, "usage: KestrinDeviceSim [script] [-i]\n");
    return 2;
  }
  if (!SimStart()) {
    fprintf(stderr, "KestrinDeviceSim: the simulator's pipes cannot be created (%lu)\n",
            GetLastError());
    return 1;
  }
  bool quit = false;
  int status = 0;
  if (script) {
    FILE* f = fopen(script, "r");
    if (!f) {
      fprintf(stderr, "KestrinDeviceSim: cannot open %s\n", script);
      SimStop();
      return 1;
    }
    std::vector<Line> lines;
    char buffer[1024];
    for (int number = 1; fgets(buffer, sizeof buffer, f); ++number) {
      std::string text(buffer);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      lines.push_back({text, number});
    }
    fclose(f);
    size_t at = 0;
    if (!Play(lines, &at, lines.size(), &quit, script)) status = 1;
  }
  if (interactive && status == 0) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    char buffer[1024];
    while (!quit && fgets(buffer, sizeof buffer, stdin)) {
      std::string text(buffer);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      std::string error = Run(text, &quit);
      printf(error.empty() ? "ok\n" : "error: %s\n", error.c_str());
    }
  }
  SimStop();
  return status;
}
