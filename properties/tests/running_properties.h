// KestrinProperties.exe as the tests run it and look at it from outside: the
// program started in a folder of the test's choice, its dialog found by its
// controls (whatever the caption's language), its controls read and worked
// across the process boundary, and a stand-in for the agent's manager window
// that records every "KestrinMessage" the program posts, in order.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "manager_messages.h"
#include "message_windows.h"
#include "motion_section.h"
#include "process_runner.h"
#include "pump.h"
#include "resource.h"

namespace props {

namespace km = kestrin::manager;

inline const std::string kPropertiesExe = WinePath(KESTRIN_PROPERTIES_EXE);
// The folder of the program and its satellite library.
inline std::string ProgramFolder() {
  return kPropertiesExe.substr(0, kPropertiesExe.find_last_of('\\'));
}

inline std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The calling thread's messages pumped while a test waits (10 s unless told).
using ::PumpUntil;

struct Request {
  uint16_t code;
  uint32_t value;
  bool operator==(const Request& other) const {
    return code == other.code && value == other.value;
  }
};
inline std::ostream& operator<<(std::ostream& out, const Request& r) {
  return out << std::hex << "{0x" << r.code << ", 0x" << r.value << "}" << std::dec;
}

// The agent's manager window as the interface library finds it: message-only,
// class and title "KestrinManager". Records the message's requests in order.
class StandInManager {
 public:
  StandInManager() {
    message_ = RegisterWindowMessageA(km::kMessageName);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &StandInManager::Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = km::kManagerClass;
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, km::kManagerClass, km::kManagerTitle, 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), this);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~StandInManager() { DestroyWindow(window_); }
  StandInManager(const StandInManager&) = delete;
  StandInManager& operator=(const StandInManager&) = delete;

  HWND window() const { return window_; }
  // Every message of "KestrinMessage" so far.
  const std::vector<Request>& all() const { return all_; }
  // The settings requests (codes 0xFFFC to 0xFFFF) not taken yet.
  std::vector<Request> Take() {
    std::vector<Request> taken;
    for (; taken_ < all_.size(); ++taken_)
      if (all_[taken_].code >= km::TestAutoZero) taken.push_back(all_[taken_]);
    return taken;
  }
  // Waits for n settings requests after those taken, and takes them.
  std::vector<Request> TakeWhen(size_t n, DWORD timeoutMs = 10000) {
    PumpUntil([&] { return Pending() >= n; }, timeoutMs);
    return Take();
  }
  // The requests the program posted before a TestAutoZero that the test
  // clicks now: the program handles its queue in order, so whatever an
  // earlier action posted has arrived once the marker has.
  std::vector<Request> TakeUpToMarker(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_TEST_AUTOZERO, BN_CLICKED), 0);
    const Request marker = {km::TestAutoZero, 0};
    PumpUntil([&] {
      for (size_t i = taken_; i < all_.size(); ++i)
        if (all_[i] == marker) return true;
      return false;
    });
    std::vector<Request> taken = Take();
    if (!taken.empty() && taken.back() == marker) taken.pop_back();
    else ADD_FAILURE() << "the marker did not arrive";
    return taken;
  }
  // The client codes (1 to 6) the library posted.
  size_t ClientMessages() const {
    size_t n = 0;
    for (const Request& r : all_) n += r.code < km::TestAutoZero;
    return n;
  }

 private:
  size_t Pending() const {
    size_t n = 0;
    for (size_t i = taken_; i < all_.size(); ++i) n += all_[i].code >= km::TestAutoZero;
    return n;
  }
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<StandInManager*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && km::IsMessage(message, self->message_))
      self->all_.push_back({km::RequestCode(static_cast<uint32_t>(wParam)),
                            static_cast<uint32_t>(lParam)});
    return DefWindowProcA(window, message, wParam, lParam);
  }

  UINT message_;
  HWND window_;
  std::vector<Request> all_;
  size_t taken_ = 0;
};

// The section as the service makes it, writable here, with record 1's
// settings.
class TestSection {
 public:
  TestSection(const uint16_t factors[4], uint16_t flags) {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                  kSectionName);
    view_ = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 4096) : nullptr;
    Set(factors, flags);
  }
  // Record 1's settings as the service copies them in when it applies them.
  void Set(const uint16_t factors[4], uint16_t flags) {
    if (!view_) return;
    DeviceMotionRecord* record = SectionRecord(view_, 1);
    for (int i = 0; i < 4; ++i) record->m_LogFactors[i] = factors[i];
    record->m_Flags = flags;
  }
  ~TestSection() {
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
  }
  bool ok() const { return view_ != nullptr; }

 private:
  HANDLE mapping_;
  void* view_;
};

// One run of the program. The destructor ends a program still running.
class RunningProperties {
  struct WindowSearch {
    DWORD pid;
    int id;
    HWND found;
  };
  static BOOL CALLBACK Match(HWND window, LPARAM p) {
    auto* s = reinterpret_cast<WindowSearch*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != s->pid || !IsWindowVisible(window) || !GetDlgItem(window, s->id)) return TRUE;
    s->found = window;
    return FALSE;
  }

 public:
  // Environment variables the program gets in place of the test's own.
  struct Setting {
    const wchar_t* name;
    std::wstring value;
  };
  // folder: the current directory (Windows path), empty for the program's
  // own (where its German library lies).
  explicit RunningProperties(const std::string& folder = "",
                             const std::vector<Setting>& environment = {}) {
    std::wstring command = L"\"" + Wide(kPropertiesExe) + L"\"";
    std::wstring directory = Wide(folder.empty() ? ProgramFolder() : folder);
    std::vector<std::pair<bool, std::wstring>> saved;
    for (const Setting& s : environment) {
      wchar_t value[MAX_PATH] = {};
      bool had = GetEnvironmentVariableW(s.name, value, MAX_PATH) != 0;
      saved.emplace_back(had, value);
      SetEnvironmentVariableW(s.name, s.value.c_str());
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                              directory.c_str(), &startup, &process_) != 0;
    for (size_t i = 0; i < environment.size(); ++i)
      SetEnvironmentVariableW(environment[i].name,
                              saved[i].first ? saved[i].second.c_str() : nullptr);
  }
  ~RunningProperties() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  RunningProperties(const RunningProperties&) = delete;
  RunningProperties& operator=(const RunningProperties&) = delete;

  bool started() const { return started_; }
  DWORD pid() const { return process_.dwProcessId; }
  HANDLE process() const { return process_.hProcess; }

  // The program's visible top-level window that holds the control id, or
  // null.
  HWND FindWindowWith(int controlId) const {
    WindowSearch search = {process_.dwProcessId, controlId, nullptr};
    EnumWindows(&RunningProperties::Match, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  // The properties dialog, once it shows.
  HWND WaitForDialog(DWORD timeoutMs = 20000) {
    HWND dialog = nullptr;
    PumpUntil([&] { return (dialog = FindWindowWith(IDC_PAN)) != nullptr; }, timeoutMs);
    return dialog;
  }
  // The exit code once the program has ended, or STILL_ACTIVE.
  DWORD WaitForExit(DWORD timeoutMs = 10000) {
    PumpUntil([&] { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; },
              timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }
  // The library's client window in the program.
  HWND ClientWindow() const {
    const std::vector<HWND> windows = km::ClientWindowsOf(process_.dwProcessId);
    return windows.empty() ? nullptr : windows.front();
  }

  // Text of a list-view cell, read through memory of the program's process.
  std::wstring ListText(HWND list, int item, int subItem) const {
    struct Remote {
      LVITEMW item;
      wchar_t text[128];
    };
    void* remote = VirtualAllocEx(process_.hProcess, nullptr, sizeof(Remote), MEM_COMMIT,
                                  PAGE_READWRITE);
    if (!remote) return L"<no memory>";
    Remote local = {};
    local.item.iSubItem = subItem;
    local.item.cchTextMax = 128;
    local.item.pszText = reinterpret_cast<Remote*>(remote)->text;
    WriteProcessMemory(process_.hProcess, remote, &local, sizeof local, nullptr);
    SendMessageW(list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(remote));
    ReadProcessMemory(process_.hProcess, remote, &local, sizeof local, nullptr);
    VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
    local.text[127] = 0;
    return local.text;
  }
  // The format and width of a list-view column, read the same way.
  LVCOLUMNW ListColumn(HWND list, int column) const {
    LVCOLUMNW local = {};
    local.mask = LVCF_FMT | LVCF_WIDTH;
    void* remote = VirtualAllocEx(process_.hProcess, nullptr, sizeof local, MEM_COMMIT,
                                  PAGE_READWRITE);
    if (!remote) return local;
    WriteProcessMemory(process_.hProcess, remote, &local, sizeof local, nullptr);
    SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(remote));
    ReadProcessMemory(process_.hProcess, remote, &local, sizeof local, nullptr);
    VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
    return local;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_ = {};
};

// ---- the dialog's controls from outside ----

constexpr int kTrackbars[4] = {IDC_PAN, IDC_ZOOM, IDC_SPIN, IDC_SCROLL_HAT};

inline std::vector<uint16_t> Thumbs(HWND dialog) {
  std::vector<uint16_t> positions;
  for (int id : kTrackbars)
    positions.push_back(static_cast<uint16_t>(SendDlgItemMessageW(dialog, id, TBM_GETPOS, 0, 0)));
  return positions;
}
inline bool Checked(HWND dialog, int id) {
  return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
// A click as the user makes it: the button's own click, queued in the
// program in order with everything else the test posts.
inline void Click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
// A key pressed on a trackbar (it moves the thumb and tells the dialog).
inline void Key(HWND dialog, int id, WPARAM key) {
  PostMessageW(GetDlgItem(dialog, id), WM_KEYDOWN, key, 1);
}

// The dialog's caption and its Cancel and Defaults buttons say what the
// German library says.
inline void ExpectGermanDialog(HWND dialog) {
  wchar_t text[64] = {};
  GetWindowTextW(dialog, text, 64);
  EXPECT_EQ(std::wstring(L"Eigenschaften der Kestrin 3D-Maus"), text);
  GetDlgItemTextW(dialog, IDCANCEL, text, 64);
  EXPECT_EQ(std::wstring(L"&Abbrechen"), text);
  GetDlgItemTextW(dialog, IDC_DEFAULTS, text, 64);
  EXPECT_EQ(std::wstring(L"&Standard"), text);
}

inline Request Low(uint16_t pan, uint16_t zoom) {
  return {km::SetLogFactorsLow, (uint32_t{zoom} << 16) | pan};
}
inline Request High(uint16_t spin, uint16_t hat) {
  return {km::SetLogFactorsHigh, (uint32_t{hat} << 16) | spin};
}
inline Request Flags(uint32_t value) { return {km::SetFlags, value}; }

}  // namespace props
