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

// Appends one entry, growing the list by 20 when it is full. When the list
// cannot grow, or already holds kMaxWaitEntries entries, the entry is left out
// of this build (its handle is not waited on until a later build has room).
void AddWaitItem(HANDLE handle, WaitCallback callback, uint16_t argument);
int GrowWaitList();
// Fills the list from scratch: the wake event, then AddPipeWaitItems(), then
// AddDeviceWaitItems().
void BuildWaitList();
void RunServiceLoop();
void OnWakeEvent(uint16_t argument);
void FreeWaitList();

// ---- room in the list ----
// The wait takes at most MAXIMUM_WAIT_OBJECTS handles, and the list never
// holds more: one for the wake event, one for the listening pipe instance, two
// per connected pipe client and two per open device.
constexpr uint16_t kMaxWaitEntries = MAXIMUM_WAIT_OBJECTS;  // 64

// Entries still free: kMaxWaitEntries minus the entries a build would hold
// right now (it counts what BuildWaitList would add, from the pipe client pool
// and the device table as they are). A part that is about to create handles
// for n more entries creates them only when there is room for them, asking
// here (WaitEntriesFree() >= n) or keeping its own count of the same sum:
// a further listening pipe instance needs 1 (made again when a client leaves),
// an opened device 2. Entries that still do not fit are left out of the build
// (see AddWaitItem) with one report per build (call id 48), and the wake event,
// always entry 0, stays in: the service never waits on more than 64 handles.
// It walks the pipe client pool and the device table, so it must not be called
// during a walk of either.
uint16_t WaitEntriesFree();

// ---- seam for tests ----
// The other parts the loop calls, as one table that an in-process test may
// fill with its own routines. The service itself never changes it.
struct WaitLoopCalls {
  void (*addPipeWaitItems)();
  void (*addDeviceWaitItems)();
  void (*publishDeviceState)();
  void (*processArrivalQueue)();
  // Called before each retry after a failed wait has repeated: waits a while
  // (returning early when the stop flag is set) so a persistent failure
  // cannot spin the service thread.
  void (*pauseAfterFailedWait)();
};
extern WaitLoopCalls WaitLoopParts;
