// Records what the code under test asks of the event log (the source it
// opens, every event with its strings, every close) by hooking the three
// calls in this test program's import table; the calls still go through to
// the system. Wine stores no events, so this is how the tests see them. One
// recorder at a time.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "import_hook.h"

struct RecordedEvent {
  HANDLE source;
  WORD type;
  WORD category;
  DWORD id;
  bool withSid;
  WORD stringCount;
  std::vector<std::string> strings;
  DWORD dataSize;
};

class EventLogRecorder {
 public:
  EventLogRecorder();
  ~EventLogRecorder();

  bool installed() const;
  // Events with this id, in the order reported.
  std::vector<RecordedEvent> EventsWithId(DWORD id) const;

  std::vector<std::string> openedSources;  // source names given to RegisterEventSourceA
  std::vector<HANDLE> openedHandles;
  std::vector<HANDLE> closedHandles;
  std::vector<RecordedEvent> events;
  // Failures to fake: the call fails with this error instead of going through.
  DWORD failRegisterWith = 0;
  DWORD failReportWith = 0;

 private:
  static HANDLE WINAPI RegisterSource(LPCSTR server, LPCSTR source);
  static BOOL WINAPI Report(HANDLE source, WORD type, WORD category, DWORD id, PSID sid,
                            WORD stringCount, DWORD dataSize, LPCSTR* strings, LPVOID data);
  static BOOL WINAPI Deregister(HANDLE source);
  static EventLogRecorder* active_;
  std::unique_ptr<ImportHook> register_, report_, deregister_;
};

inline EventLogRecorder* EventLogRecorder::active_ = nullptr;

inline EventLogRecorder::EventLogRecorder() {
  active_ = this;
  HMODULE self = GetModuleHandleA(nullptr);
  register_.reset(new ImportHook(self, "advapi32.dll", "RegisterEventSourceA",
                                 reinterpret_cast<void*>(&RegisterSource)));
  report_.reset(
      new ImportHook(self, "advapi32.dll", "ReportEventA", reinterpret_cast<void*>(&Report)));
  deregister_.reset(new ImportHook(self, "advapi32.dll", "DeregisterEventSource",
                                   reinterpret_cast<void*>(&Deregister)));
}

inline EventLogRecorder::~EventLogRecorder() {
  register_.reset();
  report_.reset();
  deregister_.reset();
  active_ = nullptr;
}

inline bool EventLogRecorder::installed() const {
  return register_->installed() && report_->installed() && deregister_->installed();
}

inline std::vector<RecordedEvent> EventLogRecorder::EventsWithId(DWORD id) const {
  std::vector<RecordedEvent> found;
  for (const RecordedEvent& e : events)
    if (e.id == id) found.push_back(e);
  return found;
}

inline HANDLE WINAPI EventLogRecorder::RegisterSource(LPCSTR server, LPCSTR source) {
  EventLogRecorder* self = active_;
  self->openedSources.push_back(std::string(server ? "<server>" : "") + (source ? source : ""));
  if (self->failRegisterWith) {
    SetLastError(self->failRegisterWith);
    return nullptr;
  }
  auto real = reinterpret_cast<HANDLE(WINAPI*)(LPCSTR, LPCSTR)>(self->register_->original());
  HANDLE handle = real(server, source);
  self->openedHandles.push_back(handle);
  return handle;
}

inline BOOL WINAPI EventLogRecorder::Report(HANDLE source, WORD type, WORD category, DWORD id,
                                            PSID sid, WORD stringCount, DWORD dataSize,
                                            LPCSTR* strings, LPVOID data) {
  EventLogRecorder* self = active_;
  RecordedEvent e = {source, type, category, id, sid != nullptr, stringCount, {}, dataSize};
  for (WORD i = 0; i < stringCount && strings; ++i) e.strings.push_back(strings[i]);
  self->events.push_back(e);
  if (self->failReportWith) {
    SetLastError(self->failReportWith);
    return FALSE;
  }
  auto real = reinterpret_cast<BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD,
                                             LPCSTR*, LPVOID)>(self->report_->original());
  return real(source, type, category, id, sid, stringCount, dataSize, strings, data);
}

inline BOOL WINAPI EventLogRecorder::Deregister(HANDLE source) {
  EventLogRecorder* self = active_;
  self->closedHandles.push_back(source);
  auto real = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(self->deregister_->original());
  return real(source);
}
