// The stand-in configuration program of the applet's tests, installed as
// "Kestrin.exe" where the applet of this test's architecture starts it, and
// the lines it writes for each start.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The program-files folder of this process + "\Pellmor Vastine\Kestrin".
std::string InstallFolder();
// InstallFolder() + "\Kestrin.exe".
std::string InstalledProgramPath();

// Copies the built stand-in to InstalledProgramPath() (making the folders)
// and clears its record. True on success.
bool InstallStandIn();
// Removes the installed program and its record (the folders stay: the
// session agent of other tests lives there too).
void RemoveStandIn();

// One recorded start.
struct StandInStart {
  int args;           // arguments after the program's name
  int show;           // wShowWindow, -1 when the starter gave none
  std::string cwd;    // current folder
  std::string commandLine;
};

// The starts recorded so far.
std::vector<StandInStart> RecordedStarts();
// Waits until at least one start is recorded (up to timeoutMs), then a
// further quietMs for any more, and returns them all.
std::vector<StandInStart> WaitForStarts(DWORD timeoutMs, DWORD quietMs);

// Checks (with gtest expectations) that starts holds exactly the one start
// the applet asks for: no arguments, SW_SHOW, in the folder cwd that was
// current in the starter.
void ExpectOneStartLikeTheApplet(const std::vector<StandInStart>& starts, const std::string& cwd);

// A new empty folder under the temporary folder, for a current folder that
// tells itself apart; removed by RemoveScratchFolder.
std::string MakeScratchFolder();
void RemoveScratchFolder(const std::string& folder);
