// The dialog's side of the motion views and the device picture: the device
// events of CMyKestrin, the idle-time polling of motion and its navigation
// step, and the view's drawing of the dialog's object.
#include <GL/gl.h>

#include "KestrinPropApp.h"
#include "KestrinPropDlg.h"
#include "motion_step.h"
#include "views_gl.h"

namespace {

// The dialog running under the application object, or null (before DoModal,
// after it, or in a process without the application object).
CKestrinPropDlg* RunningDialog() {
  CKestrinPropApp* app = static_cast<CKestrinPropApp*>(AfxGetApp());
  return app ? app->m_pDlg : nullptr;
}

void Redraw(const CWnd& view) {
  if (view.m_hWnd) InvalidateRect(view.m_hWnd, nullptr, FALSE);
}

}  // namespace

void CMyKestrin::OnActivityChanged(WORD, WORD) {
  if (CKestrinPropDlg* dialog = RunningDialog()) Redraw(dialog->m_TopView);
}

void CMyKestrin::OnButtonsChanged(long oldButtons, long newButtons) {
  CKestrinPropDlg* dialog = RunningDialog();
  if (!dialog) return;
  Redraw(dialog->m_TopView);
  if (newButtons & ~oldButtons) {  // a button went down: the object starts over
    dialog->m_Object = Kestrin1::CSpatialMath::Identity;
    dialog->m_ViewVolume.m_Height = views::kStartHeight;
    Redraw(dialog->m_View2D);
    Redraw(dialog->m_View3D);
  }
}

LRESULT CKestrinPropDlg::OnKickIdle(WPARAM, LPARAM) {
  Sleep(10);
  OnMotion();
  return 0;  // no further idle call until a message arrives
}

void CKestrinPropDlg::OnMotion() {
  if (!CKestrinBase::SharedConnection()) return;
  float seconds = 0.0f;
  short ball[6], scroll[2];
  if ((CKestrinBase::ReadMotion(seconds, ball, scroll) & 0xFFFF) == 0) return;
  views::StepObject(m_Agility, seconds, ball, scroll, m_Object, m_ViewVolume,
                    m_View3D.m_Viewport[2], m_View3D.m_Viewport[3]);
  Redraw(m_View3D);
  Redraw(m_View2D);
  // Makes the modal loop busy once more, so the next idle poll follows.
  PostMessage(WM_COMMAND, 0, 0);
}

void CMonitor2D3D::Draw3DView() {
  if (!m_pDlg) return;
  views::DrawMotionScene(m_pDlg->m_Object, m_pDlg->m_ViewVolume, m_Viewport, m_b3D);
}
