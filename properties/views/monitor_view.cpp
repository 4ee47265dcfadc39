#include "monitor_view.h"

#include <GL/gl.h>

#include "gl_window.h"
#include "picture.h"
#include "views_gl.h"

BEGIN_MESSAGE_MAP(CMonitor2D3D, CStatic)
  ON_WM_PAINT()
END_MESSAGE_MAP()

CMonitor2D3D::CMonitor2D3D() = default;

CMonitor2D3D::~CMonitor2D3D() {
  if (m_hRC) {
    if (wglGetCurrentContext() == m_hRC) wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(m_hRC);
  }
}

void CMonitor2D3D::OnPaint() {
  CPaintDC dc(this);
  if (!m_hRC) {
    // The first paint: the context on this control's pixel format.
    kestrin_gl::SetWindowPixelFormat(dc.m_hDC, 32);
    m_hRC = wglCreateContext(dc.m_hDC);
  }
  // No context, or one that cannot be made current now: nothing to draw
  // with, and the next paint tries again.
  if (!m_hRC || !wglMakeCurrent(dc.m_hDC, m_hRC)) return;
  if (!m_bViewportRead) {
    // The viewport OpenGL reports once the context is current for the first
    // time, and the picture scaled once to it. Read before that, it would be
    // zeros for good: nothing drawn, and no view for the dialog's wraps.
    glGetIntegerv(GL_VIEWPORT, m_Viewport);
    m_bViewportRead = true;
    views::ScaledPicture picture =
        views::ScaleMonitorPicture(dc.m_hDC, m_Viewport[2], m_Viewport[3]);
    m_pBackground.swap(picture.pixels);
    m_fScale = picture.scale;
  }
  views::DrawBackground(m_Viewport, m_pBackground.empty() ? nullptr : m_pBackground.data());
  views::SetScreenViewport(m_Viewport, m_pBackground.empty() ? 0.0f : m_fScale);
  Draw3DView();
  wglSwapLayerBuffers(dc.m_hDC, WGL_SWAP_MAIN_PLANE);
  wglMakeCurrent(nullptr, nullptr);
}
