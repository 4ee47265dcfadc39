// CKestrin's connection: the connect sequence, the reconnect on every
// ManagerStarted, the client window and its procedure, the idle hook, the
// requests posted to the agent, and the objects' lifetimes.
//
// One connection per process. It is made by the first CKestrin and kept
// while any CKestrin lives; the last one to go closes it (hook, section
// handle, client window), and a CKestrin built after that connects again, so
// a client that closes and reopens its only object keeps hearing events and
// reading motion. The view is mapped once and stays mapped until the process
// ends: a read on another thread may be using it at any time.
#include "connection_private.h"

#include <new>

#include "allow_message.h"
#include "manager_messages.h"

namespace Kestrin1 {

namespace {

long KESTRIN1_CALLBACK NullCallback(unsigned int, long) { return 0; }

KestrinCallback LoadCallback() {
  return __atomic_load_n(&AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback, __ATOMIC_ACQUIRE);
}

void CallBack(unsigned int event, long param) { LoadCallback()(event, param); }

// A notice's event; false when the callback destroyed the object whose state
// the notice was updating (or built a newer one).
bool NoticeEvent(const ConnectionState* state, unsigned int event, long param) {
  CallBack(event, param);
  return __atomic_load_n(&g_Connection.m_CurrentState, __ATOMIC_ACQUIRE) == state;
}

HWND ManagerWindow() {
  return static_cast<HWND>(__atomic_load_n(&g_Connection.m_ManagerWindow, __ATOMIC_ACQUIRE));
}

void PostToManager(uint32_t wParam) {
  PostMessageA(ManagerWindow(), g_Connection.m_MessageId, wParam,
               reinterpret_cast<LPARAM>(g_Connection.m_ClientWindow));
}

// The section handle of this open replaces the earlier one, which is closed;
// the view of the first successful map serves every later connect (the
// service that creates the section again while this handle is open gets the
// same section).
void OpenSection() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName);
  if (!mapping) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) ReportError("OpenFileMapping() failed: <%ld> %s\n", error);
    return;
  }
  HANDLE earlier = __atomic_exchange_n(&g_Connection.m_Mapping, mapping, __ATOMIC_ACQ_REL);
  if (earlier) CloseHandle(earlier);
  if (__atomic_load_n(&g_Connection.m_View, __ATOMIC_ACQUIRE)) return;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, SectionBytesForPageSize(info.dwPageSize));
  if (!view) {
    ReportError("MapViewOfFile() failed: <%ld> %s\n", GetLastError());
    return;
  }
  __atomic_store_n(&g_Connection.m_View, view, __ATOMIC_RELEASE);
}

}  // namespace

ProcessConnection g_Connection = {};
TicClock g_TicClock = SystemTic;

uint16_t SystemTic() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<uint16_t>(now.dwLowDateTime >> 11);
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
  c.m_ClientWindow = CreateWindowExA(0, kClientClass, kClientTitle, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                     nullptr, c.m_Module, nullptr);
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
  if (HANDLE mapping = __atomic_exchange_n(&c.m_Mapping, static_cast<HANDLE>(nullptr), __ATOMIC_ACQ_REL))
    CloseHandle(mapping);
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

LRESULT CALLBACK ClientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace kestrin::manager;
  const unsigned int id = g_Connection.m_MessageId;
  if (id && IsMessage(message, id)) {
    switch (NoticeCode(static_cast<uint32_t>(wParam))) {
      case ManagerStarted:
        Reconnect();
        break;
      case DeviceStateNotice:
        if (ConnectionState* state =
                __atomic_load_n(&g_Connection.m_CurrentState, __ATOMIC_ACQUIRE))
          ApplyDeviceStateNotice(state, NoticeLowWord(static_cast<uint32_t>(wParam)),
                                 static_cast<uint32_t>(lParam), NoticeEvent);
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
  ConnectionState* state = new (std::nothrow) ConnectionState;
  if (!state) return;
  if (!g_Connection.m_Connected) {
    Connect();
    g_Connection.m_Connected = true;
  }
  __atomic_add_fetch(&g_Connection.m_Objects, 1, __ATOMIC_ACQ_REL);
  ResetConnectionState(state);
  __atomic_store_n(&g_Connection.m_CurrentState, state, __ATOMIC_RELEASE);
  PrimeMotionSums(state, MotionRecord());
  m_pConnection = state;
}

CKestrin::~CKestrin() {
  ConnectionState* state = m_pConnection;
  if (!state) return;
  // Notices stop reaching this state; an older object that is not the
  // newest one leaves the newest one's notices alone.
  ConnectionState* expected = state;
  __atomic_compare_exchange_n(&g_Connection.m_CurrentState, &expected, nullptr, false,
                              __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
  if (__atomic_sub_fetch(&g_Connection.m_Objects, 1, __ATOMIC_ACQ_REL) == 0) CloseConnection();
  m_pConnection = nullptr;
  delete state;
}

CKestrin& CKestrin::operator=(const CKestrin& other) {
  m_Motion = other.m_Motion;
  m_Scroll = other.m_Scroll;
  m_pConnection = other.m_pConnection;
  return *this;
}

int CKestrin::Register(KestrinCallback callback, unsigned long processId) {
  using namespace kestrin::manager;
  __atomic_store_n(&AJLSKDFHEIEMUWPMXURSKDFNB.m_Callback, callback, __ATOMIC_RELEASE);
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
