// KestrinCplSpy.cpl: an applet that stands between the Control Panel and a
// real applet, passes every CPlApplet call on and writes down what went
// through. It carries the real applet's resources (the Control Panel loads
// the icon and texts from the module it called), so the Control Panel treats
// it exactly as it treats the real one.
//   KESTRIN_CPL_SPY_TARGET  the real applet (a Windows path)
//   KESTRIN_CPL_SPY_LOG     the log, one line per call:
//     <message> <lParam1> -> <answer>[ icon=.. name=.. info=.. data=..]
//     [ record unchanged | record changed]
#include <windows.h>
#include <cpl.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

APPLET_PROC target = nullptr;

std::string Environment(const char* name) {
  char value[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length && length < sizeof value ? value : "";
}

void Log(const std::string& line) {
  const std::string path = Environment("KESTRIN_CPL_SPY_LOG");
  if (path.empty()) return;
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" LONG APIENTRY CPlApplet(HWND window, UINT message, LPARAM lParam1, LPARAM lParam2) {
  if (!target) {
    HMODULE real = LoadLibraryA(Environment("KESTRIN_CPL_SPY_TARGET").c_str());
    target = real ? reinterpret_cast<APPLET_PROC>(
                        reinterpret_cast<void*>(GetProcAddress(real, "CPlApplet")))
                  : nullptr;
    if (!target) {
      Log("no target applet");
      return 0;
    }
  }
  // The NEWCPLINFO record names its own size in its first word.
  std::vector<unsigned char> before;
  if (message == CPL_NEWINQUIRE && lParam2) {
    const DWORD size = *reinterpret_cast<const DWORD*>(lParam2);
    if (size >= sizeof(DWORD) && size <= sizeof(NEWCPLINFOW)) {
      const unsigned char* record = reinterpret_cast<const unsigned char*>(lParam2);
      before.assign(record, record + size);
    }
  }
  const LONG answer = target(window, message, lParam1, lParam2);
  std::string line = std::to_string(message) + " " + std::to_string(lParam1) + " -> " +
                     std::to_string(answer);
  if (message == CPL_INQUIRE && lParam2) {
    const CPLINFO* info = reinterpret_cast<const CPLINFO*>(lParam2);
    line += " icon=" + std::to_string(info->idIcon) + " name=" + std::to_string(info->idName) +
            " info=" + std::to_string(info->idInfo) +
            " data=" + std::to_string(static_cast<long long>(info->lData));
  }
  if (!before.empty()) {
    line += std::memcmp(before.data(), reinterpret_cast<const void*>(lParam2), before.size())
                ? " record changed"
                : " record unchanged";
  }
  Log(line);
  return answer;
}
