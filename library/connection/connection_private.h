// The process's connection inside Kestrin1: one client window, one idle hook,
// one registered message, one section handle and one view, shared by every
// CKestrin of the process. Prototypes of the library's own files; the tests
// link the same objects and look at these globals.
#pragma once
#include <windows.h>

#include <string>

#include "connection_state.h"

namespace Kestrin1 {

struct ProcessConnection {
  HWND m_ClientWindow;    // "KestrinClient1", message-only; null when none
  HHOOK m_IdleHook;       // WH_FOREGROUNDIDLE of the client window's thread
  void* m_ManagerWindow;  // "KestrinManager" (an HWND) as last looked up
  unsigned int m_MessageId;  // "KestrinMessage"
  HANDLE m_Mapping;       // section handle from the last successful open
  void* m_View;           // read-only view of record 1's section; views are never unmapped
  LONG m_WakeupRequested;
  LONG m_NextIdPending;
  ConnectionState* m_CurrentState;  // the newest CKestrin's: notices update it
  bool m_Connected;       // the connect sequence has run and nothing closed it (under the lock)
  LONG m_Objects;         // live CKestrin objects; the last one closes (under the lock)
  HINSTANCE m_Module;
  bool m_ViewOrphaned;    // every handle to the view's section was closed (under the lock)
  DWORD m_ConnectionThread;  // the client window's thread; 0 when there is no window (under the lock)
  DWORD m_AssociatedProcess;  // the other process Register named last; 0 when none
};

extern ProcessConnection g_Connection;

// How the memory of a state is given back; null: operator delete. A test
// keeps the blocks here to see writes into states that are gone.
extern void (*g_FreeStateMemory)(void* block, size_t bytes);

// The notices being applied to a state now: the window procedure holds the
// newest object's state for each one, and a state is freed only when none
// holds it.
int NoticesHolding(const ConnectionState* state);

// The tic source of the motion reads (the system time; tests put a clock of
// their own here).
extern TicClock g_TicClock;
uint16_t SystemTic();

// Connect sequence, reconnect (on every ManagerStarted), and the close done
// when the last CKestrin goes; each handle, window and hook is released once.
void Connect();
void Reconnect();
void CloseConnection();
// A thread is ending: when it made a library window, the connection is
// handed on (without waiting: the loader lock is held).
void OnThreadDetach();
// The library is being unloaded while the process goes on: the hook goes,
// this thread's client windows are destroyed and other threads' are handed
// the system's window procedure (they close when their thread pumps), and
// the class goes with the last of them.
void ReleaseAtUnload();

LRESULT CALLBACK ClientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ForegroundIdleProc(int code, WPARAM wParam, LPARAM lParam);

// The installed agent's path, "<ProgramFiles>\Pellmor Vastine\Kestrin\KestrinElf.exe"
// ("C:\Program Files" when the variable cannot be read), LocalAlloc'ed; null
// (with a debug line) when the buffer cannot be had.
char* AgentProgramPath();
// Starts the agent with an empty command line and does not wait for it.
void StartAgent();

// Section record 1 of the view, or null while nothing is mapped.
const DeviceMotionRecord* MotionRecord();

// One "[Kestrin1] " debug line: format takes the error number (%ld) and the
// system text (%s).
void ReportError(const char* format, DWORD error);
// The system text of an error, without its trailing line break; kept until
// the next request (or FreeSystemText at unload).
const char* SystemText(DWORD error);
void FreeSystemText();

// Library load: the module and the display's refresh period.
void OnLibraryAttach(HINSTANCE module);
// unloading: FreeLibrary, not the end of the process.
void OnLibraryDetach(bool unloading);
float RefreshPeriodForRate(int refreshRate);

}  // namespace Kestrin1
