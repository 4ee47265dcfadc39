#include "pipe_client.h"

#include "motion_section.h"

namespace monitor {
namespace {

MonitorPipeClient* g_Current = nullptr;
HWND g_MainWindow = nullptr;

}  // namespace

void ShowError(const char* text) { MessageBoxA(nullptr, text, kMonitorCaption, MB_OK); }

void SetMainWindow(HWND window) { g_MainWindow = window; }
HWND MainWindow() { return g_MainWindow; }

MonitorPipeClient::MonitorPipeClient() {
  g_Current = this;
  PipeClientOpen();
}

MonitorPipeClient::~MonitorPipeClient() {
  PipeClientClose();
  if (g_Current == this) g_Current = nullptr;
}

MonitorPipeClient* MonitorPipeClient::Current() { return g_Current; }

void MonitorPipeClient::PipeClientOpen() {
  m_Ball.m_MotionValid = 1;
  m_ReadEvent = CreateEventA(nullptr, TRUE /* manual reset */, FALSE, nullptr);
  m_Read.hEvent = m_ReadEvent;
  m_Pipe = CreateFileA(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  if (m_Pipe == INVALID_HANDLE_VALUE) ShowError(kNoServiceText);
  OpenSharedMemory();
}

void MonitorPipeClient::OpenSharedMemory() {
  m_Section = OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName);
  if (m_Section) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    m_View = MapViewOfFile(m_Section, FILE_MAP_READ, 0, 0,
                           SectionBytesForPageSize(info.dwPageSize));
  }
  if (!m_Section || !m_View) ShowError(kNoServiceText);
}

void MonitorPipeClient::PipeClientClose() {
  if (m_ReadPending && m_Pipe != INVALID_HANDLE_VALUE) CancelIo(m_Pipe);  // nothing to do on failure
  m_ReadPending = false;
  if (m_Pipe != INVALID_HANDLE_VALUE) CloseHandle(m_Pipe);
  m_Pipe = INVALID_HANDLE_VALUE;
  if (m_ReadEvent) CloseHandle(m_ReadEvent);
  m_ReadEvent = nullptr;
  if (m_Section) CloseHandle(m_Section);
  m_Section = nullptr;
}

int MonitorPipeClient::ReadPipeMessage(PipeMessage* buffer) {
  if (m_Pipe == INVALID_HANDLE_VALUE) return PipeReadClosed;
  DWORD bytes = 0;
  if (m_ReadPending) {
    if (!HasOverlappedIoCompleted(&m_Read)) return PipeReadPending;
    m_ReadPending = false;
    if (GetOverlappedResult(m_Pipe, &m_Read, &bytes, FALSE)) return PipeReadMessage;
    m_PipeBroken = true;
    return PipeReadClosed;
  }
  if (ReadFile(m_Pipe, buffer, kPipeMessageBytes, &bytes, &m_Read)) return PipeReadMessage;
  if (GetLastError() == ERROR_IO_PENDING) {
    m_ReadPending = true;
    return PipeReadPending;
  }
  m_PipeBroken = true;
  return PipeReadClosed;
}

void MonitorPipeClient::DrainMonitorPipe() {
  while (ReadPipeMessage(&m_Message) == PipeReadMessage) {
    if (m_Message.m_Opcode != PipeDeviceState) continue;
    if (!(m_Message.m_Payload.m_DeviceState.m_State & StateBallActive)) continue;
    if (m_Ball.m_MotionValid) continue;
    m_Ball.m_MotionValid = 1;
    SetTimer(g_MainWindow, kMonitorTimerId, kMonitorTimerMs, nullptr);
  }
}

int MonitorPipeClient::ReadDeviceMotion(MotionDisplayRecord* record) {
  const DeviceMotionRecord* record1 =
      m_View ? SectionRecord(m_View, 1) : nullptr;
  return monitor::ReadDeviceMotion(record1, &m_Ball, record);
}

}  // namespace monitor
