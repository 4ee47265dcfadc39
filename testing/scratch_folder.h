// A folder of a test's own under the user's temporary folder, removed with
// all it holds when the object goes, whatever the order in which the test
// and the programs it started end: a file or folder that a program still
// holds (a library it mapped, a log it writes, its current directory) is
// tried again until that program has let it go, for up to five seconds.
//
//   ScratchFolder folder("kestrin-props-loc");  // %TEMP%\kestrin-props-loc
//   RunningProperties program(folder.path());   // destroyed first: declared after
#pragma once
#include <windows.h>

#include <string>

// Removes folder and everything below it; links below it are removed, never
// followed. True once the folder is gone (or was never there). An empty
// path is nothing to remove.
inline bool RemoveFolderTree(const std::string& folder, DWORD timeoutMs = 5000) {
  if (folder.empty()) return true;
  struct Pass {
    static bool Once(const std::string& path) {
      WIN32_FIND_DATAA found;
      HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
      if (find != INVALID_HANDLE_VALUE) {
        do {
          const std::string name = found.cFileName;
          if (name == "." || name == "..") continue;
          const std::string entry = path + "\\" + name;
          if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesA(entry.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
          if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA(entry.c_str());
          else if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            RemoveDirectoryA(entry.c_str());
          else
            Once(entry);
        } while (FindNextFileA(find, &found));
        FindClose(find);
      }
      if (RemoveDirectoryA(path.c_str())) return true;
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
  };
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (Pass::Once(folder)) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

class ScratchFolder {
 public:
  // %TEMP%\name, made where it is not there yet (what an earlier run left in
  // it stays).
  explicit ScratchFolder(const std::string& name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    path_ = std::string(temp) + name;
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { RemoveFolderTree(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::wstring wpath() const { return std::wstring(path_.begin(), path_.end()); }

 private:
  std::string path_;
};
