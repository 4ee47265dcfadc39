// CKestrin's motion reads: record 1 of the mapped view with the object's own
// read state. A read makes no system call but the time query.
#include "connection_private.h"

namespace Kestrin1 {

namespace {
constexpr float kSecondsPerTic = 0.0002048f;  // 2048 file-time units of 100 ns
}

int CKestrin::GetBallMotion() {
  if (!m_pConnection) {
    m_Motion = ABallMotion();
    return 0;
  }
  return ReadBallSide(m_pConnection, MotionRecord(), g_TicClock, &m_Motion);
}

int CKestrin::GetScrollMotion() {
  if (!m_pConnection) {
    m_Scroll = AScrollMotion();
    return 0;
  }
  return ReadScrollSide(m_pConnection, MotionRecord(), g_TicClock, &m_Scroll);
}

int CKestrin::GetMotion() {
  if (!m_pConnection) {
    m_Motion = ABallMotion();
    return 0;
  }
  return ReadMergedMotion(m_pConnection, MotionRecord(), g_TicClock, &m_Motion, &m_Scroll);
}

float CKestrin::SecondsPerTic() { return kSecondsPerTic; }

}  // namespace Kestrin1
