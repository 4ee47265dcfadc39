// Device discovery and slots: finds the 3D mice among the HID device
// interfaces, pairs each device's ball (MI_00) and scroll-hat (MI_01)
// interfaces, opens them into a slot of the device table and takes them down
// again. Everything runs on the service thread except OnDeviceArrival, which
// the control handler calls on the control-dispatcher thread; the two meet
// only in the lock-free arrival queue.
#include "devices.h"

#include <windows.h>
#include <dbt.h>
#include <stdlib.h>
#include <string.h>

#include "device_registry.h"
#include "feature_reports.h"
#include "hid_access.h"
#include "messages.h"
#include "motion_section.h"
#include "motion_stages.h"
#include "reporting.h"
#include "resource.h"
#include "service_private.h"
#include "wait_loop.h"

GUID HidInterfaceGuid;
InterfacePathBlock* PendingBallInterface;

namespace {

const char kInterfacePrefix[] = "\\\\?\\HID#Vid_15de&Pid_6000&MI_0";
static_assert(sizeof kInterfacePrefix - 1 == kInterfacePrefixLength, "prefix length");

constexpr ULONG kSerialBufferBytes = 50;  // what HidD_GetSerialNumberString is given
constexpr size_t kSerialFieldChars = 20;
constexpr size_t kArrivalNameBytes = 1024;

// One interface present at start, grouped by serial number.
struct PairingEntry {
  InterfacePathBlock* m_Ball;
  InterfacePathBlock* m_Scroll;
  wchar_t m_Serial[kSerialFieldChars];
};

// Arrival queue: the control-dispatcher thread appends, the service thread
// consumes. The last node's next points to itself; head is the node last
// consumed (or the empty start node), tail the node last appended.
struct ArrivalNode {
  ArrivalNode* m_Next;
  InterfacePathBlock* m_Block;
};
ArrivalNode* ArrivalHead;
ArrivalNode* ArrivalTail;
// The device notification stays registered until the service's resources are
// released, after the queue is gone: a notice may come while and after
// CloseAllDevices takes the queue down. A notice counts itself in while it
// works on the queue; once the queue is closed it leaves it alone, and the
// queue is freed only when no notice is at work on it.
uint32_t ArrivalsClosed;    // set by CloseAllDevices, cleared by InitDevices
uint32_t ArrivalsAtWork;    // notices appending now

char InterfaceKind(const InterfacePathBlock* block) { return block->m_Path[kInterfacePrefixLength]; }

int ToLowerAscii(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

void FreeBlock(InterfacePathBlock** block) { FreeAndClear(block); }

}  // namespace

int IsKestrinInterface(const char* path) {
  for (size_t i = 0; i < kInterfacePrefixLength; ++i) {
    // A shorter path ends in its NUL, which matches no prefix character.
    if (ToLowerAscii(static_cast<unsigned char>(path[i])) !=
        ToLowerAscii(static_cast<unsigned char>(kInterfacePrefix[i])))
      return 0;
  }
  return 1;
}

InterfacePathBlock* NewInterfacePathBlock(const char* path) {
  size_t length = strlen(path);
  auto* block = static_cast<InterfacePathBlock*>(MallocChecked(length + kInterfaceBlockSize));
  if (!block) return nullptr;
  block->m_Size = kInterfaceBlockSize;
  memcpy(block->m_Path, path, length + 1);
  return block;
}

DeviceSlot* SlotAt(uint16_t index) {
  return static_cast<DeviceSlot*>(PoolRecord(&DeviceTable, index));
}

int SlotInUse(uint16_t index) {
  return DeviceTable.links && index < DeviceTable.count &&
         (DeviceTable.links[index] & kPoolUsedMark) != 0;
}

void InitDevices() {
  HidGetHidGuid(&HidInterfaceGuid);
  // Every slot holds the OVERLAPPED records and buffers of its pending reads,
  // so the table must never move: it is made once with room for more devices
  // than the wait list can serve (31) and never grows.
  PoolInit(&DeviceTable, sizeof(DeviceSlot));
  if (DeviceTable.capacity && DeviceTable.capacity < kDeviceSlotRecords)
    PoolGrow(&DeviceTable, static_cast<uint16_t>(kDeviceSlotRecords - DeviceTable.capacity));
  // Device number 0 counts as the first device. Both words: a section kept
  // by its readers across a restart may still say what the last service applied.
  SetGains(0, kDefaultSpeedSettings);
  SetAxisConvention(0, 0);
  CurrentSlot = -1;
  __atomic_store_n(&ArrivalsClosed, 0, __ATOMIC_SEQ_CST);
  HidStartArrivalNotices();
}

// ---- interfaces ----

int ReadInterfaceSerial(const char* path, wchar_t serial[20]) {
  HANDLE handle = HidCreateFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED);
  if (handle == INVALID_HANDLE_VALUE) return 0;  // not ours to open: skipped silently
  // One character more than the 50 bytes given, so the text always ends.
  wchar_t buffer[kSerialBufferBytes / sizeof(wchar_t) + 1] = {};
  if (!HidGetSerialNumberString(handle, buffer, kSerialBufferBytes)) {
    ReportCallFailure(CallHidGetSerialNumberString, GetLastError());
    if (!HidCloseFile(handle)) ReportCallFailure(CallCloseHandle, GetLastError());
    return 0;
  }
  // The field holds 19 characters and the terminator; a longer serial is cut.
  size_t i = 0;
  for (; i < kSerialFieldChars - 1 && buffer[i]; ++i) serial[i] = buffer[i];
  serial[i] = 0;
  if (!HidCloseFile(handle)) ReportCallFailure(CallCloseHandle, GetLastError());
  return 1;
}

int OpenInterface(InterfaceChannel* channel) {
  channel->m_Handle = HidCreateFile(channel->m_Path->m_Path, GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
  if (channel->m_Handle == INVALID_HANDLE_VALUE) {
    ReportCallFailure(CallCreateFile, GetLastError());
    return 0;
  }
  if (!channel->m_Overlapped.hEvent) {
    memset(&channel->m_Overlapped, 0, sizeof channel->m_Overlapped);
    channel->m_Overlapped.hEvent = CreateEventChecked(nullptr, TRUE,  // manual reset
                                                      FALSE,         // not signalled
                                                      nullptr);
    if (!channel->m_Overlapped.hEvent) {
      if (!HidCloseFile(channel->m_Handle)) ReportCallFailure(CallCloseHandle, GetLastError());
      channel->m_Handle = INVALID_HANDLE_VALUE;
      return 0;
    }
  }
  channel->m_ReadPending = 0;
  MarkWaitListForRebuild();
  return 1;
}

void CloseInterface(InterfaceChannel* channel) {
  // Closing the handle ends a pending read; its event is closed after it.
  if (channel->m_Handle != INVALID_HANDLE_VALUE && channel->m_Handle) {
    if (!HidCloseFile(channel->m_Handle)) ReportCallFailure(CallCloseHandle, GetLastError());
  }
  channel->m_Handle = INVALID_HANDLE_VALUE;
  if (channel->m_Overlapped.hEvent) {
    CloseHandleChecked(channel->m_Overlapped.hEvent);
    channel->m_Overlapped.hEvent = nullptr;
  }
  channel->m_ReadPending = 0;
  FreeBlock(&channel->m_Path);
  MarkWaitListForRebuild();
}

int ReadDeviceIdentity(DeviceSlot* slot) {
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof attributes;
  if (!HidGetAttributes(slot->m_Ball.m_Handle, &attributes)) {
    ReportCallFailure(CallHidGetAttributes, GetLastError());
    return 0;
  }
  slot->m_Firmware = attributes.VersionNumber;
  slot->m_BaselineCaptured = 0;
  uint32_t done = slot->m_Firmware != 0x201;
  slot->m_AxesBaselineDone = done;
  slot->m_ButtonsBaselineDone = done;

  wchar_t buffer[kSerialBufferBytes / sizeof(wchar_t) + 1] = {};
  if (!HidGetSerialNumberString(slot->m_Ball.m_Handle, buffer, kSerialBufferBytes)) {
    ReportCallFailure(CallHidGetSerialNumberString, GetLastError());
    return 0;
  }
  size_t i = 0;
  for (; i < sizeof slot->m_Serial - 1 && buffer[i]; ++i)
    slot->m_Serial[i] = static_cast<char>(buffer[i] & 0xFF);
  slot->m_Serial[i] = 0;
  return 1;
}

// ---- slots ----

DeviceSlot* AllocDeviceSlot(InterfacePathBlock* ball, InterfacePathBlock* scroll) {
  // Each open device waits on two read events; a device whose reads would not
  // fit in the wait list would never be read, so it is refused instead.
  if (WaitEntriesFree() < 2) {
    DebugPrintMessage(IDS_DEVICE_NO_WAIT_ROOM);
    return nullptr;
  }
  if (DeviceTable.freeHead < 0 && DeviceTable.count >= DeviceTable.capacity) {
    // Growing would move the slots whose reads are pending.
    DebugPrintMessage(IDS_DEVICE_TABLE_FULL);
    return nullptr;
  }
  auto* slot = static_cast<DeviceSlot*>(PoolAlloc(&DeviceTable));
  if (!slot) return nullptr;
  uint16_t index = PoolIndexOf(&DeviceTable, slot);
  // Slot k publishes to record k+1: a slot the section has no record for
  // would write beyond the view, so such a device is refused. Without any
  // section (record 1 missing too) devices still run, publishing nothing.
  if (MotionRecordForSlot(0) && !MotionRecordForSlot(index)) {
    PoolRelease(&DeviceTable, index);
    DebugPrintMessage(IDS_DEVICE_BEYOND_SECTION, static_cast<uint32_t>(index));
    return nullptr;
  }
  memset(slot, 0, sizeof *slot);
  slot->m_Ball.m_Path = ball;
  slot->m_Scroll.m_Path = scroll;
  slot->m_Ball.m_Handle = INVALID_HANDLE_VALUE;
  slot->m_Scroll.m_Handle = INVALID_HANDLE_VALUE;
  StartSlotSettings(index);
  return slot;
}

DeviceSlot* PairInterfaces(int hotPlugged, InterfacePathBlock** path,
                           InterfacePathBlock** pending) {
  char kind = InterfaceKind(*path);
  if (kind == '0') {
    FreeBlock(pending);
    *pending = *path;
    *path = nullptr;
    return nullptr;
  }
  if (kind != '1') {
    FreeBlock(path);
    return nullptr;
  }
  if (!*pending || memcmp((*pending)->m_Path, (*path)->m_Path, kInterfacePrefixLength) != 0) {
    DebugPrintMessage(IDS_UNMATCHED_SCROLL_HAT, static_cast<const char*>((*path)->m_Path));
    FreeBlock(path);
    return nullptr;
  }
  if (hotPlugged) ReportEventLog(EVENTLOG_INFORMATION_TYPE, MSG_DEVICE_PLUGGED_IN, nullptr);
  DeviceSlot* slot = AllocDeviceSlot(*pending, *path);
  if (!slot) {
    FreeBlock(path);
    return nullptr;
  }
  *pending = nullptr;
  *path = nullptr;
  return slot;
}

int OpenDevice(DeviceSlot* slot) {
  uint16_t index = PoolIndexOf(&DeviceTable, slot);
  if (!OpenInterface(&slot->m_Ball)) goto failed;
  if (!OpenInterface(&slot->m_Scroll)) {
    // Closing frees the block too; the failure path below frees what is left.
    InterfacePathBlock* ballPath = slot->m_Ball.m_Path;
    slot->m_Ball.m_Path = nullptr;
    CloseInterface(&slot->m_Ball);
    slot->m_Ball.m_Path = ballPath;
    goto failed;
  }
  if (ReadDeviceIdentity(slot)) {
    WriteDeviceMapEntry(slot);
    SetDeviceFriendlyNames(slot);
    slot->m_RestZone = kDefaultRestZone;
    if (strlen(slot->m_Serial) == 16) ReadRestZoneSetting(slot);
    if (slot->m_Firmware >= 0x201) CheckDeviceRestZone(slot);
  }
  // The first reads drain what is there and leave one read pending; either
  // may find the device gone and release the slot.
  OnBallReportsRead(index);
  if (!SlotInUse(index)) return 0;
  OnScrollReportsRead(index);
  if (!SlotInUse(index)) return 0;
  slot = SlotAt(index);
  slot->m_State |= StateDeviceAttached | StateDeviceEnabled;
  CurrentSlot = static_cast<int16_t>(index);
  PublishDeviceState();
  return 1;

failed:
  DebugPrintMessage(IDS_ATTACH_ERROR);
  FreeBlock(&slot->m_Ball.m_Path);
  FreeBlock(&slot->m_Scroll.m_Path);
  if (slot->m_Ball.m_Overlapped.hEvent) CloseHandleChecked(slot->m_Ball.m_Overlapped.hEvent);
  if (slot->m_Scroll.m_Overlapped.hEvent) CloseHandleChecked(slot->m_Scroll.m_Overlapped.hEvent);
  PoolRelease(&DeviceTable, index);
  return 0;
}

void RemoveDevice(DeviceSlot* slot) {
  uint16_t index = PoolIndexOf(&DeviceTable, slot);
  DeleteDeviceMapEntry(slot);
  slot->m_State &= static_cast<uint16_t>(~(StateDeviceAttached | StateDeviceEnabled));
  if (slot->m_State & StateBallActive) {
    slot->m_State &= static_cast<uint16_t>(~StateBallActive);
    slot->m_State |= StateBallChanged;
  }
  if (slot->m_State & StateScrollActive) {
    slot->m_State &= static_cast<uint16_t>(~StateScrollActive);
    slot->m_State |= StateScrollChanged;
  }
  PublishDeviceState();
  if (DeviceMotionRecord* record = MotionRecordForSlot(index)) {
    for (BallBuffer& buffer : record->m_Ball) memset(buffer.m_Values, 0, sizeof buffer.m_Values);
    for (ScrollBuffer& buffer : record->m_Scroll)
      memset(buffer.m_Values, 0, sizeof buffer.m_Values);
  }
  bool wasCurrent = CurrentSlot == static_cast<int16_t>(index);
  if (wasCurrent) PublishDeviceState();
  CloseInterface(&slot->m_Ball);
  CloseInterface(&slot->m_Scroll);
  PoolRelease(&DeviceTable, index);
  if (wasCurrent) {
    void* first = PoolFirst(&DeviceTable);
    CurrentSlot = first ? static_cast<int16_t>(PoolIndexOf(&DeviceTable, first)) : -1;
  }
}

void CloseAllDevices() {
  HidStopArrivalNotices();
  __atomic_store_n(&ArrivalsClosed, 1, __ATOMIC_SEQ_CST);
  while (__atomic_load_n(&ArrivalsAtWork, __ATOMIC_SEQ_CST)) Sleep(0);  // one finishing its append
  // RemoveDevice may start a walk of its own (a new current slot), so each
  // round takes the first used slot afresh.
  while (void* slot = PoolFirst(&DeviceTable)) RemoveDevice(static_cast<DeviceSlot*>(slot));
  PoolFree(&DeviceTable);
  FreeBlock(&PendingBallInterface);
  // Later notices leave the queue alone: what is still queued is dropped.
  ArrivalNode* node = ArrivalHead;
  while (node) {
    ArrivalNode* next = node->m_Next == node ? nullptr : node->m_Next;
    if (node != ArrivalHead) FreeBlock(&node->m_Block);
    free(node);
    node = next;
  }
  ArrivalHead = ArrivalTail = nullptr;
  CurrentSlot = -1;
}

void AddDeviceWaitItems() {
  for (void* record = PoolFirst(&DeviceTable); record; record = PoolNext(&DeviceTable)) {
    auto* slot = static_cast<DeviceSlot*>(record);
    uint16_t index = PoolIndexOf(&DeviceTable, slot);
    if (slot->m_Ball.m_Overlapped.hEvent)
      AddWaitItem(slot->m_Ball.m_Overlapped.hEvent, OnBallReportsRead, index);
    if (slot->m_Scroll.m_Overlapped.hEvent)
      AddWaitItem(slot->m_Scroll.m_Overlapped.hEvent, OnScrollReportsRead, index);
  }
}

// ---- enumeration at start: pairing by serial number ----

void EnumerateDevices() {
  SlotPool entries;
  PoolInit(&entries, sizeof(PairingEntry));
  HDEVINFO set = HidGetClassDevs(&HidInterfaceGuid, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    // No list, no devices: hot plug may still bring some.
    ReportNamedCallFailure("SetupDiGetClassDevsA", GetLastError());
    PoolFree(&entries);
    return;
  }
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = nullptr;
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  for (DWORD member = 0; HidEnumDeviceInterfaces(set, &HidInterfaceGuid, member, &data);
       ++member) {
    DWORD required = 0;
    // Fails with ERROR_INSUFFICIENT_BUFFER by design: it only gives the size.
    HidGetDeviceInterfaceDetail(set, &data, nullptr, 0, &required);
    FreeAndClear(&detail);
    if (required < sizeof(DWORD) + 1) continue;
    detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(CallocChecked(1, required));
    if (!detail) break;
    detail->cbSize = kInterfaceBlockSize;
    if (!HidGetDeviceInterfaceDetail(set, &data, detail, required, nullptr)) continue;
    if (!IsKestrinInterface(detail->DevicePath)) continue;
    wchar_t serial[kSerialFieldChars] = {};
    if (!ReadInterfaceSerial(detail->DevicePath, serial)) continue;

    auto* block = reinterpret_cast<InterfacePathBlock*>(detail);
    bool isBall = InterfaceKind(block) == '0';
    PairingEntry* entry = nullptr;
    for (void* r = PoolFirst(&entries); r; r = PoolNext(&entries)) {
      if (wcscmp(static_cast<PairingEntry*>(r)->m_Serial, serial) == 0) {
        entry = static_cast<PairingEntry*>(r);
        break;
      }
    }
    if (!entry) {
      entry = static_cast<PairingEntry*>(PoolAlloc(&entries));
      if (!entry) break;
      memset(entry, 0, sizeof *entry);
      memcpy(entry->m_Serial, serial, sizeof serial);
    }
    InterfacePathBlock** place = isBall ? &entry->m_Ball : &entry->m_Scroll;
    FreeBlock(place);
    *place = block;
    detail = nullptr;  // the entry owns it now
  }
  for (void* r = PoolFirst(&entries); r; r = PoolNext(&entries)) {
    auto* entry = static_cast<PairingEntry*>(r);
    if (entry->m_Ball && entry->m_Scroll) {
      if (DeviceSlot* slot = PairInterfaces(0, &entry->m_Scroll, &entry->m_Ball))
        OpenDevice(slot);
    }
    FreeBlock(&entry->m_Ball);
    FreeBlock(&entry->m_Scroll);
  }
  FreeAndClear(&detail);
  if (!HidDestroyDeviceInfoList(set)) {
    // Nothing is left to do with the list either way.
  }
  PoolFree(&entries);
}

// ---- hot plug: pairing by order of arrival ----

namespace {

// Appends an arrival for the service thread (control-dispatcher thread).
void QueueArrival(const char* name) {
  if (!__atomic_load_n(&ArrivalTail, __ATOMIC_ACQUIRE)) {
    auto* start = static_cast<ArrivalNode*>(MallocChecked(sizeof(ArrivalNode)));
    if (!start) return;
    start->m_Next = start;
    start->m_Block = nullptr;
    __atomic_store_n(&ArrivalHead, start, __ATOMIC_RELEASE);
    __atomic_store_n(&ArrivalTail, start, __ATOMIC_RELEASE);
  }
  auto* node = static_cast<ArrivalNode*>(MallocChecked(sizeof(ArrivalNode)));
  if (!node) return;
  node->m_Block = NewInterfacePathBlock(name);
  if (!node->m_Block) {
    free(node);
    return;
  }
  node->m_Next = node;
  // The node is whole before it is linked, and linked before the tail moves:
  // the service thread reads the tail first and then follows next pointers.
  ArrivalNode* tail = ArrivalTail;  // written by this thread only
  __atomic_store_n(&tail->m_Next, node, __ATOMIC_RELEASE);
  __atomic_store_n(&ArrivalTail, node, __ATOMIC_RELEASE);
  if (WakeEvent) SetEvent(WakeEvent);  // a lost wake only delays the arrival to the next one
}

}  // namespace

void OnDeviceArrival(DWORD eventType, void* eventData) {
  if (!eventData) return;
  auto* header = static_cast<const DEV_BROADCAST_HDR*>(eventData);
  if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
  const char* name = static_cast<const char*>(eventData) + 28;  // behind the 28-byte header
  char narrow[kArrivalNameBytes];
  if (name[1] == 0) {
    // UTF-16 name: the low byte of each character, up to its terminator.
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(name);
    size_t i = 0;
    for (;; ++i) {
      if (i >= kArrivalNameBytes) return;  // 1024 characters or more: ignored
      narrow[i] = static_cast<char>(wide[i] & 0xFF);
      if (!wide[i]) break;
    }
    name = narrow;
  }
  if (eventType != DBT_DEVICEARRIVAL || !IsKestrinInterface(name)) return;

  __atomic_add_fetch(&ArrivalsAtWork, 1, __ATOMIC_SEQ_CST);
  if (!__atomic_load_n(&ArrivalsClosed, __ATOMIC_SEQ_CST)) QueueArrival(name);
  __atomic_sub_fetch(&ArrivalsAtWork, 1, __ATOMIC_SEQ_CST);
}

void ProcessArrivalQueue() {
  ArrivalNode* head = __atomic_load_n(&ArrivalHead, __ATOMIC_ACQUIRE);
  if (!head) return;
  while (head != __atomic_load_n(&ArrivalTail, __ATOMIC_ACQUIRE)) {
    ArrivalNode* taken = __atomic_load_n(&head->m_Next, __ATOMIC_ACQUIRE);
    free(head);
    head = taken;
    __atomic_store_n(&ArrivalHead, head, __ATOMIC_RELEASE);
    InterfacePathBlock* block = taken->m_Block;
    taken->m_Block = nullptr;
    if (DeviceSlot* slot = PairInterfaces(1, &block, &PendingBallInterface)) OpenDevice(slot);
    if (__atomic_load_n(&taken->m_Next, __ATOMIC_ACQUIRE) == taken) break;
  }
}
