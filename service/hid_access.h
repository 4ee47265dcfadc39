// The service's one way to its HID devices. Every call that enumerates device
// interfaces, opens one, asks it for its identity, exchanges feature reports
// with it or reads its input reports goes through these functions.
//
// A test seam (see service_private.h). Two builds fill them in:
// hid_system.cpp (KestrinSvc.exe) hands each one to SetupAPI, hid.dll and the
// file system unchanged; simulated/hid_simulated.cpp (KestrinSvcSim.exe)
// reaches the device simulator over overlapped named pipes. Each function has the signature, the result and the last-error
// behaviour of the system call it stands for, so the code above this seam is
// the same in both builds.
#pragma once
#include <windows.h>
#include <setupapi.h>
// MinGW's hidsdi.h declares hid.dll's C functions without a C linkage block.
extern "C" {
#include <hidsdi.h>
}

// HidD_GetHidGuid.
void HidGetHidGuid(GUID* guid);

// SetupDiGetClassDevsA(guid, no enumerator, no window, flags): the present
// device interfaces of the class, or INVALID_HANDLE_VALUE.
HDEVINFO HidGetClassDevs(const GUID* guid, DWORD flags);
// SetupDiEnumDeviceInterfaces(set, no device, guid, index, data).
BOOL HidEnumDeviceInterfaces(HDEVINFO set, const GUID* guid, DWORD index,
                             SP_DEVICE_INTERFACE_DATA* data);
// SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, required, no device data).
BOOL HidGetDeviceInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                 SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                 DWORD* required);
// SetupDiDestroyDeviceInfoList.
BOOL HidDestroyDeviceInfoList(HDEVINFO set);

// CreateFileA of an interface path (no template file).
HANDLE HidCreateFile(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags);
// CloseHandle of a handle from HidCreateFile.
BOOL HidCloseFile(HANDLE handle);

// HidD_GetAttributes, HidD_GetSerialNumberString, HidD_SetFeature and
// HidD_GetFeature on a handle from HidCreateFile.
BOOLEAN HidGetAttributes(HANDLE handle, HIDD_ATTRIBUTES* attributes);
BOOLEAN HidGetSerialNumberString(HANDLE handle, void* buffer, ULONG bufferBytes);
BOOLEAN HidSetFeature(HANDLE handle, void* report, ULONG reportBytes);
BOOLEAN HidGetFeature(HANDLE handle, void* report, ULONG reportBytes);

// ReadFile and GetOverlappedResult of an input report read on a handle from
// HidCreateFile opened with FILE_FLAG_OVERLAPPED.
BOOL HidReadFile(HANDLE handle, void* buffer, DWORD bytes, DWORD* bytesRead,
                 OVERLAPPED* overlapped);
BOOL HidGetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* bytes, BOOL wait);

// Arrival notices of device interfaces that do not come through the service
// control handler: the simulated build starts a thread that calls
// OnDeviceArrival as the control handler would. The system build's notices
// come through the control handler, so these do nothing there.
void HidStartArrivalNotices();
void HidStopArrivalNotices();
