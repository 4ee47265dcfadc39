// The service control manager calls of install and uninstall, reached through
// one table (a test seam, see service_private.h) so that a test can stand in
// for the system's manager (under Wine, LockServiceDatabase never fails and a
// service marked for deletion still takes a new description, so those paths
// cannot be reached for real).
#pragma once
#include <windows.h>

struct ScmCallTable {
  SC_HANDLE(WINAPI* openManager)(LPCSTR machine, LPCSTR database, DWORD access);
  SC_HANDLE(WINAPI* openService)(SC_HANDLE manager, LPCSTR name, DWORD access);
  SC_HANDLE(WINAPI* createService)(SC_HANDLE manager, LPCSTR name, LPCSTR displayName,
                                   DWORD access, DWORD type, DWORD start, DWORD errorControl,
                                   LPCSTR path, LPCSTR group, LPDWORD tag, LPCSTR dependencies,
                                   LPCSTR account, LPCSTR password);
  SC_LOCK(WINAPI* lockDatabase)(SC_HANDLE manager);
  BOOL(WINAPI* unlockDatabase)(SC_LOCK lock);
  BOOL(WINAPI* changeConfig2)(SC_HANDLE service, DWORD level, LPVOID info);
  BOOL(WINAPI* startService)(SC_HANDLE service, DWORD argc, LPCSTR* argv);
  BOOL(WINAPI* controlService)(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
  BOOL(WINAPI* deleteService)(SC_HANDLE service);
  BOOL(WINAPI* closeHandle)(SC_HANDLE handle);
  int(WINAPI* messageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
};

// The system's calls.
extern const ScmCallTable SystemScmCalls;
// The table install and uninstall use; SystemScmCalls unless a test swaps it.
extern const ScmCallTable* ScmCalls;
