// The service's end of "\\.\pipe\KestrinPipe" played by a test, so the
// agent's pipe traffic can be read message by message, made to wait (an
// input buffer of 0 bytes keeps every write of the agent pending until the
// test reads it) and broken at will. One instance, one client at a time.
#pragma once
#include <windows.h>

#include <vector>

#include "pipe_protocol.h"

class FakeServicePipe {
 public:
  // inBufferBytes: the instance's input buffer, what the agent can write
  // before its writes stay pending.
  explicit FakeServicePipe(DWORD inBufferBytes = 120) : inBuffer_(inBufferBytes) {}
  ~FakeServicePipe() { Close(); }
  FakeServicePipe(const FakeServicePipe&) = delete;
  FakeServicePipe& operator=(const FakeServicePipe&) = delete;

  // Makes the instance and starts waiting for a client; false on failure.
  bool Listen();
  // True once a client has connected (within timeoutMs).
  bool WaitConnected(DWORD timeoutMs);
  // The next message; false at the timeout or when the client has gone.
  bool Receive(PipeMessage* message, DWORD timeoutMs);
  // Every message until none came for quietMs.
  std::vector<PipeMessage> ReceiveUntilQuiet(DWORD quietMs);
  // True once the client has closed its end (within timeoutMs).
  bool WaitClientGone(DWORD timeoutMs);
  bool Send(const PipeMessage& message);
  // Closes the instance: the client sees a broken pipe.
  void Close();

 private:
  DWORD inBuffer_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  OVERLAPPED overlapped_ = {};
  bool pending_ = false;  // a connect or read is outstanding in overlapped_
  bool connected_ = false;
  PipeMessage buffer_ = {};
};
