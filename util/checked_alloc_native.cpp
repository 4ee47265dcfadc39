// The allocation wrappers of the native build: the pure code's tests run
// without a debugger output, so a failure is only returned.
#include "checked_alloc.h"

#include <stdlib.h>

void* CallocChecked(size_t count, size_t size) { return calloc(count, size); }
void* MallocChecked(size_t size) { return malloc(size); }
void* ReallocChecked(void* block, size_t size) { return realloc(block, size); }
