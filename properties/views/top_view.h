// CKestrinTopView: the device seen from above in the dialog's "Kestrin" group,
// a subclassed static control. Each paint draws the picture with a yellow
// circle around the ball and around the scroll hat while they are active and
// an ellipse on every held button, read from CKestrinBase's state.
#pragma once
#include <windows.h>

#include "framework.h"

namespace Gdiplus {
class Image;
}

class CKestrinTopView : public CStatic {
 public:
  CKestrinTopView() = default;
  ~CKestrinTopView() override;

  // The decoded picture, made on the first paint and kept; the marks never
  // touch it.
  Gdiplus::Image* m_pImage = nullptr;

 protected:
  void OnPaint();

  DECLARE_MESSAGE_MAP()
};
