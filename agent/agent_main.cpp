// KestrinElf: the session agent. Started with an empty command line by the
// interface library when no manager window exists; "-k" stops the running one.
#include <windows.h>

#include "startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return AgentMain(instance, commandLine);
}
