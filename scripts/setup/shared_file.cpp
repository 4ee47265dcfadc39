// KestrinSharedFile.exe: a library shared in a system folder, placed and
// removed the way Windows installers share one.
//
//   KestrinSharedFile place x64|x86 SOURCE
//       puts SOURCE under its own name into the system folder of that
//       architecture's programs, unless the copy there is newer, and counts
//       one more installation that uses it;
//   KestrinSharedFile update x64|x86 SOURCE
//       the same for an installation that is counted already (installed
//       again): the count stays;
//   KestrinSharedFile release x64|x86 NAME
//       counts one installation less that uses the system folder's NAME, and
//       removes the copy with the last one.
//
// One line on stdout says what was done; a failure goes to stderr with exit
// code 1 (2 for a wrong command line). The counts are the system's: a
// REG_DWORD under HKLM "Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
// named by the copy's full path. That key is one key for the programs of both
// architectures on 64-bit Windows; under Wine it is not, so it is always
// opened in the 64-bit view, where Windows keeps the counts of both system
// folders. A version is that of the file's version resource (its fixed file
// version); a copy without one is older than any.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

const wchar_t kSharedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

void Fail(const wchar_t* what, const std::wstring& path, DWORD error) {
  fwprintf(stderr, L"KestrinSharedFile: %ls %ls (error %lu)\n", what, path.c_str(),
           static_cast<unsigned long>(error));
}

// The system folder of an architecture's programs: system32 for the
// process's own, syswow64 for x86 programs on 64-bit Windows. The x86 build
// of this program, whose system32 the system redirects, serves x86 only.
bool SystemFolder(const wchar_t* arch, std::wstring* folder) {
  wchar_t path[MAX_PATH];
  UINT length = 0;
#ifdef _WIN64
  if (wcscmp(arch, L"x64") == 0) {
    length = GetSystemDirectoryW(path, MAX_PATH);
  } else if (wcscmp(arch, L"x86") == 0) {
    length = GetSystemWow64DirectoryW(path, MAX_PATH);
  }
#else
  if (wcscmp(arch, L"x86") == 0) {
    length = GetSystemWow64DirectoryW(path, MAX_PATH);
    if (length == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
      length = GetSystemDirectoryW(path, MAX_PATH);  // 32-bit Windows
    }
  }
#endif
  if (length == 0 || length >= MAX_PATH) return false;
  *folder = path;
  return true;
}

// The file's fixed file version as one number (major in the top 16 bits);
// false when it has no version resource.
bool FileVersion(const std::wstring& path, uint64_t* version) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) ||
      infoSize < sizeof *info || info->dwSignature != VS_FFI_SIGNATURE) {
    return false;
  }
  *version = (static_cast<uint64_t>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
  return true;
}

std::wstring VersionText(uint64_t version) {
  wchar_t text[32];
  swprintf(text, 32, L"%u.%u.%u.%u", static_cast<unsigned>(version >> 48),
           static_cast<unsigned>((version >> 32) & 0xFFFF),
           static_cast<unsigned>((version >> 16) & 0xFFFF),
           static_cast<unsigned>(version & 0xFFFF));
  return text;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The shared-libraries key in the 64-bit view, created when missing.
HKEY OpenSharedKey() {
  HKEY key = nullptr;
  const LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedKey, 0, nullptr, 0,
                                      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                                      &key, nullptr);
  if (result != ERROR_SUCCESS) {
    Fail(L"cannot open", L"HKLM\\" + std::wstring(kSharedKey), static_cast<DWORD>(result));
    return nullptr;
  }
  return key;
}

// The count of path; false when it has none: no value, one that is not a
// REG_DWORD, or 0 (no user counted, as some installers leave it).
bool ReadCount(HKEY key, const std::wstring& path, DWORD* count) {
  DWORD type = 0;
  DWORD size = sizeof *count;
  return RegQueryValueExW(key, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(count),
                          &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof *count && *count != 0;
}

bool WriteCount(HKEY key, const std::wstring& path, DWORD count) {
  const LONG result = RegSetValueExW(key, path.c_str(), 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&count), sizeof count);
  if (result != ERROR_SUCCESS) Fail(L"cannot count the users of", path, static_cast<DWORD>(result));
  return result == ERROR_SUCCESS;
}

std::wstring Users(DWORD count) {
  return std::to_wstring(count) +
         (count == 1 ? L" installation uses it" : L" installations use it");
}

int Place(const std::wstring& folder, const std::wstring& source, bool newUser) {
  uint64_t version = 0;
  if (!IsFile(source)) {
    Fail(L"cannot find", source, ERROR_FILE_NOT_FOUND);
    return 1;
  }
  if (!FileVersion(source, &version)) {
    fwprintf(stderr, L"KestrinSharedFile: %ls has no version resource: not shared\n",
             source.c_str());
    return 1;
  }
  const size_t slash = source.find_last_of(L"\\/");
  const std::wstring target =
      folder + L"\\" + (slash == std::wstring::npos ? source : source.substr(slash + 1));
  HKEY key = OpenSharedKey();
  if (!key) return 1;
  const bool there = IsFile(target);
  uint64_t thereVersion = 0;
  const bool thereVersioned = there && FileVersion(target, &thereVersion);
  std::wstring done;
  if (thereVersioned && thereVersion > version) {
    done = L"kept, the copy there is newer (" + VersionText(thereVersion) + L" over " +
           VersionText(version) + L")";
  } else if (CopyFileW(source.c_str(), target.c_str(), FALSE)) {
    done = L"placed (" + VersionText(version);
    if (there) {
      done += thereVersioned ? L" over " + VersionText(thereVersion)
                             : std::wstring(L" over a copy without version");
    }
    done += L")";
  } else {
    Fail(L"cannot copy to", target, GetLastError());
    RegCloseKey(key);
    return 1;
  }
  // A copy that was there without a count was put there by something that
  // did not count it: that one is a user too, and the copy stays for it. An
  // installation counted already whose count is gone is counted again.
  DWORD count = 0;
  bool counted = ReadCount(key, target, &count);
  if (!counted) count = there ? 1 : 0;
  if (!counted || newUser) {
    ++count;
    counted = WriteCount(key, target, count);
  }
  RegCloseKey(key);
  if (!counted) return 1;
  wprintf(L"%ls: %ls; %ls\n", target.c_str(), done.c_str(), Users(count).c_str());
  return 0;
}

int Release(const std::wstring& folder, const std::wstring& name) {
  const std::wstring target = folder + L"\\" + name;
  HKEY key = OpenSharedKey();
  if (!key) return 1;
  DWORD count = 0;
  int status = 0;
  if (!ReadCount(key, target, &count)) {
    // Not counted (or counted out by someone else): whoever uses it did not
    // say, so it stays.
    wprintf(L"%ls: no installation counted as its user, left as it is\n", target.c_str());
  } else if (count > 1) {
    if (WriteCount(key, target, count - 1)) {
      wprintf(L"%ls: %ls\n", target.c_str(), Users(count - 1).c_str());
    } else {
      status = 1;
    }
  } else if (DeleteFileW(target.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) {
    RegDeleteValueW(key, target.c_str());
    wprintf(L"%ls: removed with its last user\n", target.c_str());
  } else if (MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    // In use: gone at the next start of the system.
    RegDeleteValueW(key, target.c_str());
    wprintf(L"%ls: in use, removed at the next restart with its last user\n", target.c_str());
  } else {
    Fail(L"cannot remove", target, GetLastError());  // the count stays for another try
    status = 1;
  }
  RegCloseKey(key);
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool place = argc == 4 && wcscmp(argv[1], L"place") == 0;
  const bool update = argc == 4 && wcscmp(argv[1], L"update") == 0;
  const bool release = argc == 4 && wcscmp(argv[1], L"release") == 0;
  if ((!place && !update && !release) ||
      (wcscmp(argv[2], L"x64") != 0 && wcscmp(argv[2], L"x86") != 0)) {
    fwprintf(stderr,
             L"usage: KestrinSharedFile place x64|x86 SOURCE\n"
             L"       KestrinSharedFile update x64|x86 SOURCE\n"
             L"       KestrinSharedFile release x64|x86 NAME\n");
    return 2;
  }
  std::wstring folder;
  if (!SystemFolder(argv[2], &folder)) {
    fwprintf(stderr, L"KestrinSharedFile: no system folder of %ls programs for this program\n",
             argv[2]);
    return 1;
  }
  return release ? Release(folder, argv[3]) : Place(folder, argv[3], place);
}
