# Cross-compiles the suite for 64-bit Windows (x64) with MinGW-w64 and runs its
# programs (ctest, test discovery) under Wine's 64-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRIN_MINGW_TRIPLE x86_64-w64-mingw32)
set(KESTRIN_WINDOWS_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
