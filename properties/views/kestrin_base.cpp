#include "kestrin_base.h"

#include <new>

Kestrin1::CKestrin* CKestrinBase::s_pKestrin = nullptr;
CKestrinBase* CKestrinBase::s_pCurrent = nullptr;
WORD CKestrinBase::s_Activity = 3;
long CKestrinBase::s_Buttons = 0;

namespace {
constexpr float kSecondsPerTic = 2.048e-4f;
}  // namespace

CKestrinBase::CKestrinBase() {
  if (!s_pKestrin) s_pKestrin = new (std::nothrow) Kestrin1::CKestrin(0);
  // The registration is process-wide and needs no object; it is repeated for
  // every new object, as the library allows.
  Kestrin1::CKestrin::Register(&KestrinBaseCallback, GetCurrentProcessId());
  s_pCurrent = this;
}

CKestrinBase::~CKestrinBase() {
  delete s_pKestrin;
  s_pKestrin = nullptr;
  s_pCurrent = nullptr;
}

void CKestrinBase::OnActivityChanged(WORD, WORD) {}
void CKestrinBase::OnButtonsChanged(long, long) {}

void CKestrinBase::OnButtonEvent(long param, int index) {
  if (!s_pCurrent) return;
  if (index == 4) {
    const long old = s_Buttons;
    s_pCurrent->OnButtonsChanged(old, param);
    s_Buttons = param;
    return;
  }
  WORD word = s_Activity;
  switch (index) {
    case 0: word = static_cast<WORD>(word | 0x14); break;
    case 1: word = static_cast<WORD>(word & ~0x14); break;
    case 2: word = static_cast<WORD>(word | 0x28); break;
    case 3: word = static_cast<WORD>(word & ~0x28); break;
    default: return;
  }
  if (word != s_Activity) s_pCurrent->OnActivityChanged(s_Activity, word);
  s_Activity = word;
}

int CKestrinBase::ReadMotion(float& seconds, short ball[6], short scroll[2]) {
  for (int i = 0; i < 6; ++i) ball[i] = 0;
  scroll[0] = scroll[1] = 0;
  if (!s_pKestrin) return 0;
  const int ballNews = s_pKestrin->GetBallMotion();
  const int scrollNews = s_pKestrin->GetScrollMotion();
  int result = 0;
  if (ballNews) {
    const Kestrin1::ABallMotion& m = s_pKestrin->m_Motion;
    ball[0] = m.tx; ball[1] = m.ty; ball[2] = m.tz;
    ball[3] = m.rx; ball[4] = m.ry; ball[5] = m.rz;
    seconds = m.tics * kSecondsPerTic;
    result |= 0x10;
  }
  if (scrollNews) {
    scroll[0] = s_pKestrin->m_Scroll.x;
    scroll[1] = s_pKestrin->m_Scroll.y;
    if (!ballNews) seconds = s_pKestrin->m_Scroll.tics * kSecondsPerTic;
    result |= 0x20;
  }
  return result;
}

long KESTRIN1_CALLBACK KestrinBaseCallback(unsigned int event, long param) {
  const unsigned int code = event & 0xFF;
  if (CKestrinBase::SharedConnection() && CKestrinBase::Current() && code >= 1 && code <= 5)
    CKestrinBase::OnButtonEvent(param, static_cast<int>(code) - 1);
  return 0;
}
