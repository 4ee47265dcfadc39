// Registry helpers of the tests: plain calls, so that what the service wrote
// is read back without its own routines.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

inline void DeleteTestKey(HKEY root, const char* path) {
  LSTATUS status = RegDeleteTreeA(root, path);
  if (status == ERROR_SUCCESS) RegDeleteKeyA(root, path);
}

inline int KeyExists(HKEY root, const char* path) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  RegCloseKey(key);
  return 1;
}

inline void PutValue(HKEY root, const char* path, const char* name, DWORD type, const void* data,
              DWORD size) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type,
                                          static_cast<const BYTE*>(data), size));
  RegCloseKey(key);
}

struct StoredValue {
  LSTATUS m_Status;
  DWORD m_Type;
  DWORD m_Size;
  uint8_t m_Data[128];
};

inline StoredValue GetValue(HKEY root, const char* path, const char* name) {
  StoredValue v = {};
  v.m_Size = sizeof v.m_Data;
  HKEY key;
  v.m_Status = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
  if (v.m_Status != ERROR_SUCCESS) return v;
  v.m_Status = RegQueryValueExA(key, name, nullptr, &v.m_Type, v.m_Data, &v.m_Size);
  RegCloseKey(key);
  return v;
}

inline DWORD AsDword(const StoredValue& v) {
  DWORD d;
  memcpy(&d, v.m_Data, sizeof d);
  return d;
}

// The text of a REG_SZ value, up to its terminator if it has one.
inline std::string StringValue(HKEY root, const char* path, const char* name) {
  StoredValue v = GetValue(root, path, name);
  if (v.m_Status != ERROR_SUCCESS || v.m_Type != REG_SZ) return "<none>";
  std::string text(reinterpret_cast<const char*>(v.m_Data), v.m_Size);
  return text.substr(0, text.find('\0'));
}

// The service stores texts with a data length of their character count. Wine
// hands such a value back with a terminator added (one byte more); Windows
// gives the length as stored.
inline void ExpectStoredWithoutTerminator(const StoredValue& v, size_t characters) {
  ASSERT_EQ(ERROR_SUCCESS, v.m_Status);
  if (v.m_Size == characters + 1) {
    EXPECT_EQ(0, v.m_Data[characters]);  // Wine
  } else {
    EXPECT_EQ(characters, v.m_Size);
  }
}
