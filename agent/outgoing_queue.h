// The agent's messages waiting for the pipe while an earlier write is still
// outstanding. At most one message waits per opcode and it holds the latest
// payload given for that opcode: a newer speed setting replaces an older one
// that was never sent, so nothing the user set last is lost and the queue
// cannot grow however fast the requests come. Messages leave in the order
// their opcodes first entered the queue.
//
// Header-only and without windows.h: the native build tests it under the
// sanitizers.
#pragma once
#include <stdint.h>
#include <string.h>

#include "pipe_protocol.h"

// The agent sends three opcodes (settings, axis convention, auto-zero); one
// slot more keeps the rule simple should another appear.
constexpr uint16_t kOutgoingSlots = 4;

struct OutgoingQueue {
  PipeMessage m_Entries[kOutgoingSlots];  // [0] leaves first
  uint16_t m_Count;
  uint16_t m_HighWater;  // the largest m_Count seen since the last reset
};

inline void QueueClear(OutgoingQueue* queue) {
  queue->m_Count = 0;
}

// Puts a message in, replacing the payload of a waiting message with the same
// opcode. 0 when the queue is full of other opcodes (the message is dropped).
inline int QueuePut(OutgoingQueue* queue, const PipeMessage* message) {
  for (uint16_t i = 0; i < queue->m_Count; ++i) {
    if (queue->m_Entries[i].m_Opcode == message->m_Opcode) {
      queue->m_Entries[i] = *message;
      return 1;
    }
  }
  if (queue->m_Count >= kOutgoingSlots) return 0;
  queue->m_Entries[queue->m_Count++] = *message;
  if (queue->m_Count > queue->m_HighWater) queue->m_HighWater = queue->m_Count;
  return 1;
}

// Takes the first message out; 0 when the queue is empty.
inline int QueueTake(OutgoingQueue* queue, PipeMessage* out) {
  if (queue->m_Count == 0) return 0;
  *out = queue->m_Entries[0];
  --queue->m_Count;
  memmove(queue->m_Entries, queue->m_Entries + 1, queue->m_Count * sizeof(PipeMessage));
  return 1;
}
