// The flat functions of CKestrin: plain exported names, the object first,
// each a direct forward to the member.
#include <new>

#include "kestrin_connection.h"

using Kestrin1::ABallMotion;
using Kestrin1::AScrollMotion;
using Kestrin1::CKestrin;

CKestrin* KesKestrinCreate(unsigned short id, CKestrin::EAccessMode mode) {
  return new (std::nothrow) CKestrin(id, mode);
}

void KesKestrinDestroy(CKestrin* kestrin) { delete kestrin; }

int KesGetBallMotion(CKestrin* kestrin, ABallMotion* out) {
  int result = kestrin->GetBallMotion();
  *out = kestrin->m_Motion;
  return result;
}

int KesGetScrollMotion(CKestrin* kestrin, AScrollMotion* out) {
  int result = kestrin->GetScrollMotion();
  *out = kestrin->m_Scroll;
  return result;
}

int KesGetMotion(CKestrin* kestrin, ABallMotion* out) {
  int result = kestrin->GetMotion();
  *out = kestrin->m_Motion;
  return result;
}

int KesRegister(Kestrin1::KestrinCallback callback, unsigned long processId) {
  return CKestrin::Register(callback, processId);
}
int KesUnRegister(unsigned long processId) { return CKestrin::UnRegister(processId); }
void KesFocusChanged(int gained) { CKestrin::FocusChanged(gained); }
void KesRequestWakeup() { CKestrin::RequestWakeup(); }
unsigned short KesGetKestrinCount() { return CKestrin::GetKestrinCount(); }
unsigned short KesGetNextKestrinId() { return CKestrin::GetNextKestrinId(); }
unsigned short KesGetKestrinId(CKestrin* kestrin) { return kestrin->GetKestrinId(); }
CKestrin::EAccessMode KesGetAccessMode(CKestrin* kestrin) { return kestrin->GetAccessMode(); }
CKestrin::EAccessMode KesSetAccessMode(CKestrin* kestrin, CKestrin::EAccessMode mode) {
  return kestrin->SetAccessMode(mode);
}
unsigned int KesGetLastError(CKestrin* kestrin, unsigned long* detail) {
  return kestrin->GetLastError(detail);
}
char* KesGetErrorText(CKestrin* kestrin, unsigned int code) { return kestrin->GetErrorText(code); }
