// The service thread's one loop: a wait over a rebuilt list of
// (handle, callback, argument) entries.
#pragma once
#include <windows.h>
#include <stdint.h>

typedef void (*WaitCallback)(uint16_t argument);

struct WaitEntry {
  WaitCallback m_Callback;
  uint16_t m_Argument;
};

struct WaitList {
  HANDLE* m_Handles;
  WaitEntry* m_Entries;
  uint16_t m_Capacity;
  uint16_t m_Count;  // 0: rebuild before the next wait
};

extern WaitList ServiceWaitList;
extern uint32_t PublishPending;  // device activity changed: publish before the next wait

// Marks the list for rebuilding before the next wait.
inline void MarkWaitListForRebuild() { ServiceWaitList.m_Count = 0; }

void AddWaitItem(HANDLE handle, WaitCallback callback, uint16_t argument);
int GrowWaitList();
void BuildWaitList();
void RunServiceLoop();
void OnWakeEvent(uint16_t argument);
void FreeWaitList();
