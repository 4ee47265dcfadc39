// CKestrin's connection: the connect sequence, the reconnect on every
// ManagerStarted, the client window and its procedure, the idle hook, the
// requests posted to the agent, and the objects' lifetimes.
//
// One connection per process. It is made by the first CKestrin and kept
// while any CKestrin lives; the last one to go closes it (hook, section
// handle, client window) and says goodbye to the agent, and a CKestrin built
// after that connects again, so a client that closes and reopens its only
// object keeps hearing events and reading motion, the device's current state
// at once. The window and the hook belong to the thread that connected: when
// that thread has ended (and the system took both with it) while objects of
// other threads kept the connection, the next CKestrin connects again on its
// own thread. One lock guards the connect and close decisions, the list of
// live states and the notices' hold on a state; motion reads take no lock.
//
// A view stays mapped until the process ends: a read on another thread, or a
// client that took the view's address from the exported globals, may be using
// it at any time. While the connection holds a handle to the section, the
// section keeps its name and a service that starts again opens the same one
// and publishes into it, so one view serves every reconnect. The last
// object's close gives up that handle, and with it (once the service is
// gone too) the name: a service started after that makes a new section. So
// the first open after a close maps a new view and points the globals at it,
// and the earlier view stays as it was.
#include "connection_private.h"

#include <stddef.h>

#include <new>

#include "allow_message.h"
#include "manager_messages.h"

namespace Kestrin1 {

namespace {

long KESTRIN1_CALLBACK NullCallback(unsigned int, long) { return 0; }

KestrinCallback LoadCallback() {
  return __atomic_load_n(&AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback, __ATOMIC_ACQUIRE);
}

// The callback word is exported and writable: a null one calls nothing.
void CallBack(unsigned int event, long param) {
  if (KestrinCallback callback = LoadCallback()) callback(event, param);
}

// ---- the lock, the live states and the notices' hold on them ----

// Recursive: the connect sequence, run under it, maps the view and primes
// the live states under it again.
CRITICAL_SECTION& LockSection() {
  struct Section {
    CRITICAL_SECTION m_Section;
    Section() { InitializeCriticalSection(&m_Section); }
  };
  static Section section;  // never deleted: a late message may still take it
  return section.m_Section;
}

class ConnectionLock {
 public:
  ConnectionLock() { EnterCriticalSection(&LockSection()); }
  ~ConnectionLock() { LeaveCriticalSection(&LockSection()); }
  ConnectionLock(const ConnectionLock&) = delete;
  ConnectionLock& operator=(const ConnectionLock&) = delete;
};

// One CKestrin's state with the connection's bookkeeping of it. A state
// whose object is destroyed while the window procedure applies a notice to
// it (on the connection's thread, with the object destroyed on another) is
// retired and freed by the procedure when the notice is done.
struct StateEntry {
  ConnectionState m_State;  // first: CKestrin::m_pConnection points here
  StateEntry* m_Next;       // the live list
  int m_Uses;               // notices being applied to it
  bool m_Retired;           // its object is gone
};
static_assert(offsetof(StateEntry, m_State) == 0, "a state is its entry");

StateEntry* g_LiveStates = nullptr;  // under the lock

StateEntry* EntryOf(ConnectionState* state) { return reinterpret_cast<StateEntry*>(state); }

void FreeEntry(StateEntry* entry) {
  if (g_FreeStateMemory)
    g_FreeStateMemory(entry, sizeof *entry);
  else
    ::operator delete(entry);
}

void Unlink(StateEntry* entry) {
  for (StateEntry** link = &g_LiveStates; *link; link = &(*link)->m_Next) {
    if (*link == entry) {
      *link = entry->m_Next;
      return;
    }
  }
}

ConnectionState* CurrentState() {
  return __atomic_load_n(&g_Connection.m_CurrentState, __ATOMIC_ACQUIRE);
}

// The newest object's state, held for one notice; null when there is none.
StateEntry* HoldCurrentState() {
  ConnectionLock hold;
  ConnectionState* state = CurrentState();
  if (!state) return nullptr;
  StateEntry* entry = EntryOf(state);
  ++entry->m_Uses;
  return entry;
}

void ReleaseState(StateEntry* entry) {
  bool free;
  {
    ConnectionLock hold;
    free = --entry->m_Uses == 0 && entry->m_Retired;
  }
  if (free) FreeEntry(entry);
}

// A notice's event; false when the callback destroyed the object whose state
// the notice was updating (or built a newer one).
bool NoticeEvent(const ConnectionState* state, unsigned int event, long param) {
  CallBack(event, param);
  return CurrentState() == state;
}

HWND ManagerWindow() {
  return static_cast<HWND>(__atomic_load_n(&g_Connection.m_ManagerWindow, __ATOMIC_ACQUIRE));
}

void PostToManager(uint32_t wParam) {
  PostMessageA(ManagerWindow(), g_Connection.m_MessageId, wParam,
               reinterpret_cast<LPARAM>(g_Connection.m_ClientWindow));
}

// The section handle of this open replaces the earlier one, which is closed.
// A view is mapped when there is none yet, or when the connection let go of
// every handle to the section of the one it has (see above); every live
// state is primed from the new view before a read can see it.
void OpenSection() {
  ConnectionLock hold;
  ProcessConnection& c = g_Connection;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName);
  if (!mapping) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) ReportError("OpenFileMapping() failed: <%ld> %s\n", error);
    return;
  }
  HANDLE earlier = __atomic_exchange_n(&c.m_Mapping, mapping, __ATOMIC_ACQ_REL);
  if (earlier) CloseHandle(earlier);
  if (__atomic_load_n(&c.m_View, __ATOMIC_ACQUIRE) && !c.m_ViewOrphaned) return;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, SectionBytesForPageSize(info.dwPageSize));
  if (!view) {
    ReportError("MapViewOfFile() failed: <%ld> %s\n", GetLastError());
    return;
  }
  const DeviceMotionRecord* record = static_cast<const DeviceMotionRecord*>(view) + 1;
  for (StateEntry* entry = g_LiveStates; entry; entry = entry->m_Next)
    PrimeReadState(&entry->m_State, record);
  __atomic_store_n(&c.m_View, view, __ATOMIC_RELEASE);
  c.m_ViewOrphaned = false;
}

// The thread that made the connection has ended while objects of other
// threads kept it: the system destroyed that thread's client window and
// removed its hook with it, so no notice would reach the objects any more.
// Under the lock.
bool ConnectionThreadEnded() {
  HWND window = __atomic_load_n(&g_Connection.m_ClientWindow, __ATOMIC_ACQUIRE);
  return window && !IsWindow(window);
}

// Tells the agent the client window is going (or gone): it drops the client
// and hands its focus on, so that the process's next window hears the
// device's state at once.
void SayGoodbye() {
  if (g_Connection.m_ClientWindow && ManagerWindow())
    PostToManager(kestrin::manager::RequestWParam(kestrin::manager::ClientGoodbye));
}

// Forgets the window and the hook that went with their thread (nothing is
// left to release) and says goodbye for the window. Under the lock.
void ForgetEndedThread() {
  SayGoodbye();
  __atomic_store_n(&g_Connection.m_ClientWindow, static_cast<HWND>(nullptr), __ATOMIC_RELEASE);
  __atomic_store_n(&g_Connection.m_IdleHook, static_cast<HHOOK>(nullptr), __ATOMIC_RELEASE);
}

bool IsOurProcedure(HWND window) {
  return GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(ClientWindowProc);
}

}  // namespace

ProcessConnection g_Connection = {};
void (*g_FreeStateMemory)(void* block, size_t bytes) = nullptr;
TicClock g_TicClock = SystemTic;

uint16_t SystemTic() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<uint16_t>(now.dwLowDateTime >> 11);
}

int NoticesHolding(const ConnectionState* state) {
  ConnectionLock hold;
  return reinterpret_cast<const StateEntry*>(state)->m_Uses;
}

const DeviceMotionRecord* MotionRecord() {
  const void* view = __atomic_load_n(&g_Connection.m_View, __ATOMIC_ACQUIRE);
  return view ? static_cast<const DeviceMotionRecord*>(view) + 1 : nullptr;
}

void Connect() {
  using namespace kestrin::manager;
  ProcessConnection& c = g_Connection;
  if (!c.m_Module) c.m_Module = GetModuleHandleA(nullptr);
  c.m_MessageId = RegisterWindowMessageA(kMessageName);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ClientWindowProc;
  windowClass.hInstance = c.m_Module;
  windowClass.lpszClassName = kClientClass;
  RegisterClassA(&windowClass);  // fails harmlessly when a connect before registered it
  HWND window = CreateWindowExA(0, kClientClass, kClientTitle, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, c.m_Module, nullptr);
  if (window && !IsOurProcedure(window)) {
    // The class outlived an earlier load of this library (a window of it
    // still waited for its thread then): this load's procedure takes over.
    SetClassLongPtrA(window, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClientWindowProc));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClientWindowProc));
  }
  __atomic_store_n(&c.m_ClientWindow, window, __ATOMIC_RELEASE);
  AllowMessage(c.m_ClientWindow, c.m_MessageId);
  Reconnect();
  if (!c.m_IdleHook)
    c.m_IdleHook = SetWindowsHookExA(WH_FOREGROUNDIDLE, ForegroundIdleProc, nullptr,
                                     GetCurrentThreadId());
}

void Reconnect() {
  using namespace kestrin::manager;
  // A message-only window is found only among the children of HWND_MESSAGE:
  // FindWindowA never sees it on Windows (it does under Wine).
  HWND manager = FindWindowExA(HWND_MESSAGE, nullptr, kManagerClass, kManagerTitle);
  __atomic_store_n(&g_Connection.m_ManagerWindow, static_cast<void*>(manager), __ATOMIC_RELEASE);
  if (!manager) {
    StartAgent();  // its ManagerStarted brings us back here
    return;
  }
  PostToManager(RequestWParam(ClientHello));
  OpenSection();
}

void CloseConnection() {
  ProcessConnection& c = g_Connection;
  if (HHOOK hook = __atomic_exchange_n(&c.m_IdleHook, static_cast<HHOOK>(nullptr), __ATOMIC_ACQ_REL))
    UnhookWindowsHookEx(hook);
  if (HANDLE mapping = __atomic_exchange_n(&c.m_Mapping, static_cast<HANDLE>(nullptr), __ATOMIC_ACQ_REL)) {
    CloseHandle(mapping);
    c.m_ViewOrphaned = true;  // the view alone no longer holds its section's name
  }
  SayGoodbye();
  if (HWND window = __atomic_exchange_n(&c.m_ClientWindow, static_cast<HWND>(nullptr), __ATOMIC_ACQ_REL)) {
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
      DestroyWindow(window);
      // The class names this module's window procedure: a module unloaded
      // and loaded again at another address must not find it registered.
      UnregisterClassA(kestrin::manager::kClientClass, c.m_Module);
    } else {
      // Only the thread that made a window can destroy it: that thread does
      // when it next pumps its messages.
      PostMessageA(window, WM_CLOSE, 0, 0);
    }
  }
  c.m_Connected = false;
}

void ReleaseAtUnload() {
  ProcessConnection& c = g_Connection;
  ConnectionLock hold;
  if (HHOOK hook = __atomic_exchange_n(&c.m_IdleHook, static_cast<HHOOK>(nullptr), __ATOMIC_ACQ_REL))
    UnhookWindowsHookEx(hook);
  __atomic_store_n(&c.m_ClientWindow, static_cast<HWND>(nullptr), __ATOMIC_RELEASE);
  c.m_Connected = false;
  // Every client window of this process that runs this module's procedure:
  // the connection's own, and those whose close was posted to a thread that
  // has not pumped it yet.
  HWND windows[64];
  int count = 0;
  HWND window = nullptr;
  while (count < 64 &&
         (window = FindWindowExA(HWND_MESSAGE, window, kestrin::manager::kClientClass,
                                 kestrin::manager::kClientTitle))) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsOurProcedure(window)) windows[count++] = window;
  }
  HWND left = nullptr;
  for (int i = 0; i < count; ++i) {
    if (GetWindowThreadProcessId(windows[i], nullptr) == GetCurrentThreadId()) {
      DestroyWindow(windows[i]);
    } else {
      // Another thread's window: it closes when that thread pumps, with the
      // system's procedure, since this one is about to be unmapped.
      SetWindowLongPtrA(windows[i], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
      PostMessageA(windows[i], WM_CLOSE, 0, 0);
      left = windows[i];
    }
  }
  // The class names this module's procedure: unregistered when no window of
  // it is left, else pointed at the system's procedure.
  if (!UnregisterClassA(kestrin::manager::kClientClass, c.m_Module) && left)
    SetClassLongPtrA(left, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
}

LRESULT CALLBACK ClientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace kestrin::manager;
  const unsigned int id = g_Connection.m_MessageId;
  if (id && IsMessage(message, id)) {
    // A window whose close is under way (another thread let the connection
    // go, or made a new one) no longer speaks for it.
    if (window != __atomic_load_n(&g_Connection.m_ClientWindow, __ATOMIC_ACQUIRE)) return 0;
    switch (NoticeCode(static_cast<uint32_t>(wParam))) {
      case ManagerStarted:
        Reconnect();
        break;
      case DeviceStateNotice:
        if (StateEntry* entry = HoldCurrentState()) {
          ApplyDeviceStateNotice(&entry->m_State, NoticeLowWord(static_cast<uint32_t>(wParam)),
                                 static_cast<uint32_t>(lParam), NoticeEvent);
          ReleaseState(entry);
        }
        break;
      default:  // ClientRegistered and anything else: nothing to do
        break;
    }
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      if (wParam == 0) CallBack(EventWakeup, static_cast<long>(lParam));  // the idle wakeup
      return 0;
    case WM_CREATE:
    case WM_DESTROY:
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK ForegroundIdleProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && __atomic_exchange_n(&g_Connection.m_WakeupRequested, 0, __ATOMIC_ACQ_REL))
    PostMessageA(g_Connection.m_ClientWindow, WM_COMMAND, 0, 0);
  return CallNextHookEx(g_Connection.m_IdleHook, code, wParam, lParam);
}

// ---- CKestrin ----

CKestrin::CKestrin(unsigned short, EAccessMode) : m_Motion(), m_Scroll(), m_pConnection(nullptr) {
  StateEntry* entry = static_cast<StateEntry*>(::operator new(sizeof(StateEntry), std::nothrow));
  if (!entry) return;
  ResetConnectionState(&entry->m_State);
  entry->m_Uses = 0;
  entry->m_Retired = false;
  {
    // Never joins a connection that another thread is closing: the close
    // runs under the same lock.
    ConnectionLock hold;
    if (!g_Connection.m_Connected) {
      Connect();
      g_Connection.m_Connected = true;
    } else if (ConnectionThreadEnded()) {
      ForgetEndedThread();
      Connect();  // on this thread; the section handle and the view stay
    }
    ++g_Connection.m_Objects;
    PrimeReadState(&entry->m_State, MotionRecord());
    entry->m_Next = g_LiveStates;
    g_LiveStates = entry;
    __atomic_store_n(&g_Connection.m_CurrentState, &entry->m_State, __ATOMIC_RELEASE);
  }
  m_pConnection = &entry->m_State;
}

CKestrin::~CKestrin() {
  ConnectionState* state = m_pConnection;
  if (!state) return;
  StateEntry* entry = EntryOf(state);
  bool free;
  {
    ConnectionLock hold;
    // Notices stop reaching this state; an older object that is not the
    // newest one leaves the newest one's notices alone.
    ConnectionState* expected = state;
    __atomic_compare_exchange_n(&g_Connection.m_CurrentState, &expected, nullptr, false,
                                __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    Unlink(entry);
    entry->m_Retired = true;
    free = entry->m_Uses == 0;
    if (--g_Connection.m_Objects == 0) CloseConnection();
  }
  m_pConnection = nullptr;
  if (free) FreeEntry(entry);
}

CKestrin& CKestrin::operator=(const CKestrin& other) {
  m_Motion = other.m_Motion;
  m_Scroll = other.m_Scroll;
  m_pConnection = other.m_pConnection;
  return *this;
}

int CKestrin::Register(KestrinCallback callback, unsigned long processId) {
  using namespace kestrin::manager;
  // A null callback is no callback: the do-nothing one is kept instead.
  KestrinCallback stored = callback ? callback : NullCallback;
  __atomic_store_n(&AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback, stored, __ATOMIC_RELEASE);
  if (processId != GetCurrentProcessId()) {
    PostToManager(RequestWParam(ClientProcessHigh, static_cast<uint16_t>(processId >> 16)));
    PostToManager(RequestWParam(ClientProcessLow, static_cast<uint16_t>(processId)));
  }
  return 1;
}

int CKestrin::UnRegister(unsigned long) {
  KestrinCallback none = NullCallback;
  __atomic_store_n(&AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback, none, __ATOMIC_RELEASE);
  return 1;
}

void CKestrin::FocusChanged(int gained) {
  using namespace kestrin::manager;
  if (!ManagerWindow()) return;
  PostToManager(RequestWParam(gained ? ClientFocusGained : ClientFocusLost));
}

void CKestrin::RequestWakeup() {
  __atomic_store_n(&g_Connection.m_WakeupRequested, 1, __ATOMIC_RELEASE);
}

unsigned short CKestrin::GetKestrinCount() {
  __atomic_store_n(&g_Connection.m_NextIdPending, 1, __ATOMIC_RELEASE);
  return 1;
}

unsigned short CKestrin::GetNextKestrinId() {
  return __atomic_exchange_n(&g_Connection.m_NextIdPending, 0, __ATOMIC_ACQ_REL) ? 1 : 0;
}

unsigned short CKestrin::GetKestrinId() { return 1; }
CKestrin::EAccessMode CKestrin::GetAccessMode() { return AccessModeDefault; }
CKestrin::EAccessMode CKestrin::SetAccessMode(EAccessMode) { return AccessModeDefault; }
unsigned int CKestrin::GetLastError(unsigned long*) { return 0; }

char* CKestrin::GetErrorText(unsigned int) {
  static char text[] = "CKestrin::GetErrorText() not implemented!";
  return text;
}

}  // namespace Kestrin1

Kestrin1::KestrinConnectionGlobals AJLSKDFHEIEMUWPMXURSKDFNB = {
    &Kestrin1::g_Connection.m_View, &Kestrin1::g_Connection.m_ManagerWindow,
    &Kestrin1::g_Connection.m_MessageId, Kestrin1::NullCallback};
