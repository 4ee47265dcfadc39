// The shared motion section (motion_section.h): created and mapped once at
// service start, written only by the service thread, closed at shutdown.
// Readers in every session map it read-only.
#include <windows.h>

#include "reporting.h"
#include "resource.h"
#include "section.h"
#include "service_private.h"

namespace {


// Everyone, authenticated users, anonymous logons and built-in guests may read.
// The service's own account has all access by its own SID: LocalSystem, and
// the administrators (under Wine the service runs as the one user, who is an
// administrator). The creator-owner entry alone grants nothing on a section
// created directly (it only stands in for inheritance): a service started
// again while clients still hold the section would be refused its own
// section by name and publish nowhere. An ordinary user's program holds the
// administrators only for denying and reads.
// Systems that reject the anonymous-logon entry get the same text without it.
const char kSectionSddl[] =
    "D:(A;;GRGX;;;WD)(A;;GRGX;;;AU)(A;;GRGX;;;AN)(A;;GRGX;;;BG)(A;;GA;;;CO)(A;;GA;;;SY)"
    "(A;;GA;;;BA)";
const char kSectionSddlNoAnonymous[] =
    "D:(A;;GRGX;;;WD)(A;;GRGX;;;AU)(A;;GRGX;;;BG)(A;;GA;;;CO)(A;;GA;;;SY)(A;;GA;;;BA)";

SECURITY_ATTRIBUTES g_Security;
PSECURITY_DESCRIPTOR g_Descriptor;  // LocalAlloc block of the SDDL conversion
HANDLE g_Section;                   // null when not created
uint8_t* g_View;                    // null when not mapped
uint32_t g_ViewBytes;
uint32_t g_LastRefusedSlot = 0xFFFFFFFF;  // one debug line per refused slot, not per batch

}  // namespace

void BuildSharedMemorySecurity() {
  if (g_Descriptor) return;  // built already
  g_Security.nLength = sizeof g_Security;
  g_Security.bInheritHandle = FALSE;
  g_Security.lpSecurityDescriptor = nullptr;
  if (SddlToSecurityDescriptor(kSectionSddl, kSectionSddlNoAnonymous, &g_Descriptor))
    g_Security.lpSecurityDescriptor = g_Descriptor;
  else
    g_Descriptor = nullptr;  // default security: the section is still created
}

void* MapSharedMemory() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  uint32_t bytes = SectionBytesForPageSize(info.dwPageSize);

  SECURITY_ATTRIBUTES* security = g_Descriptor ? &g_Security : nullptr;
  SetLastError(ERROR_SUCCESS);
  HANDLE section = CreateFileMappingChecked(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, 0,
                                            bytes, kSectionName);
  if (!section && GetLastError() == ERROR_ALREADY_EXISTS) {
    section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSectionName);
    if (!section) ReportNamedCallFailure("OpenFileMappingA", GetLastError());
  }
  if (!section) return nullptr;

  void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, bytes);
  if (!view) {
    ReportNamedCallFailure("MapViewOfFile", GetLastError());
    CloseHandleChecked(section);
    return nullptr;
  }
  g_Section = section;
  g_View = static_cast<uint8_t*>(view);
  g_ViewBytes = bytes;
  g_LastRefusedSlot = 0xFFFFFFFF;
  return view;
}

void* InitSharedMemory() {
  if (g_View) return g_View;  // one section per service run
  return MapSharedMemory();
}

void UnmapSharedMemory() {
  if (g_View && !UnmapViewOfFile(g_View)) ReportCallFailure(CallUnmapViewOfFile, GetLastError());
  g_View = nullptr;
  g_ViewBytes = 0;
  if (g_Section) CloseHandleChecked(g_Section);
  g_Section = nullptr;
  if (g_Descriptor) LocalFree(g_Descriptor);  // nothing to report: LocalFree of our own block
  g_Descriptor = nullptr;
  g_Security.lpSecurityDescriptor = nullptr;
}

uint32_t SharedSectionBytes() { return g_ViewBytes; }

DeviceMotionRecord* MotionRecordForSlot(uint16_t slotIndex) {
  if (!g_View) return nullptr;  // no section: nothing is published
  if (slotIndex >= SectionSlotCapacity(g_ViewBytes)) {
    if (g_LastRefusedSlot == slotIndex) return nullptr;
    g_LastRefusedSlot = slotIndex;
    DebugPrintMessage(IDS_SLOT_BEYOND_SECTION, static_cast<uint32_t>(slotIndex),
                      SectionSlotCapacity(g_ViewBytes));
    return nullptr;
  }
  return SectionRecord(static_cast<void*>(g_View), static_cast<uint32_t>(slotIndex) + 1);
}
