// Where the applet finds the configuration program: the program-files folder
// followed by kProgramTail, in a buffer of kProgramPathCapacity characters
// (MAX_PATH, the terminating zero included). No windows.h: the bounded append
// is tested natively under the sanitizers too.
#pragma once
#include <cstddef>

constexpr std::size_t kProgramPathCapacity = 260;
constexpr char kProgramTail[] = "\\Pellmor Vastine\\Kestrin\\Kestrin.exe";

// Appends kProgramTail to the zero-terminated folder in buffer, which holds
// capacity characters. When the whole path and its terminating zero do not
// fit (or buffer holds no terminating zero), returns false and leaves buffer
// as it was: a cut path could name another program.
bool AppendProgramTail(char* buffer, std::size_t capacity);
