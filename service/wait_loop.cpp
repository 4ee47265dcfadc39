// The service thread's loop: one wait over the wake event, the pipe instances'
// events and the devices' read events, each entry carrying its callback.
#include "wait_loop.h"

#include <string.h>

#include "reporting.h"
#include "resource.h"
#include "service_private.h"

WaitList ServiceWaitList;
uint32_t PublishPending;

namespace {

constexpr uint16_t kGrowStep = 20;
constexpr DWORD kFailedWaitRetryMs = 1000;
constexpr DWORD kStopCheckMs = 50;

// While WaitEntriesFree counts, AddWaitItem only counts.
bool g_Counting;
uint16_t g_Counted;
// Entries left out of the build in progress for want of room.
uint16_t g_LeftOut;

void PauseAfterFailedWait() {
  for (DWORD waited = 0; waited < kFailedWaitRetryMs && !StopFlag; waited += kStopCheckMs)
    Sleep(kStopCheckMs);
}

}  // namespace

WaitLoopCalls WaitLoopParts = {
    AddPipeWaitItems, AddDeviceWaitItems, PublishDeviceState, ProcessArrivalQueue,
    PauseAfterFailedWait,
};

int GrowWaitList() {
  WaitList& list = ServiceWaitList;
  const uint16_t capacity = static_cast<uint16_t>(list.m_Capacity + kGrowStep);
  // Each array is stored as soon as it has its new size (a reallocation may
  // have moved it); the capacity only once both have.
  if (!list.m_Entries) {
    list.m_Entries = static_cast<WaitEntry*>(CallocChecked(capacity, sizeof(WaitEntry)));
    if (!list.m_Entries) return 0;
  } else {
    void* entries = ReallocChecked(list.m_Entries, capacity * sizeof(WaitEntry));
    if (!entries) return 0;
    list.m_Entries = static_cast<WaitEntry*>(entries);
  }
  if (!list.m_Handles) {
    list.m_Handles = static_cast<HANDLE*>(CallocChecked(capacity, sizeof(HANDLE)));
    if (!list.m_Handles) return 0;
  } else {
    void* handles = ReallocChecked(list.m_Handles, capacity * sizeof(HANDLE));
    if (!handles) return 0;
    list.m_Handles = static_cast<HANDLE*>(handles);
  }
  list.m_Capacity = capacity;
  return 1;
}

void AddWaitItem(HANDLE handle, WaitCallback callback, uint16_t argument) {
  if (g_Counting) {
    ++g_Counted;
    return;
  }
  WaitList& list = ServiceWaitList;
  if (list.m_Count >= kMaxWaitEntries) {
    ++g_LeftOut;
    return;
  }
  if (list.m_Count >= list.m_Capacity && !GrowWaitList()) return;
  list.m_Handles[list.m_Count] = handle;
  list.m_Entries[list.m_Count].m_Callback = callback;
  list.m_Entries[list.m_Count].m_Argument = argument;
  ++list.m_Count;
}

void BuildWaitList() {
  g_LeftOut = 0;
  AddWaitItem(WakeEvent, OnWakeEvent, 0);
  WaitLoopParts.addPipeWaitItems();
  WaitLoopParts.addDeviceWaitItems();
  // Waiting on them all would fail with exactly this error; the entries that
  // fit are waited on, the rest get their turn when room comes free.
  if (g_LeftOut) ReportCallFailure(CallWaitForMultipleObjects, ERROR_INVALID_PARAMETER);
}

uint16_t WaitEntriesFree() {
  g_Counting = true;
  g_Counted = 0;
  AddWaitItem(WakeEvent, OnWakeEvent, 0);
  WaitLoopParts.addPipeWaitItems();
  WaitLoopParts.addDeviceWaitItems();
  g_Counting = false;
  return g_Counted >= kMaxWaitEntries ? 0 : static_cast<uint16_t>(kMaxWaitEntries - g_Counted);
}

void FreeWaitList() {
  WaitList& list = ServiceWaitList;
  FreeAndClear(&list.m_Handles);
  FreeAndClear(&list.m_Entries);
  list.m_Capacity = 0;
  list.m_Count = 0;
}

void OnWakeEvent(uint16_t) {
  WaitLoopParts.processArrivalQueue();
  MarkWaitListForRebuild();
}

void RunServiceLoop() {
  WaitList& list = ServiceWaitList;
  unsigned failedWaits = 0;  // in a row
  for (;;) {
    if (PublishPending) {
      PublishPending = 0;
      WaitLoopParts.publishDeviceState();
    }
    if (list.m_Count == 0) BuildWaitList();

    DWORD result = WaitForMultipleObjectsEx(list.m_Count, list.m_Handles,
                                            FALSE,     // any one
                                            INFINITE,  //
                                            FALSE);    // not alertable
    if (StopFlag) return;

    if (result == WAIT_FAILED) {
      ReportCallFailure(CallWaitForMultipleObjects, GetLastError());
      MarkWaitListForRebuild();
      // The first failure is retried at once with a rebuilt list; when even
      // the rebuilt list fails, each further retry waits first.
      if (++failedWaits > 1) WaitLoopParts.pauseAfterFailedWait();
      continue;
    }
    failedWaits = 0;

    const DWORD index = result & 0xFFFF;
    if (index < list.m_Count) {
      // Reset before the callback: a completion that signals the event again
      // during the callback is then not lost. A failed reset is reported and
      // the callback still runs.
      ResetEventChecked(list.m_Handles[index]);
      const WaitEntry entry = list.m_Entries[index];
      entry.m_Callback(entry.m_Argument);
    } else {
      DebugPrintMessage(IDS_BAD_WAIT_RESULT, result);
    }
  }
}
