#include "monitor_window.h"

#include <math.h>

#include "gl_window.h"
#include "library_calls.h"
#include "pipe_client.h"

namespace monitor {
namespace {

MonitorWindowState g_State;

void Redraw(HWND window) { InvalidateRect(window, nullptr, FALSE); }

// What the spinner shows: the ball's last report count and moving bit.
void SpinnerInput(uint16_t* count, int* moving) {
  MonitorPipeClient* client = MonitorPipeClient::Current();
  *count = client ? client->Ball().m_ReportCount : 0;
  *moving = client ? client->Ball().m_Moving : 0;
}

int ReadMotion(MotionDisplayRecord* record) {
  MonitorPipeClient* client = MonitorPipeClient::Current();
  if (client) return client->ReadDeviceMotion(record);
  *record = MotionDisplayRecord();
  return 0;
}

void OnTimer(HWND window) {
  MonitorDisplay& display = g_State.m_Display;
  int valid = ReadMotion(&display.m_Record);
  switch (MotionTick(&display, valid)) {
    case TickIgnored:
      return;
    case TickRedrawAndStop:
      KillTimer(window, kMonitorTimerId);
      Redraw(window);
      return;
    case TickRedraw:
      Redraw(window);
      return;
  }
}

void OnCreate(HWND window) {
  g_State.m_Dc = GetDC(window);
  // Results not looked at: without a format or a context the window simply
  // draws nothing.
  kestrin_gl::SetWindowPixelFormat(g_State.m_Dc, 16);
  CreatePalette(g_State.m_Dc);
  g_State.m_Context = wglCreateContext(g_State.m_Dc);
  wglMakeCurrent(g_State.m_Dc, g_State.m_Context);
  InitGL();
}

void OnDestroy() {
  wglMakeCurrent(nullptr, nullptr);
  if (g_State.m_Context) wglDeleteContext(g_State.m_Context);
  g_State.m_Context = nullptr;
  if (g_State.m_Palette) DeleteObject(g_State.m_Palette);
  g_State.m_Palette = nullptr;
  PostQuitMessage(0);
}

void OnPaint(HWND window) {
  glFlush();
  DrawScene();
  SwapBuffers(g_State.m_Dc);
  ValidateRect(window, nullptr);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);  // ready for the next frame
}

void OnSize(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  g_State.m_Width = static_cast<unsigned>(client.right - client.left);
  g_State.m_Height = static_cast<unsigned>(client.bottom - client.top);
  if (g_State.m_Width && g_State.m_Height)
    glViewport(0, 0, static_cast<GLsizei>(g_State.m_Width), static_cast<GLsizei>(g_State.m_Height));
  Redraw(window);
}

}  // namespace

MonitorWindowState& WindowState() { return g_State; }

ATOM RegisterMonitorClass(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MonitorWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kMonitorIcon));
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.lpszClassName = kMonitorClass;
  return RegisterClassA(&windowClass);
}

HWND CreateMonitorWindow(HINSTANCE instance) {
  return CreateWindowExA(WS_EX_TOPMOST, kMonitorClass, kMonitorCaption, kMonitorStyle, kMonitorX,
                         kMonitorY, kMonitorWidth, kMonitorHeight, nullptr, nullptr, instance,
                         nullptr);
}

LRESULT CALLBACK MonitorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_SIZE:
      OnSize(window);
      return 0;
    case WM_PAINT:
      OnPaint(window);
      return 0;
    case WM_CHAR:
      if (wParam == 'S' || wParam == 's') {
        g_State.m_Spinner = !g_State.m_Spinner;
        Redraw(window);
      } else if (wParam == 'X' || wParam == 'x') {
        DestroyWindow(window);
      }
      return 0;
    case WM_TIMER:
      OnTimer(window);
      return 0;
    case WM_QUERYNEWPALETTE:
      if (g_State.m_Palette) {
        SelectPalette(g_State.m_Dc, g_State.m_Palette, FALSE);
        UINT realized = RealizePalette(g_State.m_Dc);
        Redraw(window);
        return realized;
      }
      return 0;
    case WM_PALETTECHANGED:
      if (g_State.m_Palette && reinterpret_cast<HWND>(wParam) != window) {
        SelectPalette(g_State.m_Dc, g_State.m_Palette, FALSE);
        RealizePalette(g_State.m_Dc);
        UpdateColors(g_State.m_Dc);
      }
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

int MessageLoop() {
  MonitorPipeClient* client = MonitorPipeClient::Current();
  client->DrainMonitorPipe();  // starts the first read
  HANDLE readEvent = client->ReadEvent();
  while (!client->PipeBroken()) {
    DWORD woken = MsgWaitForMultipleObjectsEx(1, &readEvent, INFINITE, QS_ALLINPUT,
                                              MWMO_INPUTAVAILABLE);
    if (woken == WAIT_FAILED) {
      MessageBoxA(nullptr, "Wait failed", kMonitorCaption, MB_OK);
      return 0;
    }
    if (woken == WAIT_OBJECT_0) {
      ResetEvent(readEvent);
      client->DrainMonitorPipe();
      continue;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return 0;
}

void CreatePalette(HDC dc) {
  PIXELFORMATDESCRIPTOR format = {};
  int index = GetPixelFormat(dc);
  if (!index || !DescribePixelFormat(dc, index, sizeof format, &format)) return;
  if (!(format.dwFlags & PFD_NEED_PALETTE)) return;
  int entries = 1 << format.cColorBits;
  size_t bytes = sizeof(LOGPALETTE) + (entries - 1) * sizeof(PALETTEENTRY);
  LOGPALETTE* palette = static_cast<LOGPALETTE*>(LocalAlloc(LPTR, bytes));
  if (!palette) return;
  palette->palVersion = 0x300;
  palette->palNumEntries = static_cast<WORD>(entries);
  for (int i = 0; i < entries; ++i) {
    PALETTEENTRY& entry = palette->palPalEntry[i];
    entry.peRed = PaletteComponent(i, format.cRedShift, format.cRedBits);
    entry.peGreen = PaletteComponent(i, format.cGreenShift, format.cGreenBits);
    entry.peBlue = PaletteComponent(i, format.cBlueShift, format.cBlueBits);
    entry.peFlags = 0;
  }
  g_State.m_Palette = ::CreatePalette(palette);
  LocalFree(palette);
  if (g_State.m_Palette) {
    SelectPalette(dc, g_State.m_Palette, FALSE);
    RealizePalette(dc);
  }
}

namespace {

int CALLBACK FaceFound(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one is enough
}

void CreateFontLists(HDC dc) {
  g_State.m_FontFace = ChooseMonitorFontFace(dc);
  LOGFONTA face = {};
  face.lfHeight = -10;
  face.lfWeight = 700;
  lstrcpynA(face.lfFaceName, g_State.m_FontFace.c_str(), LF_FACESIZE);
  HFONT font = CreateFontIndirectA(&face);
  HGDIOBJ previous = SelectObject(dc, font);
  wglUseFontOutlinesA(dc, 0, 128, kSolidGlyphs, 0.0f, 0.1f, WGL_FONT_POLYGONS, nullptr);
  wglUseFontOutlinesA(dc, 0, 128, kOutlineGlyphs, 0.0f, 0.1f, WGL_FONT_LINES, nullptr);
  SelectObject(dc, previous);
  DeleteObject(font);
  glListBase(kSolidGlyphs);
}

void SetLight(GLenum light, GLenum name, float r, float g, float b, float a) {
  const GLfloat v[4] = {r, g, b, a};
  glLightfv(light, name, v);
}

}  // namespace

std::string ChooseMonitorFontFace(HDC dc) {
  for (const char* name : kFontFaces) {
    LOGFONTA wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(wanted.lfFaceName, name, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExA(dc, &wanted, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
    if (found) return name;
  }
  return kFontFaces[0];
}

void InitGL() {
  CreateFontLists(g_State.m_Dc);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glEnable(GL_LIGHTING);

  const GLfloat ambient[4] = {0.4f, 0.4f, 0.4f, 1.0f};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
  SetLight(GL_LIGHT0, GL_AMBIENT, 0.4f, 0.4f, 0.4f, 1.0f);
  SetLight(GL_LIGHT0, GL_DIFFUSE, 0.7f, 0.7f, 0.7f, 1.0f);
  SetLight(GL_LIGHT0, GL_SPECULAR, 0.9f, 0.9f, 0.9f, 1.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  SetLight(GL_LIGHT0, GL_POSITION, -50.0f, 200.0f, 200.0f, 1.0f);
  glEnable(GL_LIGHT0);

  glEnable(GL_COLOR_MATERIAL);
  glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
  const GLfloat specular[4] = {0.6f, 0.6f, 0.6f, 1.0f};
  glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
  glMaterialf(GL_FRONT, GL_SHININESS, 64.0f);

  glClearColor(0.0f, 0.6f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

namespace {

void RotateByVector(float rx, float ry, float rz) {
  float d = sqrtf(rx * rx + ry * ry + rz * rz);
  if (d < 1e-4f) return;
  glRotatef(d * 0.005859375f, rx / d, ry / d, rz / d);
}

void DrawText(GLuint listBase) {
  glPushMatrix();
  glScalef(10.0f, 10.0f, 10.0f);
  glTranslatef(-1.5f, -0.25f, 1.2f);
  glListBase(listBase);
  glCallLists(7, GL_UNSIGNED_BYTE, "kestrin");
  glPopMatrix();
}

void DrawSphere() {
  glPushMatrix();
  glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
  gluSphere(g_State.m_Quadric, 10.0, 20, 6);
  glPopMatrix();
}

void DrawSpinner() {
  uint16_t count;
  int moving;
  SpinnerInput(&count, &moving);
  if (count != g_State.m_SpinnerCount) {
    g_State.m_SpinnerCount = count;
    ++g_State.m_SpinnerSteps;
  }
  float a = SpinnerAngle(g_State.m_SpinnerSteps);
  if (!g_State.m_Width || !g_State.m_Height) return;
  glViewport(0, 0, static_cast<GLsizei>(g_State.m_Width), static_cast<GLsizei>(g_State.m_Height));
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, g_State.m_Width, 0.0, g_State.m_Height, 1.0, 3.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  if (moving)
    glColor3i(0, 0x7FFFFFFF, 0);
  else
    glColor3i(0x7FFFFFFF, 0, 0);
  glBegin(GL_LINES);
  glVertex3f(10.0f + 5.0f * sinf(a), 10.0f + 5.0f * cosf(a), -2.0f);
  glVertex3f(10.0f - 5.0f * sinf(a), 10.0f - 5.0f * cosf(a), -2.0f);
  glEnd();
}

}  // namespace

void DrawScene() {
  const int16_t* v = g_State.m_Display.m_Record.m_Values;
  ApplyMonitorView(g_State.m_Width, g_State.m_Height);
  glPushMatrix();
  float s = 2.7f * powf(2.0f, v[AxisTz] * 0.4f / 16384.0f);
  glScalef(s, s, 1.0f);
  glTranslatef(v[AxisTx] * 5.0f / 4096.0f, v[AxisTy] * 5.0f / 4096.0f, 0.0f);
  RotateByVector(v[AxisRx], v[AxisRy], v[AxisRz]);
  if (!g_State.m_Quadric) g_State.m_Quadric = gluNewQuadric();

  // Solid text, a little behind everything else in depth.
  glDepthRange(0.0009765625, 1.0);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glColor3f(1.0f, 0.0f, 0.0f);
  DrawText(kSolidGlyphs);
  glFrontFace(GL_CW);  // stays so for everything after, in later frames too

  glColor4f(0.7f, 0.7f, 0.7f, 0.5f);
  DrawSphere();

  // The wire sphere and the outline text, a little in front.
  glDepthRange(0.0, 0.9990234375);
  glPolygonMode(GL_FRONT, GL_LINE);
  glColor3i(0, 0, 0);
  DrawSphere();
  DrawText(kOutlineGlyphs);
  glPopMatrix();

  if (g_State.m_Spinner) DrawSpinner();
  glFlush();
}

}  // namespace monitor
