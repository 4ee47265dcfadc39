// The monitor's connection to the service: a read-only client of the pipe
// "\\.\pipe\KestrinPipe", which it listens to only to learn when the ball
// becomes active, and a read-only view of the shared motion section, whose
// record 1 it copies itself at every timer tick.
#pragma once
#include <windows.h>

#include "motion_shaping.h"
#include "pipe_protocol.h"

namespace monitor {

// The text of both connection failures, and the caption of every box.
constexpr char kNoServiceText[] = "Could not connect to Kestrin service";
constexpr char kMonitorCaption[] = "Kestrin Monitor";
constexpr UINT_PTR kMonitorTimerId = 1;
constexpr UINT kMonitorTimerMs = 50;

// MessageBoxA(no owner, text, "Kestrin Monitor", MB_OK).
void ShowError(const char* text);

// The window whose timer a ball-active message restarts.
void SetMainWindow(HWND window);
HWND MainWindow();

enum EPipeRead {
  PipeReadClosed = 1,   // no pipe, or it broke (the broken flag is set)
  PipeReadPending = 2,  // a read is outstanding; its event tells when it is done
  PipeReadMessage = 3,  // a message is in the buffer
};

class MonitorPipeClient {
 public:
  // Connects (PipeClientOpen); the program builds its one client before
  // WinMain runs. The newest client is the one Current() gives.
  MonitorPipeClient();
  // PipeClientClose.
  ~MonitorPipeClient();
  MonitorPipeClient(const MonitorPipeClient&) = delete;
  MonitorPipeClient& operator=(const MonitorPipeClient&) = delete;

  static MonitorPipeClient* Current();

  // One message into buffer, or why not (EPipeRead).
  int ReadPipeMessage(PipeMessage* buffer);
  // Takes every message that is there and starts the next read: a state
  // message with StateBallActive makes motion valid again and restarts the
  // timer of the main window. The monitor never writes to the pipe.
  void DrainMonitorPipe();
  // Copies record 1's ball values (ReadBallValues) into record; returns
  // whether the motion is valid, giving zeros when it is not.
  int ReadDeviceMotion(MotionDisplayRecord* record);

  HANDLE ReadEvent() const { return m_ReadEvent; }
  bool PipeBroken() const { return m_PipeBroken; }
  bool Connected() const { return m_Pipe != INVALID_HANDLE_VALUE; }
  bool SectionMapped() const { return m_View != nullptr; }
  const BallValues& Ball() const { return m_Ball; }

 private:
  void PipeClientOpen();
  void OpenSharedMemory();
  void PipeClientClose();

  HANDLE m_Pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED m_Read = {};
  HANDLE m_ReadEvent = nullptr;  // manual reset, in m_Read
  bool m_ReadPending = false;
  bool m_PipeBroken = false;
  PipeMessage m_Message = {};
  HANDLE m_Section = nullptr;
  const void* m_View = nullptr;  // stays mapped until the process ends
  BallValues m_Ball = {};        // m_MotionValid, the header's count and moving bit, the values
};

}  // namespace monitor
