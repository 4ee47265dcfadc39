// The monitor's window: a small topmost OpenGL window that draws the live
// ball motion as a translucent sphere with the word "kestrin" in 3D letters,
// moved, grown and turned by the shaped values, and a spinner in the corner
// that steps whenever new reports arrive.
#pragma once
#include <windows.h>
#include <GL/gl.h>
#include <GL/glu.h>

#include <string>

#include "motion_shaping.h"

namespace monitor {

constexpr char kMonitorClass[] = "Kestrin Monitor";
constexpr int kMonitorIcon = 130;
// WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU | WS_THICKFRAME |
// WS_MINIMIZEBOX | WS_MAXIMIZEBOX: no caption.
constexpr DWORD kMonitorStyle = 0x060F0000;
constexpr int kMonitorX = 150, kMonitorY = 150, kMonitorWidth = 100, kMonitorHeight = 135;
// Display lists of the text's glyphs: solid ones from 1000, outlines from 1128.
constexpr GLuint kSolidGlyphs = 1000, kOutlineGlyphs = 1128;
// The face the text is made in, and the faces tried in turn when a machine
// lacks it (the first one that exists is taken).
constexpr const char* kFontFaces[] = {"Arial Rounded MT Bold", "Arial", "Liberation Sans",
                                      "DejaVu Sans", "Tahoma"};

struct MonitorWindowState {
  MonitorDisplay m_Display;       // the values drawn and their ring
  bool m_Spinner = true;          // the activity indicator is shown
  int m_SpinnerSteps = 0;
  uint16_t m_SpinnerCount = 0;    // the report count the spinner last saw
  unsigned m_Width = 100, m_Height = 200;  // client size, until the first WM_SIZE
  HDC m_Dc = nullptr;
  HGLRC m_Context = nullptr;
  HPALETTE m_Palette = nullptr;   // only for palette devices
  GLUquadric* m_Quadric = nullptr;  // made at the first draw
  std::string m_FontFace;         // the face the glyph lists were made from
};
MonitorWindowState& WindowState();

ATOM RegisterMonitorClass(HINSTANCE instance);
// The topmost window at (150, 150), 100 x 135; null on failure.
HWND CreateMonitorWindow(HINSTANCE instance);
LRESULT CALLBACK MonitorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Waits on the pipe's read event and the message queue until WM_QUIT (its
// wParam) or a broken pipe (0); "Wait failed" and 0 when the wait fails.
int MessageLoop();

void CreatePalette(HDC dc);
void InitGL();
// The first of kFontFaces that this machine has (the first when none is
// found: the font mapper then picks one itself).
std::string ChooseMonitorFontFace(HDC dc);
void DrawScene();

}  // namespace monitor
