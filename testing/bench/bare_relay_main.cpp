// KestrinBareRelay: the two hops of the agent's road done bare, for the
// latency benchmarks' floor. A plain client of the service's pipe that
// blocks on each read and posts every device state it receives, at once, to
// a window of another process:
//   KestrinBareRelay.exe WINDOW
// WINDOW: the receiving window's handle, decimal. Posts WM_APP + 1 (wParam
// the state word, lParam the buttons) per state message, and WM_APP + 2 once
// connected. Ends when the pipe breaks or the window is gone.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "pipe_protocol.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: KestrinBareRelay WINDOW\n");
    return 2;
  }
  HWND target = reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(argv[1], nullptr, 10)));
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 500 && pipe == INVALID_HANDLE_VALUE; ++i) {
    pipe = CreateFileA(kPipeName, GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                       0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) WaitNamedPipeA(kPipeName, 20);
  }
  if (pipe == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "KestrinBareRelay: no pipe, error %lu\n", GetLastError());
    return 1;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  if (!PostMessageA(target, WM_APP + 2, 0, 0)) return 1;
  PipeMessage message;
  DWORD bytes = 0;
  while (ReadFile(pipe, &message, sizeof message, &bytes, nullptr)) {
    if (bytes != sizeof message || message.m_Opcode != PipeDeviceState) continue;
    if (!PostMessageA(target, WM_APP + 1, message.m_Payload.m_DeviceState.m_State,
                      static_cast<LPARAM>(message.m_Payload.m_DeviceState.m_Buttons)))
      break;
  }
  CloseHandle(pipe);
  return 0;
}
