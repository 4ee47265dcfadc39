// Debug lines of one process, taken from a running DebugMonitor once every
// line written so far has arrived: the marker written here can only reach the
// monitor after it has taken every line written before it. Each text comes
// without its line break: how a line ends is the reporting module's concern
// and is tested there.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "dbwin_monitor.h"

inline std::vector<std::string> DebugLinesOf(DebugMonitor& monitor, DWORD pid) {
  const std::string marker =
      "-- end of lines " + std::to_string(GetCurrentProcessId()) + " " +
      std::to_string(GetTickCount64()) + " --";
  OutputDebugStringA(marker.c_str());
  std::vector<std::string> texts;
  if (!monitor.WaitForText(marker, 10000)) {
    texts.push_back("(the debug-output monitor did not receive the end marker)");
    return texts;
  }
  for (const DebugLine& line : monitor.Lines()) {
    if (line.text == marker) break;
    if (line.pid != pid) continue;
    std::string text = line.text;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    texts.push_back(text);
  }
  monitor.Clear();
  return texts;
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
