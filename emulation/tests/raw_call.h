// A call of one slot of an interface table the way a host built by another
// compiler makes it: the function pointer taken from the table by index, the
// interface pointer as this, the arguments as machine words, in the
// platform's member-call convention (x86: this in ECX, arguments pushed right
// to left, the callee pops them; x64: this in RCX, then RDX, R8, R9 or XMM1-3
// by position, the rest on the stack). On x86 the call also measures how many
// bytes the callee popped.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct RawCall {
  const void* fn;
  void* self;
  uintptr_t args[12];  // x86: 32-bit words (a double takes two); x64: one per argument
  uint32_t count;
  uint32_t returnsDouble;  // x86: the result comes in ST0
  uint64_t result;         // EAX (and EDX) / RAX
  double doubleResult;     // ST0 / XMM0
  uintptr_t popped;        // x86: bytes the callee removed from the stack
};

extern "C" void RawInvoke(RawCall* call);

#if defined(_WIN64)
static_assert(offsetof(RawCall, args) == 16 && offsetof(RawCall, count) == 112 &&
                  offsetof(RawCall, result) == 120 && offsetof(RawCall, doubleResult) == 128 &&
                  offsetof(RawCall, popped) == 136,
              "RawCall offsets used by the x64 assembly");
#else
static_assert(offsetof(RawCall, args) == 8 && offsetof(RawCall, count) == 56 &&
                  offsetof(RawCall, returnsDouble) == 60 && offsetof(RawCall, result) == 64 &&
                  offsetof(RawCall, doubleResult) == 72 && offsetof(RawCall, popped) == 80,
              "RawCall offsets used by the x86 assembly");
#endif
