#include "top_view.h"

#include "gdiplus_include.h"

#include "kestrin_base.h"
#include "picture.h"

BEGIN_MESSAGE_MAP(CKestrinTopView, CStatic)
  ON_WM_PAINT()
END_MESSAGE_MAP()

CKestrinTopView::~CKestrinTopView() { delete m_pImage; }

void CKestrinTopView::OnPaint() {
  CPaintDC dc(this);
  // A picture that cannot be decoded leaves the control empty; the next paint
  // tries again.
  if (!m_pImage) m_pImage = views::DecodePicture(views::kDevicePicture);
  WINDOWINFO info = {};
  info.cbSize = sizeof info;
  if (!GetWindowInfo(m_hWnd, &info)) return;
  views::PaintDevicePicture(dc.m_hDC, info.rcWindow.right - info.rcWindow.left,
                            info.rcWindow.bottom - info.rcWindow.top, m_pImage,
                            CKestrinBase::Activity(), CKestrinBase::Buttons());
}
