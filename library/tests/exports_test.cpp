// The exported interface of Kestrin1.dll is a contract: the names in its
// export table, read from the file's own export directory, must be exactly
// these, nothing missing and nothing extra. Class members carry the
// toolchain's (Itanium) decoration, flat functions and data their plain
// names. The ABI has no default-constructor closures: a default argument is
// evaluated by the caller, and each constructor and the destructor come as
// a complete-object (C1, D1) and a base-object (C2, D2) entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kFlatFunctions[] = {
    "KesAgilityCreate",   "KesAgilityDestroy",    "KesCameraControl",    "KesFenceMotionHandle",
    "KesFocusChanged",    "KesGetAAgility",       "KesGetAccessMode",    "KesGetBallMotion",
    "KesGetErrorText",    "KesGetKestrinCount",   "KesGetKestrinId",     "KesGetLastError",
    "KesGetMotion",       "KesGetNextKestrinId",  "KesGetScrollMotion",  "KesIsInViewRectangle",
    "KesKestrinCreate",   "KesKestrinDestroy",    "KesMakeUpright",      "KesObjectControl",
    "KesObjectControlCs", "KesRegister",          "KesRequestWakeup",    "KesSetAAgility",
    "KesSetAccessMode",   "KesSetFlyFactor",      "KesUnRegister",
};

const char* const kData[] = {
    "AJLSKDFHEIEMUWPMXURSKDFNB",
    "KesMonitorRefreshPeriod",
    "KesSecondsPerTic",
    "_ZN8Kestrin112CSpatialMath8IdentityE",       // CSpatialMath::Identity
    "_ZN8Kestrin112CSpatialMath5UnitXE",          // CSpatialMath::UnitX
    "_ZN8Kestrin112CSpatialMath5UnitYE",
    "_ZN8Kestrin112CSpatialMath5UnitZE",
    "_ZN8Kestrin18CAgility15m_DefaultValuesE",    // CAgility::m_DefaultValues
    "_ZN8Kestrin18CKestrin22m_MonitorRefreshPeriodE",
};

const char* const kMembers[] = {
    // CKestrin
    "_ZN8Kestrin18CKestrinC1EtNS0_11EAccessModeE",  // CKestrin(unsigned short, EAccessMode)
    "_ZN8Kestrin18CKestrinC2EtNS0_11EAccessModeE",
    "_ZN8Kestrin18CKestrinD1Ev",
    "_ZN8Kestrin18CKestrinD2Ev",
    "_ZN8Kestrin18CKestrinaSERKS0_",                // operator=(const CKestrin&)
    "_ZN8Kestrin18CKestrin12FocusChangedEi",
    "_ZN8Kestrin18CKestrin13GetAccessModeEv",
    "_ZN8Kestrin18CKestrin15GetKestrinCountEv",
    "_ZN8Kestrin18CKestrin12GetKestrinIdEv",
    "_ZN8Kestrin18CKestrin13GetBallMotionEv",
    "_ZN8Kestrin18CKestrin12GetErrorTextEj",
    "_ZN8Kestrin18CKestrin12GetLastErrorEPm",
    "_ZN8Kestrin18CKestrin9GetMotionEv",
    "_ZN8Kestrin18CKestrin16GetNextKestrinIdEv",
    "_ZN8Kestrin18CKestrin15GetScrollMotionEv",
#if defined(_WIN64)
    "_ZN8Kestrin18CKestrin8RegisterEPFljlEm",  // Register(long (*)(unsigned int, long), unsigned long)
#else
    // Register(long (__stdcall*)(unsigned int, long), unsigned long): x86
    // decorates the callback's calling convention.
    "_ZN8Kestrin18CKestrin8RegisterEPU7stdcallFljlEm",
#endif
    "_ZN8Kestrin18CKestrin13RequestWakeupEv",
    "_ZN8Kestrin18CKestrin13SecondsPerTicEv",
    "_ZN8Kestrin18CKestrin13SetAccessModeENS0_11EAccessModeE",
    "_ZN8Kestrin18CKestrin10UnRegisterEm",
    // CAgility and AAgility
    "_ZN8Kestrin18CAgilityC1ERKNS_8AAgilityE",      // CAgility(const AAgility&)
    "_ZN8Kestrin18CAgilityC2ERKNS_8AAgilityE",
    "_ZN8Kestrin18AAgilityaSERKS0_",                // AAgility::operator=
    "_ZN8Kestrin18CAgilityaSERKS0_",                // CAgility::operator=
    "_ZN8Kestrin18CAgility13CameraControlEfPKsRNS_12CSpatialMath7AMat43fEPKNS3_7AXformfE",
    "_ZN8Kestrin18CAgility17FenceMotionHandleERKNS_12CSpatialMath6AVec3fERS2_RKNS_8CClarity11AViewVolumeEtt",
    "_ZN8Kestrin18CAgility17IsInViewRectangleERKNS_12CSpatialMath6AVec3fERKNS_8CClarity11AViewVolumeEtt",
    "_ZN8Kestrin18CAgility11MakeUprightERNS_12CSpatialMath7AMat33fERKNS1_6AVec3fE",
    "_ZN8Kestrin18CAgility13ObjectControlEfPKsRNS_12CSpatialMath7AXformfEPKS4_PKNS3_7AMat43fERKNS3_6AVec3fERNS_8CClarity11AViewVolumeEtt",
    "_ZN8Kestrin18CAgility12SetFlyFactorERKNS_12CSpatialMath7AXformfEPS3_S5_RKNS1_6AVec3fERKNS_8CClarity11AViewVolumeEtt",
    // CClarity
    "_ZN8Kestrin18CClarityaSERKS0_",
    "_ZN8Kestrin18CClarity5ApplyERKNS_12CSpatialMath7AMat33fE",
    "_ZN8Kestrin18CClarity5ApplyERKNS_12CSpatialMath7AMat43fE",
    "_ZN8Kestrin18CClarity5ApplyERKNS_12CSpatialMath6AVec3fE",
    "_ZN8Kestrin18CClarity5ApplyERKNS_12CSpatialMath7AXformfE",
    "_ZN8Kestrin18CClarity12ApplyInverseERKNS_12CSpatialMath7AMat33fE",
    "_ZN8Kestrin18CClarity12ApplyInverseERKNS_12CSpatialMath7AMat43fE",
    "_ZN8Kestrin18CClarity12ApplyInverseERKNS_12CSpatialMath6AVec3fE",
    "_ZN8Kestrin18CClarity12ApplyInverseERKNS_12CSpatialMath7AXformfE",
    "_ZN8Kestrin18CClarity9ApplyViewEffRKNS0_11AViewVolumeERKNS_12CSpatialMath7AMat43fE",
    // CSpatialMath
    "_ZN8Kestrin112CSpatialMathaSERKS0_",
    "_ZN8Kestrin112CSpatialMath12MatrixToAxisERfRNS0_6AVec3fERKNS0_7AMat33fE",
    "_ZN8Kestrin112CSpatialMath14OrthonormalizeERNS0_7AMat33fE",
    "_ZN8Kestrin112CSpatialMath6RotateEfRKNS0_6AVec3fE",
    "_ZN8Kestrin112CSpatialMath6SelectERKNS0_7AMat33fE",
    "_ZN8Kestrin112CSpatialMath6SumAbsERKNS0_6AVec3fE",
    "_ZN8Kestrin112CSpatialMath9TransposeERNS0_7AMat33fE",
    "_ZN8Kestrin112CSpatialMath12UnpackAnglesERKNS0_7AMat33fEPf",
    "_ZN8Kestrin112CSpatialMath7deg2radEv",
    "_ZN8Kestrin112CSpatialMath2piEv",
    "_ZN8Kestrin112CSpatialMath7rad2degEv",
    // Namespace operators
    "_ZN8Kestrin1ntERKNS_12CSpatialMath7AMat33fE",                   // operator!
    "_ZN8Kestrin1mlERKNS_12CSpatialMath6AVec3fES3_",                 // operator*(v, v)
    "_ZN8Kestrin1mlERKNS_12CSpatialMath6AVec3fERKNS0_7AMat33fE",     // operator*(v, M)
    "_ZN8Kestrin1dvERKNS_12CSpatialMath6AVec3fERKNS0_7AMat33fE",     // operator/(v, M)
    "_ZN8Kestrin1coERKNS_12CSpatialMath7AMat33fE",                   // operator~
    "_ZN8Kestrin1mLERNS_12CSpatialMath7AMat33fERKS1_",               // operator*=(M, N)
    "_ZN8Kestrin1mLERNS_12CSpatialMath6AVec3fERKNS0_7AMat33fE",      // operator*=(v, M)
    "_ZN8Kestrin1dVERNS_12CSpatialMath7AMat33fERKS1_",               // operator/=(M, N)
    "_ZN8Kestrin1dVERNS_12CSpatialMath6AVec3fERKNS0_7AMat33fE",      // operator/=(v, M)
};

// The names of a DLL's export directory, read from the file.
struct ExportTable {
  bool ok = false;
  std::string error;
  std::vector<std::string> names;
  DWORD functions = 0;
};

ExportTable ReadExportTable(const std::string& path) {
  ExportTable table;
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  auto fits = [&](size_t offset, size_t size) { return offset <= bytes.size() && size <= bytes.size() - offset; };
  auto at = [&](size_t offset) { return bytes.data() + offset; };
  if (!fits(0, sizeof(IMAGE_DOS_HEADER))) {
    table.error = "no DOS header in " + path;
    return table;
  }
  IMAGE_DOS_HEADER dos;
  memcpy(&dos, at(0), sizeof dos);
  const size_t nt = static_cast<size_t>(dos.e_lfanew);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || !fits(nt, sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) + sizeof(WORD))) {
    table.error = "not an executable image";
    return table;
  }
  IMAGE_FILE_HEADER header;
  memcpy(&header, at(nt + sizeof(DWORD)), sizeof header);
  const size_t optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
  WORD magic;
  memcpy(&magic, at(optional), sizeof magic);
  IMAGE_DATA_DIRECTORY exports;
  if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC && fits(optional, sizeof(IMAGE_OPTIONAL_HEADER32))) {
    IMAGE_OPTIONAL_HEADER32 o;
    memcpy(&o, at(optional), sizeof o);
    exports = o.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC && fits(optional, sizeof(IMAGE_OPTIONAL_HEADER64))) {
    IMAGE_OPTIONAL_HEADER64 o;
    memcpy(&o, at(optional), sizeof o);
    exports = o.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  } else {
    table.error = "unknown optional header";
    return table;
  }
#if defined(_WIN64)
  const WORD machine = IMAGE_FILE_MACHINE_AMD64;
#else
  const WORD machine = IMAGE_FILE_MACHINE_I386;
#endif
  if (header.Machine != machine) {
    table.error = "the DLL is built for another machine";
    return table;
  }
  // Relative addresses to file offsets through the section table.
  const size_t sections = optional + header.SizeOfOptionalHeader;
  auto offsetOf = [&](DWORD rva, size_t* offset) {
    for (WORD i = 0; i < header.NumberOfSections; ++i) {
      const size_t entry = sections + i * sizeof(IMAGE_SECTION_HEADER);
      if (!fits(entry, sizeof(IMAGE_SECTION_HEADER))) return false;
      IMAGE_SECTION_HEADER s;
      memcpy(&s, at(entry), sizeof s);
      const DWORD size = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < size) {
        *offset = s.PointerToRawData + (rva - s.VirtualAddress);
        return true;
      }
    }
    return false;
  };
  size_t directory;
  if (exports.VirtualAddress == 0 || !offsetOf(exports.VirtualAddress, &directory) ||
      !fits(directory, sizeof(IMAGE_EXPORT_DIRECTORY))) {
    table.error = "no export directory";
    return table;
  }
  IMAGE_EXPORT_DIRECTORY d;
  memcpy(&d, at(directory), sizeof d);
  table.functions = d.NumberOfFunctions;
  size_t names;
  if (d.NumberOfNames && (!offsetOf(d.AddressOfNames, &names) ||
                          !fits(names, d.NumberOfNames * sizeof(DWORD)))) {
    table.error = "export name table outside the file";
    return table;
  }
  for (DWORD i = 0; i < d.NumberOfNames; ++i) {
    DWORD rva;
    memcpy(&rva, at(names + i * sizeof(DWORD)), sizeof rva);
    size_t name;
    if (!offsetOf(rva, &name) || !fits(name, 1)) {
      table.error = "export name outside the file";
      return table;
    }
    const char* begin = at(name);
    const char* end = static_cast<const char*>(memchr(begin, 0, bytes.size() - name));
    if (!end) {
      table.error = "unterminated export name";
      return table;
    }
    table.names.emplace_back(begin, end);
  }
  table.ok = true;
  return table;
}

std::string BesideThisProgram(const char* file) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + file;
}

TEST(Kestrin1Exports, TheExportTableIsExactlyTheInterface) {
  const ExportTable table = ReadExportTable(BesideThisProgram("Kestrin1.dll"));
  ASSERT_TRUE(table.ok) << table.error;
  std::multiset<std::string> expected;
  for (const char* name : kFlatFunctions) expected.insert(name);
  for (const char* name : kData) expected.insert(name);
  for (const char* name : kMembers) expected.insert(name);
  const std::multiset<std::string> actual(table.names.begin(), table.names.end());
  for (const std::string& name : expected) {
    EXPECT_EQ(actual.count(name), 1u) << "missing: " << name;
  }
  for (const std::string& name : actual) {
    EXPECT_EQ(expected.count(name), 1u) << "extra: " << name;
  }
  // Every export is bound by name: no entry without one.
  EXPECT_EQ(table.functions, table.names.size());
}

}  // namespace
