// Works the properties dialog for the demo, as a user would, and prints what
// the demo shows of the settings. One command per run:
//   PropertiesDemoDriver settings          record 1 of the section and HKCU
//   PropertiesDemoDriver store P Z S H F   stores the user's settings in HKCU
//   PropertiesDemoDriver wait              waits for the dialog: its caption and
//                                          rectangle "x y width height"
//   PropertiesDemoDriver controls          the trackbars and the radio buttons
//   PropertiesDemoDriver key ID VK         a key pressed on control ID
//   PropertiesDemoDriver click ID          a click on button ID
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "resource.h"
#include "section_view.h"
#include "settings_keys.h"

namespace {

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  if (!IsWindowVisible(window) || !GetDlgItem(window, IDC_PAN) ||
      !GetDlgItem(window, IDC_DEVICE_LIST))
    return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND Dialog(DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 50) {
    HWND found = nullptr;
    EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&found));
    if (found || waited >= timeoutMs) return found;
    Sleep(50);
  }
}

void PrintSettings() {
  SectionView section;
  if (const DeviceMotionRecord* r = section.Record(1)) {
    printf("  record 1 of the section: pan 0x%04X zoom 0x%04X spin 0x%04X scroll hat 0x%04X, "
           "flags %u\n", r->m_LogFactors[0], r->m_LogFactors[1], r->m_LogFactors[2],
           r->m_LogFactors[3], r->m_Flags);
  } else {
    printf("  record 1 of the section: no section\n");
  }
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    printf("  HKCU\\%s: no key\n", kSettingsKey);
    return;
  }
  uint16_t factors[4] = {};
  DWORD flags = 0, size = sizeof factors;
  bool haveFactors = RegQueryValueExA(key, kLogFactorsValue, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(factors), &size) == ERROR_SUCCESS;
  size = sizeof flags;
  bool haveFlags = RegQueryValueExA(key, kFlagsValue, nullptr, nullptr,
                                    reinterpret_cast<BYTE*>(&flags), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  printf("  HKCU\\%s: ", kSettingsKey);
  if (haveFactors)
    printf("LogFactors pan 0x%04X zoom 0x%04X spin 0x%04X scroll hat 0x%04X, ", factors[0],
           factors[1], factors[2], factors[3]);
  else
    printf("no LogFactors, ");
  if (haveFlags) printf("Flags %lu\n", flags);
  else printf("no Flags\n");
}

int Store(char** argv) {
  uint16_t factors[4];
  for (int i = 0; i < 4; ++i) factors[i] = static_cast<uint16_t>(strtoul(argv[i], nullptr, 0));
  DWORD flags = strtoul(argv[4], nullptr, 0);
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 1;
  RegSetValueExA(key, kLogFactorsValue, 0, REG_QWORD, reinterpret_cast<BYTE*>(factors), 8);
  RegSetValueExA(key, kFlagsValue, 0, REG_DWORD, reinterpret_cast<BYTE*>(&flags), 4);
  RegCloseKey(key);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* command = argv[1];
  if (!strcmp(command, "settings")) {
    PrintSettings();
    return 0;
  }
  if (!strcmp(command, "store") && argc == 7) return Store(argv + 2);
  HWND dialog = Dialog(!strcmp(command, "wait") ? 30000 : 2000);
  if (!dialog) {
    fprintf(stderr, "PropertiesDemoDriver: no properties dialog\n");
    return 1;
  }
  if (!strcmp(command, "wait")) {
    wchar_t caption[128] = {};
    GetWindowTextW(dialog, caption, 128);
    RECT r;
    GetWindowRect(dialog, &r);
    printf("%ls\n%ld %ld %ld %ld\n", caption, r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (!strcmp(command, "controls")) {
    const char* names[4] = {"pan", "zoom", "spin", "scroll hat"};
    printf("  trackbars:");
    for (int i = 0; i < 4; ++i)
      printf(" %s 0x%04lX", names[i],
             static_cast<unsigned long>(SendDlgItemMessageW(dialog, IDC_PAN + i, TBM_GETPOS, 0, 0)));
    printf("; vertical axis: %s\n",
           SendDlgItemMessageW(dialog, IDC_RADIO_ZOOM_SPINZ, BM_GETCHECK, 0, 0) == BST_CHECKED
               ? "Zoom/SpinZ"
               : "PanY/SpinY");
    return 0;
  }
  if (!strcmp(command, "key") && argc == 4) {
    HWND control = GetDlgItem(dialog, atoi(argv[2]));
    PostMessageW(control, WM_KEYDOWN, strtoul(argv[3], nullptr, 0), 1);
    PostMessageW(control, WM_KEYUP, strtoul(argv[3], nullptr, 0), 0xC0000001);
    return 0;
  }
  if (!strcmp(command, "click") && argc == 3) {
    PostMessageW(GetDlgItem(dialog, atoi(argv[2])), BM_CLICK, 0, 0);
    return 0;
  }
  return 2;
}
