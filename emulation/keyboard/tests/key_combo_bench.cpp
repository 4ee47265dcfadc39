// KeyComboBench: what the keyboard emulation costs on the real system calls.
//  - Parse time per combination (ParseKeyCombo of a text, canonical text
//    written back), beside the floor of the two MapVirtualKeyA calls a
//    combination with a key makes.
//  - Press to first key message: from PressKeyCombo to the first key message
//    of the combination taken off the queue of a focused window of this
//    process (Xvfb), beside the floor of one SendInput of the same first
//    event sent directly.
// Prints figures, judges nothing.
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

#include <vector>

#include "foreground_window.h"
#include "key_messages.h"
#include "keyboard.h"
#include "latency_figures.h"

using namespace KestrinKeyboard;

namespace {

void ParseTimes() {
  static const wchar_t* const texts[] = {L"ctrl+shift+f5", L"Shift+Alt+a", L"Ctrl+&",
                                         L"PrintScreen", L"Ctrl+Numpad+", L"Win+E"};
  const int rounds = 20000;
  {
    // The first call loads the keyboard layout: not part of the figures.
    wchar_t buffer[kKeyComboTextChars] = L"F5";
    KeyCombo combo = {};
    ParseKeyCombo(buffer, &combo);
  }
  for (const wchar_t* text : texts) {
    wchar_t buffer[kKeyComboTextChars];
    KeyCombo combo = {};
    const double start = MicrosecondsNow();
    for (int i = 0; i < rounds; ++i) {
      wcscpy(buffer, text);
      ParseKeyCombo(buffer, &combo);
    }
    const double perParse = (MicrosecondsNow() - start) / rounds;
    char narrow[64];
    snprintf(narrow, sizeof narrow, "%ls", text);
    printf("parse %-16s %8.3f us per combination\n", narrow, perParse);
  }
  volatile UINT sink = 0;
  const double start = MicrosecondsNow();
  for (int i = 0; i < rounds; ++i) {
    sink = sink + MapVirtualKeyA(VK_F5, MAPVK_VK_TO_VSC) + MapVirtualKeyA(0x3F, MAPVK_VSC_TO_VK);
  }
  printf("floor: two MapVirtualKeyA calls %8.3f us\n", (MicrosecondsNow() - start) / rounds);
}

// From the call to the first key message of `window`; the rest of the
// combination's messages are taken off before the next sample.
void PressLatency(HWND window, const wchar_t* text, size_t messages) {
  const int samples = 500;
  wchar_t buffer[kKeyComboTextChars];
  wcscpy(buffer, text);
  KeyCombo combo = {};
  ParseKeyCombo(buffer, &combo);
  std::vector<double> combination, floor;
  int lostCombination = 0, lostFloor = 0;
  for (int i = 0; i < samples; ++i) {
    double start = MicrosecondsNow();
    PressKeyCombo(&combo);
    if (TakeKeyMessages(window, 1, 2000).size() == 1) {
      combination.push_back(MicrosecondsNow() - start);
    } else {
      ++lostCombination;
    }
    ReleaseKeyCombo(&combo);
    TakeKeyMessages(window, messages - 1, 2000);

    // The floor: the same first event, alone, straight to SendInput.
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    if (combo.m_Flags & KeyCtrl) {
      input.ki.wVk = VK_LCONTROL;
      input.ki.wScan = 0x1D;
      input.ki.dwFlags = KEYEVENTF_SCANCODE;
    } else {
      input.ki.wVk = combo.m_Vk;
      input.ki.wScan = combo.m_Scan;
    }
    start = MicrosecondsNow();
    SendInput(1, &input, sizeof input);
    if (TakeKeyMessages(window, 1, 2000).size() == 1) {
      floor.push_back(MicrosecondsNow() - start);
    } else {
      ++lostFloor;
    }
    input.ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
    TakeKeyMessages(window, 1, 2000);
  }
  char what[80];
  snprintf(what, sizeof what, "press %ls -> first key message", text);
  PrintLatency(what, combination, lostCombination);
  PrintLatency("floor: SendInput of that event -> its message", floor, lostFloor);
  if (!combination.empty() && !floor.empty()) {
    std::sort(combination.begin(), combination.end());
    std::sort(floor.begin(), floor.end());
    printf("ratio to the floor: p50 %.2f\n",
           combination[combination.size() / 2] / floor[floor.size() / 2]);
  }
}

}  // namespace

int main() {
  printf("KeyComboBench (%s build)\n", sizeof(void*) == 8 ? "x64" : "x86");
  ParseTimes();
  HWND window = ShowForegroundWindow("KeyComboBenchWindow", "KeyComboBench");
  if (!window) {
    printf("no window (no display?): press latency left unmeasured\n");
    return 0;
  }
  SetFocus(window);
  TakeKeyMessages(window, 1000, 200);
  PressLatency(window, L"F5", 2);             // key down and up
  PressLatency(window, L"Ctrl+Shift+F5", 6);  // two modifiers down, key, two up
  DestroyWindow(window);
  return 0;
}
