// The library's debug lines: "[Kestrin1] " and the formatted text, with the
// error number and the system's text for it.
#include "connection_private.h"

#include <stdio.h>
#include <string.h>

namespace Kestrin1 {

namespace {
char* g_SystemText = nullptr;  // from FormatMessageA, freed at the next request
constexpr char kPrefix[] = "[Kestrin1] ";
constexpr size_t kLineBytes = 8192;
}  // namespace

void FreeSystemText() {
  if (g_SystemText) LocalFree(g_SystemText);
  g_SystemText = nullptr;
}

const char* SystemText(DWORD error) {
  FreeSystemText();
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  if (!length || !text) return "FormatMessage() failed!";
  if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n') text[length - 2] = 0;
  g_SystemText = text;
  return text;
}

void ReportError(const char* format, DWORD error) {
  char line[kLineBytes];
  memcpy(line, kPrefix, sizeof kPrefix - 1);
  const char* text = SystemText(error);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  snprintf(line + sizeof kPrefix - 1, sizeof line - (sizeof kPrefix - 1), format,
           static_cast<long>(error), text);
#pragma GCC diagnostic pop
  OutputDebugStringA(line);
}

}  // namespace Kestrin1
