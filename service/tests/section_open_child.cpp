// A program of an ordinary user (ordinary_user.h), as another session runs
// it: opens the service's motion section with the access named on its
// command line ("read" or "write").
// read: maps it read-only and prints record 1's ball header and first sum.
// Exit code 0 on success, 2 when it cannot act as an ordinary user, else the
// error of the failed call.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "motion_section.h"
#include "ordinary_user.h"

int main(int argc, char** argv) {
  bool write = argc > 1 && strcmp(argv[1], "write") == 0;
  OrdinaryUser user;
  if (!user.acting()) return 2;
  HANDLE section = OpenFileMappingA(write ? FILE_MAP_WRITE : FILE_MAP_READ, FALSE, kSectionName);
  if (!section) return static_cast<int>(GetLastError());
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  void* view = MapViewOfFile(section, write ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0,
                             SectionBytesForPageSize(info.dwPageSize));
  if (!view) return static_cast<int>(GetLastError());
  if (!write) {
    BallBuffer copy = {};
    uint16_t header = 0;
    if (!ReadBallMotion(SectionRecord(static_cast<const void*>(view), 1), &copy, &header))
      return 1;
    printf("header=%04x sum=%d\n", header, static_cast<int>(copy.m_Sums[2]));
  }
  UnmapViewOfFile(view);
  CloseHandle(section);
  return 0;
}
