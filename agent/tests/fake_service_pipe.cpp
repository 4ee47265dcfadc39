#include "fake_service_pipe.h"

bool FakeServicePipe::Listen() {
  Close();
  event_ = CreateEventA(nullptr, TRUE /* manual reset */, FALSE, nullptr);
  pipe_ = CreateNamedPipeA(kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 120,
                           inBuffer_, 0, nullptr);
  if (pipe_ == INVALID_HANDLE_VALUE || !event_) return false;
  overlapped_ = {};
  overlapped_.hEvent = event_;
  if (ConnectNamedPipe(pipe_, &overlapped_)) return false;  // never so for an overlapped connect
  DWORD error = GetLastError();
  if (error == ERROR_PIPE_CONNECTED) {
    connected_ = true;
    return true;
  }
  pending_ = error == ERROR_IO_PENDING;
  return pending_;
}

bool FakeServicePipe::WaitConnected(DWORD timeoutMs) {
  if (connected_) return true;
  if (!pending_ || WaitForSingleObject(event_, timeoutMs) != WAIT_OBJECT_0) return false;
  DWORD ignored = 0;
  pending_ = false;
  connected_ = GetOverlappedResult(pipe_, &overlapped_, &ignored, FALSE) != 0;
  return connected_;
}

bool FakeServicePipe::Receive(PipeMessage* message, DWORD timeoutMs) {
  if (!connected_) return false;
  if (!pending_) {
    overlapped_ = {};
    overlapped_.hEvent = event_;
    DWORD bytes = 0;
    if (ReadFile(pipe_, &buffer_, sizeof buffer_, &bytes, &overlapped_)) {
      *message = buffer_;
      return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;
    pending_ = true;
  }
  if (WaitForSingleObject(event_, timeoutMs) != WAIT_OBJECT_0) return false;  // stays pending
  pending_ = false;
  DWORD bytes = 0;
  if (!GetOverlappedResult(pipe_, &overlapped_, &bytes, FALSE)) return false;
  *message = buffer_;
  return true;
}

std::vector<PipeMessage> FakeServicePipe::ReceiveUntilQuiet(DWORD quietMs) {
  std::vector<PipeMessage> messages;
  PipeMessage message;
  while (Receive(&message, quietMs)) messages.push_back(message);
  return messages;
}

bool FakeServicePipe::WaitClientGone(DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  PipeMessage message;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    if (!Receive(&message, static_cast<DWORD>(end - now)) && !pending_) return true;
  }
}

bool FakeServicePipe::Send(const PipeMessage& message) {
  if (!connected_) return false;
  OVERLAPPED write = {};
  write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD bytes = 0;
  bool ok = WriteFile(pipe_, &message, sizeof message, &bytes, &write) ||
            (GetLastError() == ERROR_IO_PENDING &&
             GetOverlappedResult(pipe_, &write, &bytes, TRUE));
  CloseHandle(write.hEvent);
  return ok;
}

void FakeServicePipe::Close() {
  if (pipe_ != INVALID_HANDLE_VALUE) {
    if (pending_) {
      CancelIo(pipe_);
      DWORD ignored = 0;
      GetOverlappedResult(pipe_, &overlapped_, &ignored, TRUE);  // over before the buffer goes
    }
    CloseHandle(pipe_);
  }
  if (event_) CloseHandle(event_);
  pipe_ = INVALID_HANDLE_VALUE;
  event_ = nullptr;
  pending_ = false;
  connected_ = false;
}
