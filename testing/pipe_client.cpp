#include "pipe_client.h"

#include <stdio.h>
#include <string.h>

PipeTestClient::PipeTestClient() {
  readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // manual reset
}

PipeTestClient::~PipeTestClient() {
  Close();
  if (readEvent_) CloseHandle(readEvent_);  // nothing to do when it fails
}

bool PipeTestClient::Connect(DWORD timeoutMs) {
  Close();
  broken_ = false;
  const DWORD start = GetTickCount();
  for (;;) {
    handle_ = CreateFileA(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ != INVALID_HANDLE_VALUE) break;
    lastError_ = GetLastError();
    const DWORD waited = GetTickCount() - start;
    if (waited >= timeoutMs) return false;
    if (lastError_ == ERROR_PIPE_BUSY) {
      // Returns at once when an instance is free, or after the time given.
      WaitNamedPipeA(kPipeName, timeoutMs - waited < 100 ? timeoutMs - waited : 100);
    } else if (lastError_ == ERROR_FILE_NOT_FOUND) {
      Sleep(10);  // no instance at all (the service is starting or gone)
    } else {
      return false;
    }
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(handle_, &mode, nullptr, nullptr)) {
    lastError_ = GetLastError();
    Close();
    return false;
  }
  return true;
}

bool PipeTestClient::SendBytes(const void* bytes, DWORD count) {
  if (!connected()) return false;
  OVERLAPPED write = {};
  write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!write.hEvent) {
    lastError_ = GetLastError();
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(handle_, bytes, count, &written, &write) != 0;
  if (!ok && GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(write.hEvent, 5000) == WAIT_OBJECT_0) {
      ok = GetOverlappedResult(handle_, &write, &written, FALSE) != 0;
    } else {
      CancelIo(handle_);  // the write is given up; its result does not matter
      SetLastError(ERROR_TIMEOUT);
    }
  }
  if (!ok) {
    lastError_ = GetLastError();
    if (lastError_ == ERROR_NO_DATA || lastError_ == ERROR_BROKEN_PIPE) broken_ = true;
  }
  CloseHandle(write.hEvent);  // nothing to do when it fails
  return ok && written == count;
}

bool PipeTestClient::SendSetLogFactors(uint16_t pan, uint16_t zoom, uint16_t spin,
                                       uint16_t scroll) {
  PipeMessage message = {};
  message.m_Opcode = PipeSetLogFactors;
  message.m_Device = 1;
  message.m_Payload.m_LogFactors[0] = pan;
  message.m_Payload.m_LogFactors[1] = zoom;
  message.m_Payload.m_LogFactors[2] = spin;
  message.m_Payload.m_LogFactors[3] = scroll;
  return Send(message);
}

bool PipeTestClient::SendSetFlags(uint16_t flags) {
  PipeMessage message = {};
  message.m_Opcode = PipeSetFlags;
  message.m_Device = 1;
  message.m_Payload.m_Flags = flags;
  return Send(message);
}

bool PipeTestClient::SendTestAutoZero() {
  PipeMessage message = {};
  message.m_Opcode = PipeTestAutoZero;
  message.m_Device = 1;
  return Send(message);
}

PipeTestClient::Receive PipeTestClient::ReceiveMessage(PipeMessage* message, DWORD timeoutMs,
                                                       DWORD* bytes) {
  if (!connected()) return Receive::Failed;
  DWORD got = 0;
  if (!readPending_) {
    read_ = {};
    read_.hEvent = readEvent_;
    if (ReadFile(handle_, readBuffer_, sizeof readBuffer_, &got, &read_)) {
      readPending_ = false;
    } else if (GetLastError() == ERROR_IO_PENDING) {
      readPending_ = true;
    } else {
      lastError_ = GetLastError();
      if (lastError_ == ERROR_BROKEN_PIPE) {
        broken_ = true;
        return Receive::Broken;
      }
      return Receive::Failed;
    }
  }
  if (readPending_) {
    if (WaitForSingleObject(readEvent_, timeoutMs) != WAIT_OBJECT_0) return Receive::Timeout;
    readPending_ = false;
    if (!GetOverlappedResult(handle_, &read_, &got, FALSE)) {
      lastError_ = GetLastError();
      if (lastError_ == ERROR_BROKEN_PIPE) {
        broken_ = true;
        return Receive::Broken;
      }
      return Receive::Failed;
    }
  }
  if (bytes) *bytes = got;
  memset(message, 0, sizeof *message);
  memcpy(message, readBuffer_, got < sizeof *message ? got : sizeof *message);
  return Receive::Message;
}

std::vector<PipeMessage> PipeTestClient::ReceiveUntilQuiet(DWORD quietMs) {
  std::vector<PipeMessage> messages;
  PipeMessage message;
  while (ReceiveMessage(&message, quietMs) == Receive::Message) messages.push_back(message);
  return messages;
}

DWORD PipeTestClient::BytesWaiting() {
  DWORD available = 0;
  if (!connected() || !PeekNamedPipe(handle_, nullptr, 0, nullptr, &available, nullptr)) return 0;
  return available;
}

void PipeTestClient::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  if (readPending_) {
    CancelIo(handle_);  // the read dies with the handle either way
    WaitForSingleObject(readEvent_, 1000);
    readPending_ = false;
  }
  CloseHandle(handle_);  // nothing to do when it fails
  handle_ = INVALID_HANDLE_VALUE;
}

std::string DescribePipeMessage(const PipeMessage& message) {
  char text[128];
  if (message.m_Opcode == PipeDeviceState) {
    snprintf(text, sizeof text, "device %u state 0x%04x buttons 0x%02lx", message.m_Device,
             message.m_Payload.m_DeviceState.m_State,
             static_cast<unsigned long>(message.m_Payload.m_DeviceState.m_Buttons));
  } else {
    snprintf(text, sizeof text, "opcode 0x%04x device %u", message.m_Opcode, message.m_Device);
  }
  return text;
}
