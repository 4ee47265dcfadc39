// KestrinDebugLog: prints the debugger output of every program and service in
// this Wine prefix as it arrives, one line per message: the writer's process
// id, then the text. Runs until killed, or for the given number of seconds.
//   KestrinDebugLog.exe [seconds]
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "dbwin_monitor.h"

int main(int argc, char** argv) {
  long seconds = 0;  // 0: until killed
  if (argc > 2 || (argc == 2 && (seconds = strtol(argv[1], nullptr, 10)) <= 0)) {
    fprintf(stderr, "usage: KestrinDebugLog.exe [seconds]\n");
    return 2;
  }
  // Lines go to a Unix terminal or log: "\n" as sent, not "\r\n".
  _setmode(_fileno(stdout), _O_BINARY);
  DebugMonitor monitor;
  if (!monitor.Start()) return 1;
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  size_t printed = 0;
  while (seconds == 0 || GetTickCount64() < end) {
    monitor.WaitFor([&](const std::vector<DebugLine>& lines) { return lines.size() > printed; },
                    200);
    std::vector<DebugLine> lines = monitor.Lines();
    for (; printed < lines.size(); ++printed) {
      const std::string& text = lines[printed].text;
      bool ends = !text.empty() && text.back() == '\n';
      printf("%5lu %s%s", lines[printed].pid, text.c_str(), ends ? "" : "\n");
    }
    fflush(stdout);
  }
  monitor.Stop();
  return 0;
}
