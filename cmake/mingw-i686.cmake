# Cross-compiles the suite for 32-bit Windows with MinGW-w64 and runs its
# programs (ctest, test discovery) under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

# The -posix thread model: std::thread and std::mutex (and GoogleTest) need it.
set(CMAKE_C_COMPILER   i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  i686-w64-mingw32-windres)
set(KESTRIN_WINDMC     i686-w64-mingw32-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every program runs through the Wine runner, which uses the prefix in
# $WINEPREFIX (test.sh sets up one of the build's own).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../testing/wine-run.sh)
