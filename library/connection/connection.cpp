// CKestrin's connection: the connect sequence, the reconnect on every
// ManagerStarted, the client window and its procedure, the idle hook, the
// requests posted to the agent, and the objects' lifetimes.
//
// One connection per process. It is made by the first CKestrin and kept
// while any CKestrin lives; the last one to go closes it (hook, section
// handle, client window) and says goodbye to the agent, and a CKestrin built
// after that connects again, so a client that closes and reopens its only
// object keeps hearing events and reading motion, the device's current state
// at once.
//
// The client window and the idle hook belong to the thread that connected,
// and the system takes both with that thread. So every other thread that
// builds a CKestrin gets a window of the same class too, a stand-by that
// stays silent (only the client window speaks for the connection) until the
// connection is handed to it: when the client window's thread ends, or the
// window is destroyed under a live connection, the window of the thread that
// built the newest live object says hello in its place (after a goodbye for
// the lost one), and that thread sets its own idle hook when it next pumps.
// Device events then come on that thread. A thread's end is seen in its
// detach from the library, under the loader lock: nothing there waits for
// another thread. The loss is noted in a list taken without a lock, and
// worked off by the detaching thread when the connection's lock is free, or
// else by the thread that holds the lock, as it lets go.
//
// One lock guards the connect and close decisions, the hand-overs, the
// threads' windows, the list of live states and the notices' hold on a
// state; motion reads take no lock.
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
#include <vector>

#include "allow_message.h"
#include "manager_messages.h"
#include "message_windows.h"

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

// How deep the lock's owner holds it; only the owner touches it.
int g_LockDepth = 0;

void WorkOffLossesIfFree();

class ConnectionLock {
 public:
  ConnectionLock() {
    EnterCriticalSection(&LockSection());
    ++g_LockDepth;
  }
  ~ConnectionLock() {
    const bool outermost = --g_LockDepth == 0;
    LeaveCriticalSection(&LockSection());
    // A loss noted while this thread held the lock was left to it.
    if (outermost) WorkOffLossesIfFree();
  }
  ConnectionLock(const ConnectionLock&) = delete;
  ConnectionLock& operator=(const ConnectionLock&) = delete;
};

// One CKestrin's state with the connection's bookkeeping of it. A state
// whose object is destroyed while the window procedure applies a notice to
// it (on the connection's thread, with the object destroyed on another) is
// retired and freed by the procedure when the notice is done.
struct StateEntry {
  ConnectionState m_State;  // first: CKestrin::m_pConnection points here
  StateEntry* m_Next;       // the live list, newest first
  int m_Uses;               // notices being applied to it
  bool m_Retired;           // its object is gone
  DWORD m_Thread;           // the thread that built its object
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

// Tells the agent the client window is going (or gone): it drops the client
// and hands its focus on, so that the process's next window hears the
// device's state at once.
void SayGoodbye() {
  if (g_Connection.m_ClientWindow && ManagerWindow())
    PostToManager(kestrin::manager::RequestWParam(kestrin::manager::ClientGoodbye));
}

// The agent keeps the process a client works for with its window: every
// hello (a new agent's, a window handed the connection) tells it again.
void PostAssociation(DWORD processId) {
  using namespace kestrin::manager;
  PostToManager(RequestWParam(ClientProcessHigh, static_cast<uint16_t>(processId >> 16)));
  PostToManager(RequestWParam(ClientProcessLow, static_cast<uint16_t>(processId)));
}

void SayHello() {
  PostToManager(kestrin::manager::RequestWParam(kestrin::manager::ClientHello));
  if (DWORD associated = __atomic_load_n(&g_Connection.m_AssociatedProcess, __ATOMIC_ACQUIRE))
    PostAssociation(associated);
}

bool IsOurProcedure(HWND window) {
  return GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(ClientWindowProc);
}

// Private messages of the library's windows (their class is the library's
// own): a window no longer in use closes itself; a stand-by that was handed
// the connection sets the idle hook of its thread.
constexpr UINT kCloseLibraryWindow = WM_USER + 1;
constexpr UINT kTakeConnection = WM_USER + 2;

// ---- the threads' windows ----

// A thread that built objects while the connection lived, and its window:
// the client window on the connection's thread, a stand-by on the others.
// The entries go when the connection closes, or with their window when it
// is lost. Under the lock.
struct ThreadWindow {
  ThreadWindow* m_Next;
  DWORD m_Thread;
  HWND m_Window;  // null once it was lost
  int m_Objects;  // live objects its thread built
};
ThreadWindow* g_ThreadWindows = nullptr;

ThreadWindow* FindThreadWindow(DWORD thread) {
  for (ThreadWindow* t = g_ThreadWindows; t; t = t->m_Next)
    if (t->m_Thread == thread) return t;
  return nullptr;
}

bool InUse(HWND window) {
  if (window == g_Connection.m_ClientWindow) return true;
  for (ThreadWindow* t = g_ThreadWindows; t; t = t->m_Next)
    if (t->m_Window == window) return true;
  return false;
}

// Threads that made a library window are marked in a thread-local slot, so
// that their detach from the library knows them without a lock.
DWORD g_LibraryThreadSlot = TLS_OUT_OF_INDEXES;

void MarkLibraryThread() {
  DWORD slot = __atomic_load_n(&g_LibraryThreadSlot, __ATOMIC_ACQUIRE);
  if (slot == TLS_OUT_OF_INDEXES) {
    DWORD mine = TlsAlloc();
    if (mine == TLS_OUT_OF_INDEXES) return;
    DWORD none = TLS_OUT_OF_INDEXES;
    if (__atomic_compare_exchange_n(&g_LibraryThreadSlot, &none, mine, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE)) {
      slot = mine;
    } else {
      TlsFree(mine);
      slot = none;
    }
  }
  TlsSetValue(slot, reinterpret_cast<void*>(1));
}

// A message-only window of the client class on this thread, "KestrinMessage"
// let through its filter.
HWND CreateLibraryWindow() {
  ProcessConnection& c = g_Connection;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ClientWindowProc;
  windowClass.hInstance = c.m_Module;
  windowClass.lpszClassName = kestrin::manager::kClientClass;
  RegisterClassA(&windowClass);  // fails harmlessly when a connect before registered it
  HWND window = CreateWindowExA(0, kestrin::manager::kClientClass, kestrin::manager::kClientTitle,
                                0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.m_Module, nullptr);
  if (!window) return nullptr;
  if (!IsOurProcedure(window)) {
    // The class outlived an earlier load of this library (a window of it
    // still waited for its thread then): this load's procedure takes over.
    SetClassLongPtrA(window, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClientWindowProc));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClientWindowProc));
  }
  kestrin::manager::AllowMessage(window, c.m_MessageId);
  MarkLibraryThread();
  return window;
}

// This thread's entry, with a live window (made when it has none); null
// when the entry cannot be had.
ThreadWindow* JoinThreadWindow() {
  const DWORD self = GetCurrentThreadId();
  ThreadWindow* t = FindThreadWindow(self);
  if (t && t->m_Window && IsWindow(t->m_Window)) return t;
  if (!t) {
    t = new (std::nothrow) ThreadWindow();
    if (!t) return nullptr;
    t->m_Thread = self;
    t->m_Next = g_ThreadWindows;
    g_ThreadWindows = t;
  }
  t->m_Window = CreateLibraryWindow();
  return t;
}

// Closes a window no longer in use: only its own thread can destroy it, the
// others post it the close.
void CloseLibraryWindow(HWND window) {
  if (!window) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
    DestroyWindow(window);
  else
    PostMessageA(window, kCloseLibraryWindow, 0, 0);
}

// Drops the entry (closing its window unless it is the client window).
void RemoveThreadWindow(ThreadWindow* gone) {
  for (ThreadWindow** link = &g_ThreadWindows; *link; link = &(*link)->m_Next) {
    if (*link == gone) {
      *link = gone->m_Next;
      break;
    }
  }
  if (gone->m_Window != g_Connection.m_ClientWindow) CloseLibraryWindow(gone->m_Window);
  delete gone;
}

// ---- handing the connection on ----

void InstallIdleHook() {
  ProcessConnection& c = g_Connection;
  if (!c.m_IdleHook)
    c.m_IdleHook = SetWindowsHookExA(WH_FOREGROUNDIDLE, ForegroundIdleProc, nullptr,
                                     GetCurrentThreadId());
}

// The connection lost its client window: the idle hook goes (any thread of
// the process may remove it; it fails harmlessly when the hook went with its
// thread) and the agent hears goodbye for the window.
void DropClientWindow() {
  ProcessConnection& c = g_Connection;
  if (HHOOK hook = __atomic_exchange_n(&c.m_IdleHook, static_cast<HHOOK>(nullptr), __ATOMIC_ACQ_REL))
    UnhookWindowsHookEx(hook);
  SayGoodbye();
  __atomic_store_n(&c.m_ClientWindow, static_cast<HWND>(nullptr), __ATOMIC_RELEASE);
  c.m_ConnectionThread = 0;
}

// The window of t becomes the client window and says hello to the agent as
// it is now (a missing agent's ManagerStarted reaches it later, being of the
// client class). The section and the view stay as they are. Its thread sets
// the idle hook: this one at once, another when it next pumps. Nothing here
// waits or starts a program: it may run in a thread's detach.
void Adopt(ThreadWindow* t) {
  using namespace kestrin::manager;
  ProcessConnection& c = g_Connection;
  __atomic_store_n(&c.m_ClientWindow, t->m_Window, __ATOMIC_RELEASE);
  c.m_ConnectionThread = t->m_Thread;
  HWND manager = FindWindowExA(HWND_MESSAGE, nullptr, kManagerClass, kManagerTitle);
  __atomic_store_n(&c.m_ManagerWindow, static_cast<void*>(manager), __ATOMIC_RELEASE);
  if (manager) SayHello();
  if (t->m_Thread == GetCurrentThreadId())
    InstallIdleHook();
  else
    PostMessageA(t->m_Window, kTakeConnection, 0, 0);
}

// The connection goes to the thread of the newest live object that has a
// live window; none: it stays without a window until the next construction.
void HandOver() {
  for (StateEntry* entry = g_LiveStates; entry; entry = entry->m_Next) {
    ThreadWindow* t = FindThreadWindow(entry->m_Thread);
    if (t && t->m_Window && IsWindow(t->m_Window)) {
      Adopt(t);
      return;
    }
  }
}

// A library window gone or going: every window of an ended thread (thread
// non-zero), or one destroyed window. Under the lock.
void LoseWindows(DWORD thread, HWND window) {
  ProcessConnection& c = g_Connection;
  const bool connection = c.m_ClientWindow && (thread ? thread == c.m_ConnectionThread
                                                      : window == c.m_ClientWindow);
  ThreadWindow* t = g_ThreadWindows;
  while (t) {
    ThreadWindow* next = t->m_Next;
    if (thread ? t->m_Thread == thread : t->m_Window == window) {
      t->m_Window = nullptr;
      if (t->m_Objects == 0) RemoveThreadWindow(t);
    }
    t = next;
  }
  if (connection) {
    DropClientWindow();
    HandOver();
  }
}

// Losses noted without the lock: pushed by any thread, taken whole by the
// lock's owner.
struct WindowLoss {
  WindowLoss* m_Next;
  DWORD m_Thread;
  HWND m_Window;
};
WindowLoss* g_Losses = nullptr;

void WorkOffLosses() {
  WindowLoss* loss = __atomic_exchange_n(&g_Losses, static_cast<WindowLoss*>(nullptr),
                                         __ATOMIC_SEQ_CST);
  while (loss) {
    WindowLoss* next = loss->m_Next;
    LoseWindows(loss->m_Thread, loss->m_Window);
    HeapFree(GetProcessHeap(), 0, loss);
    loss = next;
  }
}

// Never waits: a thread's detach calls it under the loader lock, for which
// the lock's owner may be waiting. The push and the try below, and the
// owner's release and its look at the list, are each ordered, so either
// this thread takes the lock or its owner sees the loss as it lets go.
void WorkOffLossesIfFree() {
  while (__atomic_load_n(&g_Losses, __ATOMIC_SEQ_CST)) {
    if (!TryEnterCriticalSection(&LockSection())) return;
    if (g_LockDepth > 0) {  // held further out on this thread: done when it lets go
      LeaveCriticalSection(&LockSection());
      return;
    }
    ++g_LockDepth;
    WorkOffLosses();
    --g_LockDepth;
    LeaveCriticalSection(&LockSection());
  }
}

void NoteLoss(DWORD thread, HWND window) {
  WindowLoss* loss = static_cast<WindowLoss*>(HeapAlloc(GetProcessHeap(), 0, sizeof(WindowLoss)));
  if (!loss) return;  // the next construction still finds the client window gone
  loss->m_Thread = thread;
  loss->m_Window = window;
  loss->m_Next = __atomic_load_n(&g_Losses, __ATOMIC_RELAXED);
  while (!__atomic_compare_exchange_n(&g_Losses, &loss->m_Next, loss, true, __ATOMIC_SEQ_CST,
                                      __ATOMIC_RELAXED)) {
  }
  WorkOffLossesIfFree();
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
  // This thread's window becomes the client window (the lock is held: no
  // other thread has one while nothing is connected).
  ThreadWindow* here = JoinThreadWindow();
  __atomic_store_n(&c.m_ClientWindow, here ? here->m_Window : nullptr, __ATOMIC_RELEASE);
  c.m_ConnectionThread = here && here->m_Window ? here->m_Thread : 0;
  Reconnect();
  if (c.m_ClientWindow) InstallIdleHook();
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
  SayHello();
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
  // The threads' entries go, and their stand-bys with them; the client
  // window goes below.
  while (g_ThreadWindows) RemoveThreadWindow(g_ThreadWindows);
  c.m_ConnectionThread = 0;
  if (HWND window = __atomic_exchange_n(&c.m_ClientWindow, static_cast<HWND>(nullptr), __ATOMIC_ACQ_REL)) {
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
      DestroyWindow(window);
      // The class names this module's window procedure: a module unloaded
      // and loaded again at another address must not find it registered
      // (it stays while another thread's window still waits for its close).
      UnregisterClassA(kestrin::manager::kClientClass, c.m_Module);
    } else {
      // Only the thread that made a window can destroy it: that thread does
      // when it next pumps its messages.
      PostMessageA(window, kCloseLibraryWindow, 0, 0);
    }
  }
  c.m_Connected = false;
}

void OnThreadDetach() {
  const DWORD slot = __atomic_load_n(&g_LibraryThreadSlot, __ATOMIC_ACQUIRE);
  if (slot == TLS_OUT_OF_INDEXES || !TlsGetValue(slot)) return;  // it never made a library window
  NoteLoss(GetCurrentThreadId(), nullptr);
}

void ReleaseAtUnload() {
  ProcessConnection& c = g_Connection;
  ConnectionLock hold;
  if (HHOOK hook = __atomic_exchange_n(&c.m_IdleHook, static_cast<HHOOK>(nullptr), __ATOMIC_ACQ_REL))
    UnhookWindowsHookEx(hook);
  __atomic_store_n(&c.m_ClientWindow, static_cast<HWND>(nullptr), __ATOMIC_RELEASE);
  c.m_ConnectionThread = 0;
  c.m_Connected = false;
  // Nothing is handed on any more: the losses and the threads' entries go
  // (their windows with the rest below), and so does the threads' mark.
  WindowLoss* loss = __atomic_exchange_n(&g_Losses, static_cast<WindowLoss*>(nullptr),
                                         __ATOMIC_SEQ_CST);
  while (loss) {
    WindowLoss* next = loss->m_Next;
    HeapFree(GetProcessHeap(), 0, loss);
    loss = next;
  }
  while (ThreadWindow* t = g_ThreadWindows) {
    g_ThreadWindows = t->m_Next;
    delete t;
  }
  const DWORD slot = __atomic_exchange_n(&g_LibraryThreadSlot, static_cast<DWORD>(TLS_OUT_OF_INDEXES),
                                         __ATOMIC_ACQ_REL);
  if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
  // Every client window of this process that runs this module's procedure:
  // the connection's own, the other threads' stand-bys, and those whose
  // close was posted to a thread that has not pumped it yet.
  // Gathered first: destroying them changes what the search walks.
  HWND left = nullptr;
  for (HWND ours : kestrin::manager::ClientWindowsOf(GetCurrentProcessId())) {
    if (!IsOurProcedure(ours)) continue;
    if (GetWindowThreadProcessId(ours, nullptr) == GetCurrentThreadId()) {
      DestroyWindow(ours);
    } else {
      // Another thread's window: it closes when that thread pumps, with the
      // system's procedure, since this one is about to be unmapped.
      SetWindowLongPtrA(ours, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
      PostMessageA(ours, WM_CLOSE, 0, 0);
      left = ours;
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
      return 0;
    case WM_CLOSE:
      // Any program of the session can find a library window by its name
      // and post it WM_CLOSE: only the library closes its windows.
      return 0;
    case kCloseLibraryWindow: {
      bool inUse;
      {
        ConnectionLock hold;
        inUse = InUse(window);
      }
      if (!inUse) DestroyWindow(window);
      return 0;
    }
    case kTakeConnection: {
      ConnectionLock hold;
      if (window == g_Connection.m_ClientWindow) InstallIdleHook();
      return 0;
    }
    case WM_DESTROY:
      // Destroyed under a live connection (the library lets go of a window
      // before it destroys it): the connection is handed on. This may come
      // while the thread ends, under the loader lock: no waiting.
      if (window == __atomic_load_n(&g_Connection.m_ClientWindow, __ATOMIC_ACQUIRE))
        NoteLoss(0, window);
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
  entry->m_Thread = GetCurrentThreadId();
  {
    // Never joins a connection that another thread is closing: the close
    // runs under the same lock.
    ConnectionLock hold;
    ProcessConnection& c = g_Connection;
    if (!c.m_Connected) {
      Connect();
      c.m_Connected = true;
    }
    // This thread's window: the client window, or a stand-by that can take
    // the connection over should the client window's thread end.
    if (ThreadWindow* here = JoinThreadWindow()) ++here->m_Objects;
    ++c.m_Objects;
    PrimeReadState(&entry->m_State, MotionRecord());
    entry->m_Next = g_LiveStates;
    g_LiveStates = entry;
    __atomic_store_n(&c.m_CurrentState, &entry->m_State, __ATOMIC_RELEASE);
    // The client window went unseen (its thread was ended without a detach,
    // say), or was lost with no live window to take over: this thread's
    // window, the newest object's, takes the connection (the section handle
    // and the view stay).
    if (c.m_ClientWindow && !IsWindow(c.m_ClientWindow))
      LoseWindows(0, c.m_ClientWindow);
    else if (!c.m_ClientWindow)
      HandOver();
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
    // A thread's window stays while the connection lives (a thread that
    // builds and destroys objects in turn makes one window), unless it was
    // lost.
    ThreadWindow* t = FindThreadWindow(entry->m_Thread);
    if (t && --t->m_Objects == 0 && !t->m_Window) RemoveThreadWindow(t);
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
    __atomic_store_n(&g_Connection.m_AssociatedProcess, static_cast<DWORD>(processId),
                     __ATOMIC_RELEASE);
    PostAssociation(static_cast<DWORD>(processId));
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
