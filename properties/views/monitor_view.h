// CMonitor2D3D: one motion view of the properties dialog, a subclassed static
// control drawn with OpenGL: the monitor picture as the background and the
// dialog's object, a wire-frame teapot, inside the picture's screen. The 3D
// view shows the object's translation and rotation, the 2D view its
// translation only. The rendering context is made on the first paint, the
// viewport and the scaled picture on the first paint whose make-current
// succeeds, and all are kept; the views are never resized.
#pragma once
#include <windows.h>

#include <vector>

#include "framework.h"

class CKestrinPropDlg;

class CMonitor2D3D : public CStatic {
 public:
  CMonitor2D3D();
  ~CMonitor2D3D() override;

  // The dialog whose m_Object, m_ViewVolume and m_Agility the view draws.
  CKestrinPropDlg* m_pDlg = nullptr;
  HGLRC m_hRC = nullptr;
  int m_b3D = 0;
  // The monitor picture scaled to the view, 32-bit BGRA rows top to bottom;
  // empty when it could not be made (the view then shows red behind the
  // object, which fills the whole view).
  std::vector<unsigned char> m_pBackground;
  // The view's viewport as OpenGL reports it after the first make-current
  // that succeeded; zeros until then.
  int m_Viewport[4] = {0, 0, 0, 0};
  bool m_bViewportRead = false;
  float m_fScale = 0.0f;

  // The object in the view's current viewport (the dialog's part).
  void Draw3DView();

 protected:
  void OnPaint();

  DECLARE_MESSAGE_MAP()
};
