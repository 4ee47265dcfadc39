# Cross-compiles the suite for 32-bit Windows (x86) with MinGW-w64 and runs its
# programs (ctest, test discovery) under Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTRIN_MINGW_TRIPLE i686-w64-mingw32)
set(KESTRIN_WINDOWS_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
