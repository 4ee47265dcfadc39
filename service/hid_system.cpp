// The HID access layer of KestrinSvc.exe: each function is the system call it
// stands for, unchanged.
#include "hid_access.h"

void HidGetHidGuid(GUID* guid) { HidD_GetHidGuid(guid); }

HDEVINFO HidGetClassDevs(const GUID* guid, DWORD flags) {
  return SetupDiGetClassDevsA(guid, nullptr, nullptr, flags);
}

BOOL HidEnumDeviceInterfaces(HDEVINFO set, const GUID* guid, DWORD index,
                             SP_DEVICE_INTERFACE_DATA* data) {
  return SetupDiEnumDeviceInterfaces(set, nullptr, guid, index, data);
}

BOOL HidGetDeviceInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                 SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                 DWORD* required) {
  return SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, required, nullptr);
}

BOOL HidDestroyDeviceInfoList(HDEVINFO set) { return SetupDiDestroyDeviceInfoList(set); }

HANDLE HidCreateFile(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags) {
  return CreateFileA(path, access, shareMode, security, creation, flags, nullptr);
}

BOOL HidCloseFile(HANDLE handle) { return CloseHandle(handle); }

BOOLEAN HidGetAttributes(HANDLE handle, HIDD_ATTRIBUTES* attributes) {
  return HidD_GetAttributes(handle, attributes);
}

BOOLEAN HidGetSerialNumberString(HANDLE handle, void* buffer, ULONG bufferBytes) {
  return HidD_GetSerialNumberString(handle, buffer, bufferBytes);
}

BOOLEAN HidSetFeature(HANDLE handle, void* report, ULONG reportBytes) {
  return HidD_SetFeature(handle, report, reportBytes);
}

BOOLEAN HidGetFeature(HANDLE handle, void* report, ULONG reportBytes) {
  return HidD_GetFeature(handle, report, reportBytes);
}

BOOL HidReadFile(HANDLE handle, void* buffer, DWORD bytes, DWORD* bytesRead,
                 OVERLAPPED* overlapped) {
  return ReadFile(handle, buffer, bytes, bytesRead, overlapped);
}

BOOL HidGetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* bytes, BOOL wait) {
  return GetOverlappedResult(handle, overlapped, bytes, wait);
}

void HidStartArrivalNotices() {}
void HidStopArrivalNotices() {}
