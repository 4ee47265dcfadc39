// Resource ids of the agent program (also read by the .rc files).
#pragma once

// String table: the agent's debug messages.
#define IDS_WINDOW_PROCESS_NOT_FOUND 120  // "The window's (hWnd=%1!ld!) process not found - %2"
#define IDS_UNKNOWN_MESSAGE 126           // "Unknown message: wParam=%1!8lX! lParam=%2!8lX!"
#define IDS_CALL_FAILED 136               // "%1() failed - %2"
