// The two things the monitor needs of the service, made by the test process
// itself: one listening instance of the pipe and the shared section, whose
// record 1 the test writes as the service would. For the monitor's tests
// only; no service runs meanwhile.
#pragma once
#include <windows.h>

#include <string.h>

#include "motion_section.h"
#include "pipe_protocol.h"

class FakeService {
 public:
  FakeService() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  SectionBytesForPageSize(info.dwPageSize), kSectionName);
    if (section_) view_ = MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    connect_.hEvent = CreateEventA(nullptr, TRUE /* manual reset */, FALSE, nullptr);
    write_.hEvent = CreateEventA(nullptr, TRUE /* manual reset */, FALSE, nullptr);
    pipe_ = CreateNamedPipeA(kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 120, 120,
                             0, nullptr);
    if (pipe_ != INVALID_HANDLE_VALUE && !ConnectNamedPipe(pipe_, &connect_)) {
      DWORD error = GetLastError();
      connected_ = error == ERROR_PIPE_CONNECTED;
      listening_ = error == ERROR_IO_PENDING || connected_;
    }
  }
  ~FakeService() {
    ClosePipe();
    if (view_) UnmapViewOfFile(view_);
    if (section_) CloseHandle(section_);
    CloseHandle(connect_.hEvent);
    CloseHandle(write_.hEvent);
  }
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

  bool ready() const { return view_ && listening_; }

  // True once a client has opened the pipe.
  bool WaitConnected(DWORD timeoutMs) {
    if (!connected_ && WaitForSingleObject(connect_.hEvent, timeoutMs) == WAIT_OBJECT_0) {
      DWORD unused;
      connected_ = GetOverlappedResult(pipe_, &connect_, &unused, FALSE) != 0;
    }
    return connected_;
  }

  bool Send(const PipeMessage& message) {
    DWORD written = 0;
    if (!WriteFile(pipe_, &message, sizeof message, &written, &write_) &&
        (GetLastError() != ERROR_IO_PENDING ||
         !GetOverlappedResult(pipe_, &write_, &written, TRUE)))
      return false;
    return written == sizeof message;
  }
  bool SendState(uint16_t state) { return Send(MakeDeviceStateMessage(1, state, 0)); }

  // Closing the server end is what the client sees as a broken pipe.
  void ClosePipe() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
  }

  DeviceMotionRecord* Record1() { return SectionRecord(view_, 1); }

  // Publishes one batch into record 1 as the service does: the back buffer
  // gets the values, then the header flips with the count advanced by one.
  void PublishBall(const int16_t values[6], bool moving) {
    DeviceMotionRecord* record = Record1();
    uint16_t h = *BallHeaderOf(record);
    BallBuffer& back = record->m_Ball[(h & kHeaderBufferBit) ? 0 : 1];
    memcpy(back.m_Values, values, sizeof back.m_Values);
    uint16_t next = static_cast<uint16_t>(((h & kHeaderBufferBit) ^ kHeaderBufferBit) |
                                          (moving ? kHeaderMovingBit : 0) |
                                          ((h + 1) & kHeaderCountMask));
    __atomic_store_n(BallHeaderOf(record), next, __ATOMIC_RELEASE);
  }
  void PublishBall(int16_t tx, int16_t rz, bool moving) {
    const int16_t values[6] = {tx, 0, 0, 0, 0, rz};
    PublishBall(values, moving);
  }

 private:
  HANDLE section_ = nullptr;
  void* view_ = nullptr;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  OVERLAPPED connect_ = {};
  OVERLAPPED write_ = {};
  bool listening_ = false;
  bool connected_ = false;
};
