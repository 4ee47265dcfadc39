// Finding and reading the windows a running KestrinMonitor.exe opens: its
// message boxes, its main window and what the screen shows of it.
#pragma once
#include <windows.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "monitor_window.h"
#include "pipe_client.h"

namespace monitor {

// Polls every 50 ms until find() gives a window or timeoutMs has passed.
template <typename Find>
HWND WaitForWindow(Find find, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND window = find();
    if (window || GetTickCount() - start >= timeoutMs) return window;
    Sleep(50);
  }
}

// A box captioned "Kestrin Monitor" other than skip.
inline HWND FindMonitorBox(HWND skip = nullptr) {
  HWND box = nullptr;
  while ((box = FindWindowExA(nullptr, box, "#32770", kMonitorCaption)) != nullptr)
    if (box != skip && IsWindowVisible(box)) return box;
  return nullptr;
}

inline HWND FindMonitorWindow() { return FindWindowA(kMonitorClass, kMonitorCaption); }

inline BOOL CALLBACK AddStaticText(HWND child, LPARAM out) {
  char name[16], buffer[256];
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, buffer, sizeof buffer) > 0) {
    std::string* texts = reinterpret_cast<std::string*>(out);
    if (!texts->empty()) *texts += "|";
    *texts += buffer;
  }
  return TRUE;
}

// The texts of a box's static controls, joined by '|' (the icon's is empty).
inline std::string BoxText(HWND box) {
  std::string text;
  EnumChildWindows(box, AddStaticText, reinterpret_cast<LPARAM>(&text));
  return text;
}

// What the screen shows of a window's client area, row by row from the top.
struct ScreenShot {
  int width = 0, height = 0;
  std::vector<COLORREF> pixels;
  COLORREF At(int x, int y) const { return pixels[y * width + x]; }
  template <typename Predicate>
  int Count(Predicate predicate) const {
    int n = 0;
    for (COLORREF c : pixels) n += predicate(c) ? 1 : 0;
    return n;
  }
  // Pixels that differ from a shot of the same size (all of them otherwise).
  int Differences(const ScreenShot& other) const {
    if (other.pixels.size() != pixels.size()) return static_cast<int>(pixels.size());
    int n = 0;
    for (size_t i = 0; i < pixels.size(); ++i) n += pixels[i] != other.pixels[i] ? 1 : 0;
    return n;
  }
};

inline ScreenShot ShootClient(HWND window) {
  ScreenShot shot;
  RECT client;
  if (!GetClientRect(window, &client)) return shot;
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  shot.width = client.right;
  shot.height = client.bottom;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, shot.width, shot.height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, shot.width, shot.height, screen, origin.x, origin.y, SRCCOPY);
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) shot.pixels.push_back(GetPixel(memory, x, y));
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return shot;
}

// Shoots the client area every 50 ms until done(shot) holds or timeoutMs has
// passed, and gives the last shot: frames come later on a loaded machine.
template <typename Done>
ScreenShot ShootWhen(HWND window, Done done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    ScreenShot shot = ShootClient(window);
    if (done(shot) || GetTickCount() - start >= timeoutMs) return shot;
    Sleep(50);
  }
}

inline bool ScreenBackground(COLORREF c) {
  return GetRValue(c) <= 2 && GetGValue(c) >= 150 && GetGValue(c) <= 155 && GetBValue(c) >= 253;
}
inline bool ScreenGrey(COLORREF c) {
  int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  return r > 60 && r < 230 && abs(r - g) < 12 && abs(g - b) < 12;
}
inline bool ScreenRed(COLORREF c) { return GetRValue(c) > 120 && GetGValue(c) < 60 && GetBValue(c) < 60; }
inline bool ScreenGreen(COLORREF c) { return GetGValue(c) > 120 && GetRValue(c) < 60 && GetBValue(c) < 60; }

// Whether any pixel of the 5 x 5 square around the spinner's centre, 10
// pixels from the client area's lower left corner, is so.
template <typename Predicate>
bool SpinnerIs(const ScreenShot& shot, Predicate predicate) {
  for (int y = shot.height - 13; y <= shot.height - 9; ++y)
    for (int x = 8; x <= 12; ++x)
      if (y >= 0 && y < shot.height && predicate(shot.At(x, y))) return true;
  return false;
}

}  // namespace monitor
