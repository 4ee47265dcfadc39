// The key messages that reach a window of the calling thread: the tests and
// the benchmark take them off the queue as the window would see them.
#pragma once
#include <stdio.h>
#include <windows.h>

#include <string>
#include <vector>

struct KeyMessage {
  UINT m_Message;  // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP
  WPARAM m_Vk;
  unsigned m_Scan;  // bits 16-23 of lParam
};

inline bool IsKeyMessage(UINT message) {
  return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN ||
         message == WM_SYSKEYUP;
}

// Takes the thread's messages off its queue until `count` key messages for
// `window` have come or `timeoutMs` has passed; dispatches the others.
inline std::vector<KeyMessage> TakeKeyMessages(HWND window, size_t count, DWORD timeoutMs) {
  std::vector<KeyMessage> taken;
  const DWORD start = GetTickCount();
  while (taken.size() < count && GetTickCount() - start < timeoutMs) {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      continue;
    }
    if (msg.hwnd == window && IsKeyMessage(msg.message)) {
      KeyMessage key = {msg.message, msg.wParam, static_cast<unsigned>((msg.lParam >> 16) & 0xFF)};
      taken.push_back(key);
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return taken;
}

inline std::string Describe(const std::vector<KeyMessage>& messages) {
  std::string text;
  char line[64];
  for (const KeyMessage& m : messages) {
    const char* name = m.m_Message == WM_KEYDOWN     ? "down"
                       : m.m_Message == WM_KEYUP     ? "up"
                       : m.m_Message == WM_SYSKEYDOWN ? "sysdown"
                                                      : "sysup";
    snprintf(line, sizeof line, "[%s vk %02x scan %02x] ", name, static_cast<unsigned>(m.m_Vk),
             m.m_Scan);
    text += line;
  }
  return text;
}
