# What both MinGW-w64 toolchain files share; each sets KESTRIN_MINGW_TRIPLE
# (the compilers' prefix) and KESTRIN_WINDOWS_ARCH (x86 or x64) first.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix thread model: std::thread and std::mutex (and GoogleTest) need it.
set(CMAKE_C_COMPILER   ${KESTRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KESTRIN_MINGW_TRIPLE}-windres)
set(KESTRIN_WINDMC     ${KESTRIN_MINGW_TRIPLE}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every program runs through the Wine runner with the loader of its
# architecture, in the prefix in $WINEPREFIX (test.sh sets up one of the
# build's own).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../testing/wine-run.sh ${KESTRIN_WINDOWS_ARCH})
