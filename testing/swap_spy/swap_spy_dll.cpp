// KestrinSwapSpy.dll: loaded into a running program by KestrinSpyInject.exe
// (testing/injection.h), it shows what the program's OpenGL child windows
// draw where Wine keeps it from the screen (a child window's back buffer
// reaches its window under Wine 8 with Xvfb only through glReadPixels). It
// hooks wglSwapLayerBuffers and SwapBuffers in the program's import table;
// at every swap, before the swap itself, it
//   - appends "<control id> <QueryPerformanceCounter> <frequency>" to
//     swaps.log, and
//   - unless KESTRIN_SWAP_SPY_FRAMES is 0, reads the back buffer of the
//     window's client area and writes it as view-<control id>.bmp, with
//     view-<control id>.txt holding the client area's screen rectangle and
//     the top-level window's ("x y width height", two lines).
// The folder is KESTRIN_SWAP_SPY_DIR, else this DLL's own folder. Files are
// written whole under a temporary name and then moved into place, so a
// reader never sees half a frame. Its set-up runs on the thread of the
// window it was loaded for, inside that thread's message loop; it ends by
// redrawing every window of the process, so the first frames come at once.
#include <windows.h>
#include <GL/gl.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "import_hook.h"
#include "injection.h"

#ifndef GL_BGRA_EXT
#define GL_BGRA_EXT 0x80E1
#endif

namespace {

std::string g_Folder;
bool g_SaveFrames = true;
ImportHook* g_LayerHook;
ImportHook* g_SwapHook;
// The functions the import table named, stored before the table is switched.
BOOL(WINAPI* g_RealSwapLayerBuffers)(HDC, UINT);
BOOL(WINAPI* g_RealSwapBuffers)(HDC);
LARGE_INTEGER g_Frequency;

void WriteWhole(const std::string& path, const void* data, size_t size) {
  const std::string temporary = path + ".tmp";
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
  if (ok && written == size) MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void Append(const std::string& path, const std::string& line) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

void SaveFrame(HWND window, int id) {
  RECT client = {};
  if (!GetClientRect(window, &client)) return;
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0) return;
  // A bottom-up 32-bit BMP holds the rows in glReadPixels' order.
  std::vector<unsigned char> file(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) +
                                  static_cast<size_t>(width) * height * 4);
  BITMAPFILEHEADER* head = reinterpret_cast<BITMAPFILEHEADER*>(file.data());
  BITMAPINFOHEADER* info = reinterpret_cast<BITMAPINFOHEADER*>(head + 1);
  head->bfType = 0x4D42;  // "BM"
  head->bfSize = static_cast<DWORD>(file.size());
  head->bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  info->biSize = sizeof *info;
  info->biWidth = width;
  info->biHeight = height;
  info->biPlanes = 1;
  info->biBitCount = 32;
  info->biCompression = BI_RGB;
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, width, height, GL_BGRA_EXT, GL_UNSIGNED_BYTE, file.data() + head->bfOffBits);
  const std::string stem = g_Folder + "\\view-" + std::to_string(id);
  WriteWhole(stem + ".bmp", file.data(), file.size());

  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  RECT top = {};
  GetWindowRect(GetAncestor(window, GA_ROOT), &top);
  char text[160];
  snprintf(text, sizeof text, "%ld %ld %d %d\n%ld %ld %ld %ld\n", origin.x, origin.y, width, height,
           top.left, top.top, top.right - top.left, top.bottom - top.top);
  WriteWhole(stem + ".txt", text, strlen(text));
}

void BeforeSwap(HDC dc) {
  HWND window = WindowFromDC(dc);
  const int id = window ? GetDlgCtrlID(window) : 0;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  char line[96];
  snprintf(line, sizeof line, "%d %lld %lld\n", id, static_cast<long long>(now.QuadPart),
           static_cast<long long>(g_Frequency.QuadPart));
  Append(g_Folder + "\\swaps.log", line);
  if (g_SaveFrames && window) SaveFrame(window, id);
}

BOOL WINAPI SpySwapLayerBuffers(HDC dc, UINT planes) {
  BeforeSwap(dc);
  return g_RealSwapLayerBuffers(dc, planes);
}

BOOL WINAPI SpySwapBuffers(HDC dc) {
  BeforeSwap(dc);
  return g_RealSwapBuffers(dc);
}

BOOL CALLBACK RedrawOne(HWND window, LPARAM) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId())
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
  return TRUE;
}

bool SetUp() {
  QueryPerformanceFrequency(&g_Frequency);
  char buffer[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("KESTRIN_SWAP_SPY_DIR", buffer, sizeof buffer);
  if (n > 0 && n < sizeof buffer) {
    g_Folder = buffer;
  } else {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&SetUp), &self) ||
        !GetModuleFileNameA(self, buffer, sizeof buffer))
      return false;
    g_Folder = buffer;
    g_Folder.resize(g_Folder.find_last_of('\\'));
  }
  n = GetEnvironmentVariableA("KESTRIN_SWAP_SPY_FRAMES", buffer, sizeof buffer);
  g_SaveFrames = !(n == 1 && buffer[0] == '0');
  HMODULE program = GetModuleHandleA(nullptr);
  g_LayerHook = new ImportHook(program, "opengl32.dll", "wglSwapLayerBuffers",
                               reinterpret_cast<void*>(&SpySwapLayerBuffers),
                               reinterpret_cast<void**>(&g_RealSwapLayerBuffers));
  g_SwapHook = new ImportHook(program, "gdi32.dll", "SwapBuffers",
                              reinterpret_cast<void*>(&SpySwapBuffers),
                              reinterpret_cast<void**>(&g_RealSwapBuffers));
  if (!g_LayerHook->installed() && !g_SwapHook->installed()) return false;
  EnumWindows(RedrawOne, 0);
  return true;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK KestrinInjectedHook(int code, WPARAM wParam,
                                                                      LPARAM lParam) {
  return RunInjectedSetUp(code, wParam, lParam, &SetUp);
}
