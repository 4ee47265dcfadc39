// Loading a test tool's DLL into a running program, both sides.
//
// A program with a message loop is given the DLL through a WH_GETMESSAGE hook
// on the thread that owns one of its windows, and a posted WM_NULL: the
// program loads the DLL itself inside its own GetMessage, a safe point, and
// the DLL does its set-up there, on that thread, outside DllMain. Nothing runs
// inside the program on a thread of ours: under Wine a remote thread is made
// by interrupting a thread of the target with a signal and creating the
// thread inside the signal handler, which corrupts the heap or deadlocks when
// the interrupted thread was in the C library's allocator.
//
// The DLL exports kInjectedHookName as
//   extern "C" __declspec(dllexport) LRESULT CALLBACK KestrinInjectedHook(int, WPARAM, LPARAM)
// that hands its arguments and its set-up to RunInjectedSetUp, and is linked
// with -Wl,--kill-at (the same name for x86 and x64). The set-up runs once;
// its result reaches the injector through one of two named events of the
// target's process id, which the injector waits for with a time limit.
#pragma once
#include <windows.h>

#include <string>

constexpr const char kInjectedHookName[] = "KestrinInjectedHook";

// In the DLL: the hook procedure's body. The first call pins the DLL in the
// process (the hook's end never unloads it), runs setUp and sets the
// process's "loaded" event when it returned true, its "failed" event when
// not. Every call goes on to the next hook.
LRESULT RunInjectedSetUp(int code, WPARAM wParam, LPARAM lParam, bool (*setUp)());

// The name of the event through which the DLL's set-up in the process
// processId tells the injector that it loaded and set up.
std::wstring InjectionLoadedEventName(DWORD processId);

// In the injector: loads dll (a Windows path) into the process that owns
// window, on the window's thread, and waits at most timeoutMs for the DLL's
// set-up. True when it reported success; otherwise false with the reason in
// *error.
bool InjectIntoWindowThread(HWND window, const std::wstring& dll, DWORD timeoutMs,
                            std::string* error);

// In the injector, for a program without any message loop (a service): a
// thread created in the process calls LoadLibraryW(dll) there, and the DLL does
// its set-up in DllMain; waits at most timeoutMs for the load. Safe under Wine
// only while some thread of the target is blocked in a wait, as a service's
// dispatcher thread is for its whole life (Wine then creates the thread at
// that wait, not inside a signal handler); never use it on a program whose
// only thread may be busy.
bool InjectWithRemoteThread(DWORD processId, const std::wstring& dll, DWORD timeoutMs,
                            std::string* error);
