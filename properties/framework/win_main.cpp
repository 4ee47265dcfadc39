// The program's entry (Unicode): hands over to the framework, which runs the
// application object's InitInstance. Linked into the program only: the tests
// call AfxWinMain themselves.
#include "win_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  return AfxWinMain(instance, previous, commandLine, show);
}
