// A client of the service's pipe "\\.\pipe\KestrinPipe" for tests, benchmarks
// and the demo: connects (waiting for a free instance when all are busy),
// sends 12-byte messages or any raw bytes, and receives messages with a
// timeout. Not thread-safe; one object per connection.
#pragma once
#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "pipe_protocol.h"

class PipeTestClient {
 public:
  enum class Receive { Message, Timeout, Broken, Failed };

  PipeTestClient();
  ~PipeTestClient();
  PipeTestClient(const PipeTestClient&) = delete;
  PipeTestClient& operator=(const PipeTestClient&) = delete;

  // Opens the pipe in message read mode; while every instance is busy, waits
  // for a free one until timeoutMs has passed. False with lastError() set.
  bool Connect(DWORD timeoutMs);
  bool connected() const { return handle_ != INVALID_HANDLE_VALUE; }
  DWORD lastError() const { return lastError_; }
  HANDLE handle() const { return handle_; }

  // One pipe message of exactly these bytes (may be shorter or longer than
  // 12). True when the write completed.
  bool SendBytes(const void* bytes, DWORD count);
  bool Send(const PipeMessage& message) { return SendBytes(&message, sizeof message); }
  bool SendSetLogFactors(uint16_t pan, uint16_t zoom, uint16_t spin, uint16_t scroll);
  bool SendSetFlags(uint16_t flags);
  bool SendTestAutoZero();

  // The next message, its first 12 bytes in message (zero-filled when it is
  // shorter); bytes holds how many it had, up to 24 (a longer one gives
  // Failed with lastError() ERROR_MORE_DATA).
  Receive ReceiveMessage(PipeMessage* message, DWORD timeoutMs, DWORD* bytes = nullptr);
  // Every message that arrives until none has come for quietMs (or the pipe
  // broke: broken() tells).
  std::vector<PipeMessage> ReceiveUntilQuiet(DWORD quietMs);
  bool broken() const { return broken_; }

  // Bytes waiting in the pipe, from PeekNamedPipe (0 on failure).
  DWORD BytesWaiting();

  // Closes the client end (the server sees a broken pipe).
  void Close();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE readEvent_ = nullptr;
  OVERLAPPED read_ = {};
  PipeMessage readBuffer_[2] = {};  // room to notice a long message
  bool readPending_ = false;
  bool broken_ = false;
  DWORD lastError_ = 0;
};

// "state 0x0c00 device 1 buttons 0x00" and the like, for output and messages.
std::string DescribePipeMessage(const PipeMessage& message);
