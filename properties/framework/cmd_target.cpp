#include "cmd_target.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY kEntries[] = {{0, 0, 0, nullptr}};
  static const AFX_MSGMAP kMap = {nullptr, kEntries};
  return &kMap;
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message, WPARAM wParam) const {
  for (const AFX_MSGMAP* map = GetMessageMap(); map;
       map = map->m_pfnGetBaseMap ? map->m_pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* entry = map->m_Entries; entry->m_Message; ++entry) {
      if (entry->m_Message != message) continue;
      if (message == WM_COMMAND &&
          (entry->m_Code != HIWORD(wParam) || entry->m_Id != LOWORD(wParam)))
        continue;
      return entry;
    }
  }
  return nullptr;
}

bool CCmdTarget::DispatchMapMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT* result) {
  const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message, wParam);
  if (!entry) return false;
  *result = entry->m_Call(this, wParam, lParam);
  return true;
}
