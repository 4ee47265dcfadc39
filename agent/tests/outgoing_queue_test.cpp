// The queue of messages waiting for the agent's outstanding pipe write.
#include <gtest/gtest.h>

#include "outgoing_queue.h"

namespace {

PipeMessage Message(uint16_t opcode, uint16_t value) {
  PipeMessage message = {};
  message.m_Opcode = opcode;
  message.m_Device = 1;
  message.m_Payload.m_LogFactors[0] = value;
  return message;
}

TEST(OutgoingQueueTest, KeepsOneMessagePerOpcodeWithItsLatestPayloadInFirstArrivalOrder) {
  OutgoingQueue queue = {};
  PipeMessage m = Message(PipeSetLogFactors, 1);
  ASSERT_TRUE(QueuePut(&queue, &m));
  m = Message(PipeSetFlags, 2);
  ASSERT_TRUE(QueuePut(&queue, &m));
  m = Message(PipeSetLogFactors, 3);  // replaces 1, keeps its place
  ASSERT_TRUE(QueuePut(&queue, &m));
  m = Message(PipeTestAutoZero, 4);
  ASSERT_TRUE(QueuePut(&queue, &m));
  EXPECT_EQ(queue.m_Count, 3);

  const struct {
    uint16_t opcode, value;
  } expected[] = {{PipeSetLogFactors, 3}, {PipeSetFlags, 2}, {PipeTestAutoZero, 4}};
  for (const auto& e : expected) {
    PipeMessage out;
    ASSERT_TRUE(QueueTake(&queue, &out));
    EXPECT_EQ(out.m_Opcode, e.opcode);
    EXPECT_EQ(out.m_Payload.m_LogFactors[0], e.value);
  }
  PipeMessage out;
  EXPECT_FALSE(QueueTake(&queue, &out));
  EXPECT_EQ(queue.m_HighWater, 3);
}

TEST(OutgoingQueueTest, ManyRequestsNeverGrowItAndAFullQueueRefusesANewOpcode) {
  OutgoingQueue queue = {};
  for (uint16_t i = 0; i < 1000; ++i) {
    PipeMessage m = Message(static_cast<uint16_t>(PipeSetLogFactors + i % 2), i);
    ASSERT_TRUE(QueuePut(&queue, &m));
  }
  EXPECT_EQ(queue.m_HighWater, 2);
  PipeMessage out;
  ASSERT_TRUE(QueueTake(&queue, &out));
  EXPECT_EQ(out.m_Payload.m_LogFactors[0], 998);

  for (uint16_t op = 1; op <= kOutgoingSlots; ++op) {
    PipeMessage m = Message(static_cast<uint16_t>(0x5000 + op), op);
    QueuePut(&queue, &m);
  }
  PipeMessage extra = Message(0x6000, 9);
  EXPECT_FALSE(QueuePut(&queue, &extra));
  EXPECT_EQ(queue.m_Count, kOutgoingSlots);
  // After clearing, the queue starts over.
  QueueClear(&queue);
  EXPECT_FALSE(QueueTake(&queue, &out));
}

}  // namespace
