#include "dbwin_monitor.h"

#include <stdio.h>
#include <string.h>

#include <chrono>

namespace {

const char kBufferName[] = "DBWIN_BUFFER";
const char kBufferReadyName[] = "DBWIN_BUFFER_READY";
const char kDataReadyName[] = "DBWIN_DATA_READY";
constexpr DWORD kBufferSize = 4096;  // DWORD process id, then the text

// Writers (services too) must be able to open the objects: a null DACL.
struct OpenSecurity {
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
  OpenSecurity() {
    // Both calls only fill in the local structure; they cannot fail here.
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    attributes = {sizeof attributes, &descriptor, FALSE};
  }
};

}  // namespace

DebugMonitor::~DebugMonitor() { Stop(); }

void DebugMonitor::CloseObjects() {
  // Teardown of objects this monitor created; a failure leaves nothing to do.
  if (view_) UnmapViewOfFile(view_);
  view_ = nullptr;
  for (HANDLE* h : {&mapping_, &bufferReady_, &dataReady_, &stop_}) {
    if (*h) CloseHandle(*h);
    *h = nullptr;
  }
}

bool DebugMonitor::Start() {
  if (thread_.joinable()) return true;
  OpenSecurity security;
  // A writer that is handing over its line holds the objects for a moment
  // after another monitor stopped: a few tries tell that from a live owner.
  for (int attempt = 0;; ++attempt) {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                  kBufferSize, kBufferName);
    bool existed = mapping_ && GetLastError() == ERROR_ALREADY_EXISTS;
    bufferReady_ = CreateEventA(&security.attributes, FALSE /* auto reset */, FALSE,
                                kBufferReadyName);
    existed = existed || (bufferReady_ && GetLastError() == ERROR_ALREADY_EXISTS);
    dataReady_ = CreateEventA(&security.attributes, FALSE /* auto reset */, FALSE,
                              kDataReadyName);
    existed = existed || (dataReady_ && GetLastError() == ERROR_ALREADY_EXISTS);
    if (!mapping_ || !bufferReady_ || !dataReady_) {
      fprintf(stderr, "DebugMonitor: cannot create the debug-output objects (error %lu)\n",
              GetLastError());
      CloseObjects();
      return false;
    }
    if (!existed) break;
    CloseObjects();
    if (attempt == 10) {
      fprintf(stderr,
              "DebugMonitor: another debug-output monitor owns DBWIN_BUFFER in this Wine prefix; "
              "only one can run per wineserver\n");
      return false;
    }
    Sleep(50);
  }
  view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
  stop_ = CreateEventA(nullptr, TRUE /* manual reset */, FALSE, nullptr);
  if (!view_ || !stop_) {
    fprintf(stderr, "DebugMonitor: cannot map the debug-output buffer (error %lu)\n",
            GetLastError());
    CloseObjects();
    return false;
  }
  thread_ = std::thread([this] { Receive(); });
  return true;
}

// Offers the buffer to one writer and takes its line. False when no line
// came within waitMs or Stop was asked for.
bool DebugMonitor::TakeLine(DWORD waitMs) {
  SetEvent(bufferReady_);
  HANDLE handles[] = {dataReady_, stop_};
  DWORD count = waitMs == INFINITE ? 2 : 1;  // the drain ignores the stop event
  if (WaitForMultipleObjects(count, handles, FALSE, waitMs) != WAIT_OBJECT_0) return false;
  DebugLine line;
  memcpy(&line.pid, view_, sizeof line.pid);
  const char* text = view_ + sizeof(DWORD);
  line.text.assign(text, strnlen(text, kBufferSize - sizeof(DWORD)));
  {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(std::move(line));
  }
  arrived_.notify_all();
  return true;
}

void DebugMonitor::Receive() {
  while (TakeLine(INFINITE)) {
  }
  // Writers queued for the buffer hold the objects until they are served;
  // serve them briefly so the names are free when Stop returns.
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (std::chrono::steady_clock::now() < until && TakeLine(20)) {
  }
}

void DebugMonitor::Stop() {
  if (thread_.joinable()) {
    SetEvent(stop_);
    thread_.join();
  }
  CloseObjects();
}

std::vector<DebugLine> DebugMonitor::Lines() const {
  std::lock_guard<std::mutex> hold(lock_);
  return lines_;
}

std::vector<std::string> DebugMonitor::TextsFrom(DWORD pid) const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<std::string> texts;
  for (const DebugLine& line : lines_)
    if (line.pid == pid) texts.push_back(line.text);
  return texts;
}

std::vector<std::string> DebugMonitor::Texts() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<std::string> texts;
  for (const DebugLine& line : lines_) texts.push_back(line.text);
  return texts;
}

bool DebugMonitor::WaitFor(const std::function<bool(const std::vector<DebugLine>&)>& done,
                           DWORD timeoutMs) {
  std::unique_lock<std::mutex> hold(lock_);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return done(lines_); });
}

bool DebugMonitor::WaitForText(const std::string& substring, DWORD timeoutMs) {
  return WaitFor(
      [&](const std::vector<DebugLine>& lines) {
        for (const DebugLine& line : lines)
          if (line.text.find(substring) != std::string::npos) return true;
        return false;
      },
      timeoutMs);
}

void DebugMonitor::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  lines_.clear();
}
