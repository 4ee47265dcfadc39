// Export and import of the interface library Kestrin1.dll. The library's own
// sources (and the static parts linked into it) are compiled with
// KESTRIN1_BUILD; client programs import. The native build has no DLL.
#pragma once

#if defined(_WIN32)
#  if defined(KESTRIN1_BUILD)
#    define KESTRIN1_API __declspec(dllexport)
#  else
#    define KESTRIN1_API __declspec(dllimport)
#  endif
#else
#  define KESTRIN1_API
#endif

// Flat functions: plain names, arguments removed by the caller.
#define KESTRIN1_FLAT extern "C" KESTRIN1_API
