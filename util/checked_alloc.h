// Allocation wrappers: the C runtime call and its result, with a failure
// reported by call id (calloc 1, malloc 24, realloc 30). Blocks are freed with
// free(). The Win32 build reports through the debugger output; the native
// build of the pure code links a quiet version.
#pragma once
#include <stddef.h>

void* CallocChecked(size_t count, size_t size);
void* MallocChecked(size_t size);
void* ReallocChecked(void* block, size_t size);
